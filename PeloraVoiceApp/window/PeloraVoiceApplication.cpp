#include "PeloraVoiceApp/window/PeloraVoiceApplication.h"

#include "PeloraVoiceApp/AppIdentity.h"
#include "PeloraVoiceApp/controller/AppViewModel.h"
#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"
#include "PeloraVoiceApp/window/MainWorkspaceView.h"
#include "PeloraVoiceApp/window/MenuBarExtra.h"
#include "PeloraVoiceApp/window/SingleInstance.h"
#include "PeloraVoiceApp/window/WindowResources.h"

#include <QApplication>
#include <QGuiApplication>

#include <cstdio>

namespace pelora {

namespace {
QString qs(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
}  // namespace

void prepareApplicationIdentity() {
    QCoreApplication::setApplicationName(qs(AppIdentity::applicationName));
    QGuiApplication::setApplicationDisplayName(qs(AppIdentity::displayName));
    QGuiApplication::setDesktopFileName(qs(AppIdentity::bundleIdentifier));
}

QIcon applicationIcon() {
    registerWindowResources();
    QIcon own(QStringLiteral(":/app/ai.pelora.PeloraVoice2.svg"));
    return QIcon::fromTheme(qs(AppIdentity::bundleIdentifier), own);
}

PeloraVoiceApp::PeloraVoiceApp(AppViewModel& vm, QObject* parent)
    : QObject(parent),
      vm_(vm),
      adapter_(std::make_unique<AppViewModelQtAdapter>(vm)),
      window_(std::make_unique<MainWorkspaceView>(*adapter_)) {
    tray_ = std::make_unique<MenuBarExtra>(*adapter_, MenuBarExtra::Handlers{
        .showMainWindow = [this] { showMainWindow(SidebarSection::studio); },
        .openSettings = [this] { showMainWindow(SidebarSection::shortcuts); },
        .quit = [this] { quit(); },
    });
    // Closing the window hides it while the tray can bring it back; without a tray it quits.
    window_->setCloseHidesWindow([this] { return tray_->isInTray(); });
    window_->setQuitHandler([this] { quit(); });
}

PeloraVoiceApp::~PeloraVoiceApp() = default;

void PeloraVoiceApp::start() {
    tray_->show();
    window_->openAtDefaultSize();
}

void PeloraVoiceApp::setQuitHandler(std::function<void()> quit) { quit_ = std::move(quit); }

void PeloraVoiceApp::quit() {
    if (quit_)
        quit_();
    else
        QCoreApplication::quit();
}

void PeloraVoiceApp::showMainWindow(SidebarSection section) {
    vm_.setSelectedSection(section);
    window_->presentToFront();
}

int runPeloraVoiceApp(int& argc, char** argv) {
    prepareApplicationIdentity();
    QApplication application(argc, argv);
    // The tray keeps the application alive while its window is closed; quitting is explicit.
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setWindowIcon(applicationIcon());

    // One instance per user session: a later start shows the running one's window.
    SingleInstance instance;
    PeloraVoiceApp* running = nullptr;
    switch (instance.start([&running] {
        if (running) running->showMainWindow(SidebarSection::studio);
    })) {
    case SingleInstance::Role::forwarded:
        return 0;
    case SingleInstance::Role::failed:
        std::fprintf(stderr, "PeloraVoice2: another instance is running but does not answer (%s)\n",
                     instance.problem().c_str());
        return 1;
    case SingleInstance::Role::unguarded:
        std::fprintf(stderr, "PeloraVoice2: running without the one-instance guard: %s\n", instance.problem().c_str());
        break;
    case SingleInstance::Role::primary:
        break;
    }

    AppViewModel vm;
    PeloraVoiceApp app(vm);
    running = &app;
    app.start();
    const int status = QApplication::exec();
    running = nullptr;
    return status;
}

}  // namespace pelora
