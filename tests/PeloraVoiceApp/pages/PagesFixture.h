#pragma once

#include "tests/PeloraVoiceApp/controller/ControllerFakes.h"

#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"
#include "tests/support/QtEventLoop.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QWidget>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>

namespace pelora::pages_testing {

using namespace pelora::controller_testing;

// One QApplication for the program, on the private desktop's display.
inline QApplication& application() {
    static QApplication* app = [] {
        static int argc = 1;
        static char name[] = "pages-tests";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

using pelora::testing::spinUntil;

// The controller over fakes with its Qt adapter, and the settings document it writes.
class PagesFixture : public ControllerFixture {
protected:
    void SetUp() override { application(); }

    AppViewModelQtAdapter& makeAdapter() {
        adapter_.reset();
        make();
        adapter_ = std::make_unique<AppViewModelQtAdapter>(*model);
        return *adapter_;
    }
    void TearDown() override { adapter_.reset(); }

    std::filesystem::path documentFile() const {
        return configHome.path() / "PeloraVoice2/PeloraVoice2.Settings.v2.json";
    }
    // The document as written; null when there is none.
    nlohmann::json document() const {
        std::ifstream in(documentFile(), std::ios::binary);
        if (!in) return nullptr;
        std::stringstream bytes;
        bytes << in.rdbuf();
        return nlohmann::json::parse(bytes.str(), nullptr, false);
    }
    std::string documentBytes() const {
        std::ifstream in(documentFile(), std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

    std::unique_ptr<AppViewModelQtAdapter> adapter_;
};

template <class T = QWidget>
T* child(const QWidget& root, const char* name) {
    T* found = root.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << "no control named " << name;
    return found;
}

// Types text as key presses carrying it (QTest's key clicks take ASCII only).
inline void typeText(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

// Shown as far as the page goes (the page itself need not be on screen).
inline bool shown(const QWidget* widget, const QWidget& page) { return widget && widget->isVisibleTo(&page); }

}  // namespace pelora::pages_testing
