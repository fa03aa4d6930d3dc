#pragma once
// The main window over the real controller (scripted collaborators, a manual clock) and
// the real Qt adapter, in a QApplication on the private test desktop.
#include "tests/PeloraVoiceApp/controller/ControllerFakes.h"

#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"
#include "PeloraVoiceApp/window/PeloraVoiceApplication.h"
#include "tests/support/DesktopTestBed.h"
#include "tests/support/QtEventLoop.h"

#include <QApplication>
#include <QElapsedTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace pelora::window_testing {

using namespace std::chrono_literals;

inline QApplication& desktopApplication() {
    static QApplication* app = [] {
        prepareApplicationIdentity();
        static int argc = 1;
        static char name[] = "window-tests";
        static char* argv[] = {name, nullptr};
        auto* application = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        return application;
    }();
    return *app;
}

using pelora::testing::spinFor;
using pelora::testing::spinUntil;

class WindowFixture : public controller_testing::ControllerFixture {
protected:
    void SetUp() override {
        if (!testing::insideDesktopTestBed()) GTEST_SKIP() << "runs only inside the private test desktop";
        desktopApplication();
        make();
        app = std::make_unique<PeloraVoiceApp>(*model);
        app->setQuitHandler([this] { ++quits; });
    }
    void TearDown() override {
        app.reset();
        QCoreApplication::processEvents();
    }
    AppViewModelQtAdapter& vm() { return app->adapter(); }
    // Every held worker run and every posted answer delivered, until nothing is left.
    void settle() {
        for (int round = 0; round < 10; ++round) {
            scheduler.runPosted();
            if (workers.jobs.empty()) break;
            workers.runAll();
        }
    }

    std::unique_ptr<PeloraVoiceApp> app;
    int quits = 0;
};

}  // namespace pelora::window_testing
