#include "PeloraVoiceApp/window/MenuBarExtra.h"

#include "PeloraVoiceApp/controller/AppViewModel.h"
#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"
#include "PeloraVoiceApp/hud/UITheme.h"
#include "PeloraVoiceApp/window/ShellTexts.h"
#include "PeloraVoiceApp/window/WindowStyle.h"
#include "PeloraVoiceApp/window/WindowSymbol.h"
#include "PeloraVoiceApp/window/WorkspaceOperations.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>

namespace pelora {

namespace {
QIcon trayIconFor(bool recording) {
    return recording ? window_symbol::icon(QStringLiteral("record.circle.fill"), window_style::red(), 22)
                     : window_symbol::icon(QStringLiteral("waveform.circle.fill"), UITheme::Ocean::cyan, 22);
}
}  // namespace

MenuBarExtra::MenuBarExtra(AppViewModelQtAdapter& vm, Handlers handlers, QObject* parent)
    : QObject(parent), vm_(vm), handlers_(std::move(handlers)), menu_(std::make_unique<QMenu>()) {
    title_ = menu_->addAction(QStringLiteral("PeloraVoice 2"));
    title_->setFont(window_style::font(13, QFont::DemiBold));
    title_->setEnabled(false);
    status_ = menu_->addAction(QString());
    status_->setFont(window_style::font(11));
    status_->setEnabled(false);
    menu_->addSeparator();
    record_ = menu_->addAction(QString());
    connect(record_, &QAction::triggered, &vm_, &AppViewModelQtAdapter::toggleManualRecording);
    reinsert_ = menu_->addAction(QString());
    connect(reinsert_, &QAction::triggered, this, [this] { workspace_operations::reinsertLastTranscription(vm_, true); });
    openFile_ = menu_->addAction(QStringLiteral("音声ファイルを開く..."));
    connect(openFile_, &QAction::triggered, this, [this] { workspace_operations::openFilePicker(vm_); });
    menu_->addSeparator();
    pushToTalk_ = menu_->addAction(QString());
    pushToTalk_->setCheckable(true);
    connect(pushToTalk_, &QAction::toggled, this, [this](bool on) {
        if (on != vm_.pushToTalkEnabled()) vm_.setPushToTalkEnabled(on);
    });
    autoPaste_ = menu_->addAction(QStringLiteral("フォーカス欄へ自動挿入"));
    autoPaste_->setCheckable(true);
    connect(autoPaste_, &QAction::toggled, this, [this](bool on) {
        if (on != vm_.autoPasteEnabled()) vm_.setAutoPasteEnabled(on);
    });
    menu_->addSeparator();
    showMain_ = menu_->addAction(QStringLiteral("メインウィンドウを表示"));
    connect(showMain_, &QAction::triggered, this, [this] {
        if (handlers_.showMainWindow) handlers_.showMainWindow();
    });
    openSettings_ = menu_->addAction(QStringLiteral("設定を開く..."));
    connect(openSettings_, &QAction::triggered, this, [this] {
        if (handlers_.openSettings) handlers_.openSettings();
    });
    menu_->addSeparator();
    quit_ = menu_->addAction(QStringLiteral("PeloraVoice 2 を終了"));
    quit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit_, &QAction::triggered, this, [this] {
        if (handlers_.quit) handlers_.quit();
    });

    tray_ = std::make_unique<QSystemTrayIcon>();
    tray_->setToolTip(QStringLiteral("PeloraVoice 2"));
    tray_->setContextMenu(menu_.get());  // right click
    connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // A left click opens the same menu.
        if (reason == QSystemTrayIcon::Trigger) menu_->popup(QCursor::pos());
    });

    for (auto signal : {&AppViewModelQtAdapter::isRecordingChanged, &AppViewModelQtAdapter::pushToTalkKeyChanged,
                        &AppViewModelQtAdapter::reinsertShortcutPresetChanged,
                        &AppViewModelQtAdapter::lastTranscribedTextChanged, &AppViewModelQtAdapter::currentResultChanged,
                        &AppViewModelQtAdapter::isEngineLoadedChanged, &AppViewModelQtAdapter::isLoadingEngineChanged,
                        &AppViewModelQtAdapter::engineStatusTextChanged, &AppViewModelQtAdapter::pushToTalkEnabledChanged,
                        &AppViewModelQtAdapter::autoPasteEnabledChanged,
                        &AppViewModelQtAdapter::speechModelMissingMessageChanged})
        connect(&vm_, signal, this, &MenuBarExtra::sync);
    sync();
}

MenuBarExtra::~MenuBarExtra() {
    tray_->hide();
    tray_->setContextMenu(nullptr);
}

bool MenuBarExtra::show() {
    // Shown even without a tray: Qt embeds the icon once a tray appears.
    tray_->show();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

bool MenuBarExtra::isInTray() const { return tray_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable(); }

const char* MenuBarExtra::iconName() const {
    return vm_.isRecording() ? "record.circle.fill" : "waveform.circle.fill";
}

void MenuBarExtra::sync() {
    const AppViewModel& model = vm_.model();
    status_->setText(shell_texts::statusLine(model));
    record_->setText(shell_texts::recordMenuItem(model.isRecording(), model.pushToTalkKey()));
    reinsert_->setText(shell_texts::reinsertMenuItem(model.reinsertShortcutPreset()));
    reinsert_->setEnabled(shell_texts::canReinsert(model));
    pushToTalk_->setText(shell_texts::pushToTalkToggle(model.pushToTalkKey()));
    pushToTalk_->setChecked(model.pushToTalkEnabled());
    autoPaste_->setChecked(model.autoPasteEnabled());
    tray_->setIcon(trayIconFor(model.isRecording()));
}

}  // namespace pelora
