#pragma once

#include "PeloraVoiceApp/window/WorkspacePages.h"

#include <QMainWindow>

#include <functional>

class QAction;
class QActionGroup;
class QDialog;
class QMenu;
class QScrollArea;
class QSplitter;
class QStackedWidget;
class QToolButton;

namespace pelora {

class AppViewModelQtAdapter;
class SidebarView;
class StatusNoticeLine;
class StudioPage;

// The main window: "PeloraVoice 2", at least 880 × 580, opened at 1020 × 680. A splitter
// holds the sidebar and the detail column (the notice line, then the page of the selected
// section); the toolbar has the permission button and the recognition-mode menu; the
// permission sheet is a window-modal dialog bound both ways to the controller's flag. Each
// time the window is shown it boots the engine, then reads the permissions again.
class MainWorkspaceView final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int minimumWidth = 880;
    static constexpr int minimumHeight = 580;
    static constexpr int defaultWidth = 1020;
    static constexpr int defaultHeight = 680;
    static constexpr int sidebarMinimumWidth = 220;
    static constexpr int sidebarIdealWidth = 240;
    static constexpr int sidebarMaximumWidth = 270;
    static constexpr int sheetWidth = 540;
    static constexpr int sheetHeight = 340;

    explicit MainWorkspaceView(AppViewModelQtAdapter& vm, QWidget* parent = nullptr);
    ~MainWorkspaceView() override;

    // Shows the window at its default size, centred on its screen.
    void openAtDefaultSize();
    // Shows it (again), raises it and asks for the input focus.
    void presentToFront();

    // Closing the window: true hides it (the tray can bring it back), false quits.
    void setCloseHidesWindow(std::function<bool()> closeHides) { closeHidesWindow_ = std::move(closeHides); }
    void setQuitHandler(std::function<void()> quit) { quit_ = std::move(quit); }

    WorkspaceViewState& viewState() { return state_; }
    // For the tests and the tray: the parts of the window.
    QMenu* fileMenu() const { return fileMenu_; }
    QAction* openFileAction() const { return openFileAction_; }
    QAction* recordAction() const { return recordAction_; }
    QAction* reinsertAction() const { return reinsertAction_; }
    QAction* quitAction() const { return quitAction_; }
    QAction* permissionAction() const { return permissionAction_; }
    QToolButton* modeButton() const { return modeButton_; }
    QActionGroup* modeActions() const { return modeActions_; }
    QDialog* permissionSheet() const { return sheet_; }
    QSplitter* splitter() const { return splitter_; }
    SidebarView* sidebar() const { return sidebar_; }
    StatusNoticeLine* noticeLine() const { return noticeLine_; }
    StudioPage* studioPage() const { return studio_; }
    QStackedWidget* pages() const { return pages_; }
    QScrollArea* rulesScroll() const { return rulesScroll_; }
    QScrollArea* shortcutsScroll() const { return shortcutsScroll_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenu();
    void buildToolbar();
    void buildSheet();
    void syncCommands();
    void syncSection();
    void syncPermissionButton();
    void syncMode();
    void syncSheet();

    AppViewModelQtAdapter& vm_;
    WorkspaceViewState state_;
    std::function<bool()> closeHidesWindow_;
    std::function<void()> quit_;

    QMenu* fileMenu_ = nullptr;
    QAction* openFileAction_ = nullptr;
    QAction* recordAction_ = nullptr;
    QAction* reinsertAction_ = nullptr;
    QAction* quitAction_ = nullptr;
    QAction* permissionAction_ = nullptr;
    QToolButton* modeButton_ = nullptr;
    QActionGroup* modeActions_ = nullptr;
    QDialog* sheet_ = nullptr;
    QSplitter* splitter_ = nullptr;
    SidebarView* sidebar_ = nullptr;
    StatusNoticeLine* noticeLine_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    StudioPage* studio_ = nullptr;
    QScrollArea* rulesScroll_ = nullptr;
    QScrollArea* shortcutsScroll_ = nullptr;
};

}  // namespace pelora
