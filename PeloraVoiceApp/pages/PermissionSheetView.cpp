#include "PeloraVoiceApp/pages/PermissionSheetView.h"

#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"
#include "PeloraVoiceApp/hud/UITheme.h"
#include "PeloraVoiceApp/pages/PageStyle.h"
#include "PeloraVoiceApp/pages/PermissionStepRow.h"

#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace pelora::pages {

namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

QPushButton* makeButton(const char* text, const char* objectName, QWidget* parent) {
    auto* button = new QPushButton(qs(text), parent);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setAutoDefault(false);
    button->setFont(UITheme::roundedFont(12));
    return button;
}

}  // namespace

PermissionSheetView::PermissionSheetView(AppViewModelQtAdapter& adapter, QWidget* parent)
    : QWidget(parent), adapter_(adapter) {
    setObjectName(QStringLiteral("permissionSheet"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(18);

    auto* header = new QHBoxLayout;
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(makeLabel(qs("システム権限のセットアップ"), 18, QFont::Bold, false, true, this));
    texts->addWidget(makeLabel(qs("マイクでの音声認識と、他のアプリへのテキスト自動挿入に必要な権限を確認します。"), 12,
                               QFont::Normal, true, true, this));
    header->addLayout(texts, 1);
    auto* close = makeButton("閉じる", "closeSheet", this);
    connect(close, &QPushButton::clicked, this, [this] { adapter_.setIsPermissionSheetPresented(false); });
    // Escape closes exactly as "閉じる" does: no refresh.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(escape, &QShortcut::activated, close, &QPushButton::click);
    header->addWidget(close, 0, Qt::AlignTop);
    column->addLayout(header);
    column->addWidget(makeDivider(this));

    microphone_ = new PermissionStepRow(qs("1. マイク音声取得"), qs("「PeloraVoice 2」にマイクの使用を許可してください。"),
                                        false, qs("マイクを許可する"),
                                        [this] { adapter_.openMicrophoneSettings(); }, this);
    microphone_->setObjectName(QStringLiteral("microphoneStep"));
    column->addWidget(microphone_);
    microphoneRepair_ = new QWidget(this);
    microphoneRepair_->setObjectName(QStringLiteral("microphoneRepair"));
    auto* micRepair = new QHBoxLayout(microphoneRepair_);
    micRepair->setContentsMargins(0, 0, 0, 0);
    micRepair->setSpacing(10);
    auto* micReset = makeButton("マイク権限キャッシュをリセットして再要求", "resetMicrophone", microphoneRepair_);
    // The repair runs on its own; the button does not wait for it.
    connect(micReset, &QPushButton::clicked, &adapter_, &AppViewModelQtAdapter::resetAndRePromptMicrophone);
    micRepair->addWidget(micReset);
    micRepair->addWidget(makeLabel(qs("※ システム設定でONにしても反映されない場合はこちらを押してください"), 11,
                                   QFont::Normal, true, true, microphoneRepair_),
                         1);
    column->addWidget(microphoneRepair_);
    column->addWidget(makeDivider(this));

    accessibility_ = new PermissionStepRow(
        qs("2. アクセシビリティ（自動テキスト挿入）"),
        qs("デスクトップのアクセシビリティ (AT-SPI) を有効にします。有効にした後に起動したアプリへ直接挿入できます。"), false,
        qs("アクセシビリティを有効にする"), [this] { adapter_.requestAndOpenAccessibility(); }, this);
    accessibility_->setObjectName(QStringLiteral("accessibilityStep"));
    column->addWidget(accessibility_);
    accessibilityRepair_ = new QWidget(this);
    accessibilityRepair_->setObjectName(QStringLiteral("accessibilityRepair"));
    auto* axRepair = new QHBoxLayout(accessibilityRepair_);
    axRepair->setContentsMargins(0, 0, 0, 0);
    axRepair->setSpacing(10);
    auto* axReset = makeButton("権限キャッシュをリセットして再登録", "resetAccessibility", accessibilityRepair_);
    connect(axReset, &QPushButton::clicked, &adapter_, &AppViewModelQtAdapter::resetAndRePromptAccessibility);
    auto* reveal = makeButton("ファイルマネージャでアプリを表示", "revealApp", accessibilityRepair_);
    connect(reveal, &QPushButton::clicked, &adapter_, &AppViewModelQtAdapter::revealAppInFinder);
    axRepair->addWidget(axReset);
    axRepair->addWidget(reveal);
    axRepair->addStretch(1);
    column->addWidget(accessibilityRepair_);
    column->addStretch(1);

    auto* footer = new QHBoxLayout;
    footer->addStretch(1);
    auto* done = makeButton("完了", "doneSheet", this);
    done->setFont(UITheme::roundedFont(12, QFont::DemiBold));
    connect(done, &QPushButton::clicked, this, [this] {
        adapter_.refreshPermissions();
        adapter_.setIsPermissionSheetPresented(false);
    });
    footer->addWidget(done);
    column->addLayout(footer);

    connect(&adapter_, &AppViewModelQtAdapter::permissionHealthChanged, this, &PermissionSheetView::syncFromModel);
    syncFromModel();
}

void PermissionSheetView::syncFromModel() {
    const auto health = adapter_.permissionHealth().value<PermissionHealthStatus>();
    microphone_->setGranted(health.microphoneAuthorized);
    microphoneRepair_->setVisible(!health.microphoneAuthorized);
    accessibility_->setGranted(health.accessibilityTrusted);
    accessibilityRepair_->setVisible(!health.accessibilityTrusted);
}

}  // namespace pelora::pages
