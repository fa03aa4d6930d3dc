#include "PeloraVoiceApp/pages/ShortcutsPageView.h"

#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"
#include "PeloraVoiceApp/hud/UITheme.h"
#include "PeloraVoiceApp/pages/PageStyle.h"
#include "PeloraVoiceApp/pages/PermissionStepRow.h"
#include "PeloraVoiceApp/system/PTTShortcutKey.h"
#include "engine/injection/ReinsertShortcutPreset.h"
#include "engine/recognition/EngineMode.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QVBoxLayout>

namespace pelora::pages {

namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }
QString qs(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

struct ModeLabel {
    EngineMode mode;
    const char* label;
};
constexpr ModeLabel modeLabels[] = {
    {EngineMode::hybridJaEn, "日本語 + 英語用語"},
    {EngineMode::pureEG2English, "英語のみ"},
    {EngineMode::appleSpeechJa, "日本語のみ"},
};

// A setting row: its texts on the left, a 250 pt picker on the right.
QComboBox* addSettingRow(QVBoxLayout* card, QWidget* parent, const char* title, const char* caption,
                         const char* objectName) {
    auto* row = new QHBoxLayout;
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(makeLabel(qs(title), 13, QFont::Medium, false, true, parent));
    if (caption) texts->addWidget(makeLabel(qs(caption), 11.5, QFont::Normal, true, true, parent));
    row->addLayout(texts, 1);
    auto* picker = new QComboBox(parent);
    picker->setObjectName(QString::fromLatin1(objectName));
    picker->setFixedWidth(250);
    row->addWidget(picker, 0, Qt::AlignVCenter);
    card->addLayout(row);
    return picker;
}

QCheckBox* makeToggle(const char* text, const char* objectName, QWidget* parent) {
    auto* box = new QCheckBox(qs(text), parent);
    box->setObjectName(QString::fromLatin1(objectName));
    box->setFont(UITheme::roundedFont(13));
    return box;
}

QPushButton* makeButton(const char* text, const char* objectName, QWidget* parent) {
    auto* button = new QPushButton(qs(text), parent);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setAutoDefault(false);
    button->setFont(UITheme::roundedFont(12));
    return button;
}

// Selects the row whose data is `raw`, without writing anything back.
void select(QComboBox* picker, const QString& raw) {
    QSignalBlocker block(picker);
    picker->setCurrentIndex(picker->findData(raw));
}

}  // namespace

