#include "PeloraVoiceApp/window/MainWorkspaceView.h"

#include "PeloraVoiceApp/AppIdentity.h"
#include "PeloraVoiceApp/controller/AppViewModel.h"
#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"
#include "PeloraVoiceApp/window/ShellTexts.h"
#include "PeloraVoiceApp/window/SidebarView.h"
#include "PeloraVoiceApp/window/StatusNoticeLine.h"
#include "PeloraVoiceApp/window/StudioPage.h"
#include "PeloraVoiceApp/window/WindowStyle.h"
#include "PeloraVoiceApp/window/WindowSymbol.h"
#include "PeloraVoiceApp/window/WorkspaceOperations.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace pelora {

using shell_texts::qs;

namespace {
constexpr int studioIndex = 0;
constexpr int rulesIndex = 1;
constexpr int shortcutsIndex = 2;

QScrollArea* scrolling(QWidget* page, QWidget* parent) {
    auto* scroll = new QScrollArea(parent);
    scroll->setWidget(page);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return scroll;
}
}  // namespace

MainWorkspaceView::MainWorkspaceView(AppViewModelQtAdapter& vm, QWidget* parent) : QMainWindow(parent), vm_(vm) {
    setWindowTitle(qs(AppIdentity::displayName));
    setMinimumSize(minimumWidth, minimumHeight);
    resize(defaultWidth, defaultHeight);

    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setChildrenCollapsible(false);
    sidebar_ = new SidebarView(vm_, splitter_);
    sidebar_->setMinimumWidth(sidebarMinimumWidth);
    sidebar_->setMaximumWidth(sidebarMaximumWidth);

    auto* detail = new QWidget(splitter_);
    detail->setObjectName(QStringLiteral("detailColumn"));
    detail->setAutoFillBackground(true);
    auto* detailLayout = new QVBoxLayout(detail);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->setSpacing(0);
    noticeLine_ = new StatusNoticeLine(vm_, detail);
    pages_ = new QStackedWidget(detail);
    studio_ = new StudioPage(vm_, state_, pages_);
    rulesScroll_ = scrolling(makeRulesPage(vm_, state_, nullptr), pages_);
    shortcutsScroll_ = scrolling(makeShortcutsPage(vm_, state_, nullptr), pages_);
    pages_->insertWidget(studioIndex, studio_);
    pages_->insertWidget(rulesIndex, rulesScroll_);
    pages_->insertWidget(shortcutsIndex, shortcutsScroll_);
    detailLayout->addWidget(noticeLine_);
    detailLayout->addWidget(pages_, 1);

    splitter_->addWidget(sidebar_);
    splitter_->addWidget(detail);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({sidebarIdealWidth, defaultWidth - sidebarIdealWidth});
    setCentralWidget(splitter_);

    buildMenu();
    buildToolbar();
    buildSheet();

    connect(&vm_, &AppViewModelQtAdapter::selectedSectionChanged, this, &MainWorkspaceView::syncSection);
    connect(&vm_, &AppViewModelQtAdapter::permissionHealthChanged, this, &MainWorkspaceView::syncPermissionButton);
    connect(&vm_, &AppViewModelQtAdapter::engineModeChanged, this, &MainWorkspaceView::syncMode);
    connect(&vm_, &AppViewModelQtAdapter::isPermissionSheetPresentedChanged, this, &MainWorkspaceView::syncSheet);
    for (auto signal : {&AppViewModelQtAdapter::isRecordingChanged, &AppViewModelQtAdapter::reinsertShortcutPresetChanged,
                        &AppViewModelQtAdapter::lastTranscribedTextChanged, &AppViewModelQtAdapter::currentResultChanged})
        connect(&vm_, signal, this, &MainWorkspaceView::syncCommands);
    syncCommands();
    syncSection();
    syncPermissionButton();
    syncMode();
}

MainWorkspaceView::~MainWorkspaceView() = default;

void MainWorkspaceView::buildMenu() {
    fileMenu_ = menuBar()->addMenu(QStringLiteral("ファイル"));
    openFileAction_ = fileMenu_->addAction(QStringLiteral("音声ファイルを開く..."));
    openFileAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(openFileAction_, &QAction::triggered, this, [this] { workspace_operations::openFilePicker(vm_); });
    recordAction_ = fileMenu_->addAction(QString());
    recordAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(recordAction_, &QAction::triggered, &vm_, &AppViewModelQtAdapter::toggleManualRecording);
    reinsertAction_ = fileMenu_->addAction(QString());
    connect(reinsertAction_, &QAction::triggered, this,
            [this] { workspace_operations::reinsertLastTranscription(vm_, true); });
    fileMenu_->addSeparator();
    quitAction_ = fileMenu_->addAction(QStringLiteral("PeloraVoice 2 を終了"));
    quitAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quitAction_->setMenuRole(QAction::QuitRole);
    connect(quitAction_, &QAction::triggered, this, [this] {
        if (quit_) quit_();
    });
}

