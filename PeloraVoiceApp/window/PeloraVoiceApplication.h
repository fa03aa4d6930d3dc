#pragma once

#include "PeloraVoiceApp/controller/SidebarSection.h"

#include <QIcon>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QApplication;

namespace pelora {

class AppViewModel;
class AppViewModelQtAdapter;
class MainWorkspaceView;
class MenuBarExtra;

// The application's name, display name and desktop file name, set before the QApplication
// exists so that every window carries them (WM_CLASS "PeloraVoice2").
void prepareApplicationIdentity();
// Our own application icon (also installed for the desktop's menu).
QIcon applicationIcon();

// The desktop application: the one controller, its Qt adapter and the main window, for
// the life of the process. Main thread only.
class PeloraVoiceApp final : public QObject {
    Q_OBJECT
public:
    // Over a controller made elsewhere (tests); it must outlive this object.
    explicit PeloraVoiceApp(AppViewModel& vm, QObject* parent = nullptr);
    ~PeloraVoiceApp() override;

    AppViewModel& viewModel() { return vm_; }
    AppViewModelQtAdapter& adapter() { return *adapter_; }
    MainWorkspaceView& mainWindow() { return *window_; }
    MenuBarExtra& menuBarExtra() { return *tray_; }

    // Puts the icon in the tray (when the desktop has one) and opens the main window at its
    // default size.
    void start();
    // Selects the page, then shows, raises and activates the main window (shown again when
    // it was closed).
    void showMainWindow(SidebarSection section);
    // Ends the application: the event loop's quit by default.
    void setQuitHandler(std::function<void()> quit);

private:
    void quit();

    AppViewModel& vm_;
    std::unique_ptr<AppViewModelQtAdapter> adapter_;
    std::unique_ptr<MainWorkspaceView> window_;
    std::unique_ptr<MenuBarExtra> tray_;
    std::function<void()> quit_;
};

// The program: QApplication, controller, main window; runs the event loop.
int runPeloraVoiceApp(int& argc, char** argv);

}  // namespace pelora