ShortcutsPageView::ShortcutsPageView(AppViewModelQtAdapter& adapter, QWidget* parent)
    : QWidget(parent), adapter_(adapter) {
    setObjectName(QStringLiteral("shortcutsPage"));
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(24, 24, 24, 24);
    page->setSpacing(22);
    page->setAlignment(Qt::AlignTop);
    page->addWidget(makePageHeader(
        qs("ショートカット・設定"),
        qs("音声入力のショートカットキー、テキスト再挿入キー、およびシステムの権限を設定します。"), this));

    // Keys.
    auto* keys = new SettingsCard(14, this);
    keys->content()->addWidget(makeLabel(qs("ショートカットキー"), 14, QFont::DemiBold, false, true, keys));
    pushToTalkKey_ = addSettingRow(keys->content(), keys, "音声入力キー (Push-to-Talk)",
                                   "長押ししている間だけ録音し、離すとテキストを入力します", "pushToTalkKey");
    for (PTTShortcutKey key : ptt_shortcut_key::allCases)
        pushToTalkKey_->addItem(qs(ptt_shortcut_key::displayName(key)), qs(ptt_shortcut_key::rawValue(key)));
    // X11 never reports the Fn key: listed, not selectable (a stored choice still shows).
    if (auto* items = qobject_cast<QStandardItemModel*>(pushToTalkKey_->model())) {
        for (int row = 0; row < pushToTalkKey_->count(); ++row) {
            const auto key = ptt_shortcut_key::fromRawValue(pushToTalkKey_->itemData(row).toString().toStdString());
            if (key && !ptt_shortcut_key::xkbKeyName(*key)) items->item(row)->setEnabled(false);
        }
    }
    connect(pushToTalkKey_, &QComboBox::activated, this,
            [this](int row) { adapter_.setPushToTalkKey(pushToTalkKey_->itemData(row).toString()); });
    doubleTap_ = makeToggle("同じキーのダブルタップでハンズフリー録音に固定する", "doubleTapLockEnabled", keys);
    connect(doubleTap_, &QCheckBox::clicked, &adapter_, &AppViewModelQtAdapter::setDoubleTapToggleEnabled);
    keys->content()->addWidget(doubleTap_);
    keys->content()->addWidget(makeDivider(keys));
    reinsertPreset_ = addSettingRow(keys->content(), keys, "直前のテキストを再挿入",
                                    "フォーカス外れなどで入力欄に入れ損ねた際、もう一度テキストをペーストします",
                                    "reinsertPreset");
    for (ReinsertShortcutPreset preset : reinsert_shortcut_preset::allCases)
        reinsertPreset_->addItem(qs(reinsert_shortcut_preset::displayName(preset)),
                                 qs(reinsert_shortcut_preset::rawValue(preset)));
    connect(reinsertPreset_, &QComboBox::activated, this,
            [this](int row) { adapter_.setReinsertShortcutPreset(reinsertPreset_->itemData(row).toString()); });
    page->addWidget(keys);

    // Recognition and insertion.
    auto* behaviour = new SettingsCard(14, this);
    behaviour->content()->addWidget(makeLabel(qs("音声認識と挿入動作"), 14, QFont::DemiBold, false, true, behaviour));
    engineMode_ = addSettingRow(behaviour->content(), behaviour, "音声認識モード", nullptr, "engineMode");
    for (const ModeLabel& mode : modeLabels) engineMode_->addItem(qs(mode.label), qs(engine_mode::rawValue(mode.mode)));
    connect(engineMode_, &QComboBox::activated, this,
            [this](int row) { adapter_.setEngineMode(engineMode_->itemData(row).toString()); });
    behaviour->content()->addWidget(makeDivider(behaviour));
    auto* toggles = new QVBoxLayout;
    toggles->setSpacing(10);
    autoPaste_ = makeToggle("認識完了時にフォーカスされている入力欄へ自動挿入する", "autoPasteEnabled", behaviour);
    copyToClipboard_ = makeToggle("認識結果テキストをクリップボードにも保持する", "copyToClipboardOnComplete", behaviour);
    sound_ = makeToggle("録音開始・完了時の効果音を鳴らす", "soundFeedbackEnabled", behaviour);
    connect(autoPaste_, &QCheckBox::clicked, &adapter_, &AppViewModelQtAdapter::setAutoPasteEnabled);
    connect(copyToClipboard_, &QCheckBox::clicked, &adapter_, &AppViewModelQtAdapter::setCopyToClipboardOnComplete);
    connect(sound_, &QCheckBox::clicked, &adapter_, &AppViewModelQtAdapter::setSoundFeedbackEnabled);
    for (QCheckBox* box : {autoPaste_, copyToClipboard_, sound_}) toggles->addWidget(box);
    behaviour->content()->addLayout(toggles);
    page->addWidget(behaviour);

    // Permissions.
    auto* permissions = new SettingsCard(14, this);
    auto* heading = new QHBoxLayout;
    heading->addWidget(makeLabel(qs("システム権限ステータス"), 14, QFont::DemiBold, false, false, permissions), 0,
                       Qt::AlignVCenter);
    heading->addStretch(1);
    auto* recheck = makeButton("状態を再確認", "refreshPermissions", permissions);
    connect(recheck, &QPushButton::clicked, &adapter_, &AppViewModelQtAdapter::refreshPermissions);
    heading->addWidget(recheck, 0, Qt::AlignVCenter);
    permissions->content()->addLayout(heading);
    microphone_ = new PermissionStepRow(qs("マイクへのアクセス"), qs("音声入力のためにマイクから音声を取得します"), false,
                                        qs("マイク権限を設定..."), [this] { adapter_.openMicrophoneSettings(); },
                                        permissions);
    microphone_->setObjectName(QStringLiteral("microphonePermission"));
    permissions->content()->addWidget(microphone_);
    permissions->content()->addWidget(makeDivider(permissions));
    accessibility_ = new PermissionStepRow(qs("アクセシビリティ"), qs("他のアプリやブラウザの入力欄へテキストを自動挿入します"),
                                           false, qs("アクセシビリティを設定..."),
                                           [this] { adapter_.requestAndOpenAccessibility(); }, permissions);
    accessibility_->setObjectName(QStringLiteral("accessibilityPermission"));
    permissions->content()->addWidget(accessibility_);
    auto* repairs = new QHBoxLayout;
    repairs->setContentsMargins(0, 2, 0, 0);
    repairs->setSpacing(10);
    auto* guide = makeButton("権限ガイドを開く...", "openPermissionGuide", permissions);
    connect(guide, &QPushButton::clicked, this, [this] { adapter_.setIsPermissionSheetPresented(true); });
    auto* reset = makeButton("権限が反映されない場合のリセット", "resetPermissions", permissions);
    reset->setFlat(true);
    reset->setFont(UITheme::roundedFont(11.5));
    connect(reset, &QPushButton::clicked, this, &ShortcutsPageView::resetPermissions);
    repairs->addWidget(guide);
    repairs->addWidget(reset);
    repairs->addStretch(1);
    permissions->content()->addLayout(repairs);
    page->addWidget(permissions);

    for (auto signal : {&AppViewModelQtAdapter::pushToTalkKeyChanged, &AppViewModelQtAdapter::doubleTapToggleEnabledChanged,
                        &AppViewModelQtAdapter::reinsertShortcutPresetChanged, &AppViewModelQtAdapter::engineModeChanged,
                        &AppViewModelQtAdapter::autoPasteEnabledChanged,
                        &AppViewModelQtAdapter::copyToClipboardOnCompleteChanged,
                        &AppViewModelQtAdapter::soundFeedbackEnabledChanged,
                        &AppViewModelQtAdapter::permissionHealthChanged})
        connect(&adapter_, signal, this, &ShortcutsPageView::syncFromModel);
    syncFromModel();
}

void ShortcutsPageView::syncFromModel() {
    select(pushToTalkKey_, adapter_.pushToTalkKey());
    select(reinsertPreset_, adapter_.reinsertShortcutPreset());
    select(engineMode_, adapter_.engineMode());
    const std::pair<QCheckBox*, bool> checks[] = {
        {doubleTap_, adapter_.doubleTapToggleEnabled()},
        {autoPaste_, adapter_.autoPasteEnabled()},
        {copyToClipboard_, adapter_.copyToClipboardOnComplete()},
        {sound_, adapter_.soundFeedbackEnabled()},
    };
    for (const auto& [box, on] : checks) {
        QSignalBlocker block(box);
        box->setChecked(on);
    }
    const auto health = adapter_.permissionHealth().value<PermissionHealthStatus>();
    microphone_->setGranted(health.microphoneAuthorized);
    accessibility_->setGranted(health.accessibilityTrusted);
}

void ShortcutsPageView::resetPermissions() {
    // The microphone is tried again on its own; the accessibility reset re-reads the
    // permissions and leaves its notice.
    adapter_.resetAndRePromptMicrophone();
    adapter_.resetAndRePromptAccessibility();
}

}  // namespace pelora::pages