void MainWorkspaceView::buildToolbar() {
    auto* toolbar = addToolBar(QStringLiteral("ツールバー"));
    toolbar->setObjectName(QStringLiteral("workspaceToolbar"));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->toggleViewAction()->setVisible(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    auto* spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);

    permissionAction_ = toolbar->addAction(
        window_symbol::icon(QStringLiteral("exclamationmark.shield.fill"), window_style::orange(), 14),
        QStringLiteral("権限設定が必要"));
    permissionAction_->setToolTip(QStringLiteral("マイクとアクセシビリティの権限を設定します"));
    if (auto* button = qobject_cast<QToolButton*>(toolbar->widgetForAction(permissionAction_)))
        window_style::setTextColor(button, window_style::orange());
    connect(permissionAction_, &QAction::triggered, this, [this] { vm_.setIsPermissionSheetPresented(true); });

    modeButton_ = new QToolButton(toolbar);
    modeButton_->setObjectName(QStringLiteral("modeMenuButton"));
    modeButton_->setPopupMode(QToolButton::InstantPopup);
    modeButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    modeButton_->setIcon(window_symbol::icon(QStringLiteral("waveform"), window_style::primary(), 11));
    modeButton_->setFont(window_style::font(12, QFont::Medium));
    modeButton_->setToolTip(QStringLiteral("音声認識モードを切り替えます"));
    auto* menu = new QMenu(modeButton_);
    menu->addSection(QStringLiteral("認識モード"));
    modeActions_ = new QActionGroup(menu);
    modeActions_->setExclusive(true);
    for (EngineMode mode : engine_mode::allCases) {
        QAction* action = menu->addAction(shell_texts::modeLabel(mode));
        action->setCheckable(true);
        action->setData(qs(engine_mode::rawValue(mode)));
        modeActions_->addAction(action);
    }
    connect(modeActions_, &QActionGroup::triggered, this,
            [this](QAction* action) { vm_.setEngineMode(action->data().toString()); });
    modeButton_->setMenu(menu);
    toolbar->addWidget(modeButton_);
}

void MainWorkspaceView::buildSheet() {
    sheet_ = new QDialog(this);
    sheet_->setObjectName(QStringLiteral("permissionSheet"));
    sheet_->setWindowModality(Qt::WindowModal);
    sheet_->setWindowTitle(QStringLiteral("権限設定"));
    sheet_->setFixedSize(sheetWidth, sheetHeight);
    auto* layout = new QVBoxLayout(sheet_);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(18);
    layout->addWidget(makePermissionSheetContent(vm_, sheet_));
    // However it goes away (Escape, the window manager's close, a button), the flag follows.
    connect(sheet_, &QDialog::finished, this, [this] { vm_.setIsPermissionSheetPresented(false); });
}

void MainWorkspaceView::syncCommands() {
    const AppViewModel& model = vm_.model();
    recordAction_->setText(shell_texts::recordCommand(model.isRecording()));
    reinsertAction_->setText(shell_texts::reinsertCommand(model.reinsertShortcutPreset()));
    reinsertAction_->setEnabled(shell_texts::canReinsert(model));
}

void MainWorkspaceView::syncSection() {
    switch (vm_.model().selectedSection()) {
        case SidebarSection::studio: pages_->setCurrentIndex(studioIndex); break;
        case SidebarSection::rules: pages_->setCurrentIndex(rulesIndex); break;
        case SidebarSection::shortcuts: pages_->setCurrentIndex(shortcutsIndex); break;
    }
}

void MainWorkspaceView::syncPermissionButton() {
    permissionAction_->setVisible(shell_texts::permissionsIncomplete(vm_.model()));
}

void MainWorkspaceView::syncMode() {
    const EngineMode mode = vm_.model().engineMode();
    modeButton_->setText(shell_texts::modeLabel(mode));
    for (QAction* action : modeActions_->actions())
        action->setChecked(action->data().toString() == qs(engine_mode::rawValue(mode)));
}

void MainWorkspaceView::syncSheet() {
    const bool presented = vm_.isPermissionSheetPresented();
    if (presented && isVisible() && !sheet_->isVisible())
        sheet_->open();
    else if (!presented && sheet_->isVisible())
        sheet_->close();
}

void MainWorkspaceView::openAtDefaultSize() {
    resize(defaultWidth, defaultHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
}

void MainWorkspaceView::presentToFront() {
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void MainWorkspaceView::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (event->spontaneous()) return;  // the window manager mapping it again, not us showing it
    vm_.bootEngine();
    workspace_operations::refreshPermissions(vm_);
    syncSheet();
}

void MainWorkspaceView::closeEvent(QCloseEvent* event) {
    if (closeHidesWindow_ && closeHidesWindow_()) {
        // The tray brings it back; the values the pages hold stay with it.
        event->accept();
        hide();
        return;
    }
    event->accept();
    if (quit_) quit_();
}

}  // namespace pelora
