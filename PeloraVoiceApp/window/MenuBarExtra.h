#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace pelora {

class AppViewModelQtAdapter;

// The tray icon (XEmbed tray) and its menu of fourteen elements: title, status line, record,
// reinsert, open file, the push-to-talk and auto-insert toggles, show the main window, open
// the settings, quit. The menu opens on a left or a right click. Two icons of ours: a
// recording dot while recording, a waveform otherwise.
class MenuBarExtra final : public QObject {
    Q_OBJECT
public:
    struct Handlers {
        std::function<void()> showMainWindow;  // "メインウィンドウを表示"
        std::function<void()> openSettings;    // "設定を開く..."
        std::function<void()> quit;            // "PeloraVoice 2 を終了"
    };

    MenuBarExtra(AppViewModelQtAdapter& vm, Handlers handlers, QObject* parent = nullptr);
    ~MenuBarExtra() override;

    // Shows the icon (it goes into a tray that appears later too); false while the desktop has no tray.
    bool show();
    // True while the icon sits in a tray.
    bool isInTray() const;

    QSystemTrayIcon* trayIcon() const { return tray_.get(); }
    QMenu* menu() const { return menu_.get(); }
    QAction* titleItem() const { return title_; }
    QAction* statusItem() const { return status_; }
    QAction* recordItem() const { return record_; }
    QAction* reinsertItem() const { return reinsert_; }
    QAction* openFileItem() const { return openFile_; }
    QAction* pushToTalkItem() const { return pushToTalk_; }
    QAction* autoPasteItem() const { return autoPaste_; }
    QAction* showMainWindowItem() const { return showMain_; }
    QAction* openSettingsItem() const { return openSettings_; }
    QAction* quitItem() const { return quit_; }
    // The name of the icon shown: "record.circle.fill" or "waveform.circle.fill".
    const char* iconName() const;

private:
    void sync();

    AppViewModelQtAdapter& vm_;
    Handlers handlers_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QAction* title_ = nullptr;
    QAction* status_ = nullptr;
    QAction* record_ = nullptr;
    QAction* reinsert_ = nullptr;
    QAction* openFile_ = nullptr;
    QAction* pushToTalk_ = nullptr;
    QAction* autoPaste_ = nullptr;
    QAction* showMain_ = nullptr;
    QAction* openSettings_ = nullptr;
    QAction* quit_ = nullptr;
};

}  // namespace pelora
