#include "PeloraVoiceApp/window/StudioPage.h"

#include "PeloraVoiceApp/controller/AppViewModel.h"
#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"
#include "PeloraVoiceApp/hud/UITheme.h"
#include "PeloraVoiceApp/window/CardFrame.h"
#include "PeloraVoiceApp/window/OutputCard.h"
#include "PeloraVoiceApp/window/ShellTexts.h"
#include "PeloraVoiceApp/window/TileButton.h"
#include "PeloraVoiceApp/window/WindowStyle.h"
#include "PeloraVoiceApp/window/WindowSymbol.h"
#include "PeloraVoiceApp/window/WorkspaceOperations.h"
#include "PeloraVoiceApp/window/WorkspacePages.h"

#include <QDragEnterEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace pelora {

using shell_texts::qs;
namespace style = window_style;

namespace {

QLabel* symbolLabel(const QString& name, double size, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(window_symbol::pixmap(name, size, color, parent->devicePixelRatioF()));
    label->setFixedSize(int(size) + 2, int(size) + 2);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QLabel* textLabel(const QString& text, double size, QFont::Weight weight, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(style::font(size, weight));
    style::setTextColor(label, color);
    return label;
}

// The 48 × 48 circle of the record button with its symbol.
QPixmap recordCircle(bool recording, qreal ratio) {
    QPixmap pixmap(QSize(48, 48) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(recording ? style::withOpacity(style::red(), 0.20) : style::withOpacity(UITheme::Ocean::accent, 0.16));
    painter.drawEllipse(QRectF(0, 0, 48, 48));
    const QPixmap symbol = window_symbol::pixmap(recording ? QStringLiteral("stop.fill") : QStringLiteral("mic.fill"), 20,
                                                 recording ? style::red() : UITheme::Ocean::cyan, ratio);
    painter.drawPixmap(QPointF(14, 14), symbol);
    return pixmap;
}

bool isMediaFormat(const QString& format) {
    return format.startsWith(QLatin1String("audio/")) || format.startsWith(QLatin1String("video/"));
}

}  // namespace

StudioPage::StudioPage(AppViewModelQtAdapter& vm, WorkspaceViewState& state, QWidget* parent)
    : QWidget(parent), vm_(vm), state_(state) {
    setObjectName(QStringLiteral("studioPage"));
    setAcceptDrops(true);
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(20, 20, 20, 20);
    page->setSpacing(14);

    // 1. Permission banner.
    permissionBanner_ = new CardFrame(10, style::withOpacity(style::orange(), 0.10), this);
    permissionBanner_->setOutline(style::withOpacity(style::orange(), 0.35), 1);
    {
        auto* row = new QHBoxLayout(permissionBanner_);
        row->setContentsMargins(14, 10, 14, 10);
        row->setSpacing(12);
        row->addWidget(symbolLabel(QStringLiteral("shield.lefthalf.filled.badge.checkmark"), 16, style::orange(),
                                   permissionBanner_));
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        permissionTitle_ = textLabel(QString(), 12.5, QFont::DemiBold, style::primary(), permissionBanner_);
        permissionTitle_->setWordWrap(true);
        auto* caption = textLabel(QStringLiteral("権限を設定すると、すべてのアプリへシームレスに音声入力できるようになります。"),
                                  11, QFont::Normal, style::secondary(), permissionBanner_);
        caption->setWordWrap(true);
        texts->addWidget(permissionTitle_);
        texts->addWidget(caption);
        row->addLayout(texts, 1);
        permissionButton_ = new QPushButton(QStringLiteral("権限を設定..."), permissionBanner_);
        permissionButton_->setFont(style::font(12, QFont::DemiBold));
        permissionButton_->setCursor(Qt::PointingHandCursor);
        permissionButton_->setStyleSheet(QStringLiteral(
            "QPushButton { color: black; background: rgb(255,148,0); border: none; border-radius: 12px;"
            " padding: 6px 12px; } QPushButton:focus { border: 2px solid palette(highlight); }"));
        row->addWidget(permissionButton_);
        connect(permissionButton_, &QPushButton::clicked, this, [this] { vm_.setIsPermissionSheetPresented(true); });
    }
    page->addWidget(permissionBanner_);

    // 2. Earlier-version warning.
    legacyBanner_ = new CardFrame(10, style::withOpacity(style::orange(), 0.10), this);
    {
        auto* row = new QHBoxLayout(legacyBanner_);
        row->setContentsMargins(14, 9, 14, 9);
        row->setSpacing(10);
        row->addWidget(symbolLabel(QStringLiteral("exclamationmark.arrow.triangle.2.circlepath"), 14, style::orange(),
                                   legacyBanner_));
        auto* text = textLabel(
            QStringLiteral("旧バージョンの PeloraVoice が同時起動しています（ショートカット競合の可能性があります）。"), 12,
            QFont::Medium, style::primary(), legacyBanner_);
        text->setWordWrap(true);
        row->addWidget(text, 1);
        legacyButton_ = new QPushButton(QStringLiteral("旧アプリを終了"), legacyBanner_);
        legacyButton_->setFont(style::font(11));
        row->addWidget(legacyButton_);
        connect(legacyButton_, &QPushButton::clicked, this,
                [this] { workspace_operations::terminateConflictingLegacyApps(vm_); });
    }
    page->addWidget(legacyBanner_);

    // 2b. No Japanese speech model: where it goes, and a new look once it is there.
    speechModelBanner_ = new CardFrame(10, style::withOpacity(style::orange(), 0.10), this);
    speechModelBanner_->setObjectName(QStringLiteral("speechModelBanner"));
    speechModelBanner_->setOutline(style::withOpacity(style::orange(), 0.35), 1);
    {
        auto* row = new QHBoxLayout(speechModelBanner_);
        row->setContentsMargins(14, 10, 14, 10);
        row->setSpacing(12);
        row->addWidget(symbolLabel(QStringLiteral("exclamationmark.triangle.fill"), 16, style::orange(), speechModelBanner_),
                       0, Qt::AlignTop);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        texts->addWidget(textLabel(QStringLiteral("日本語音声モデルが見つかりません"), 12.5, QFont::DemiBold, style::primary(),
                                   speechModelBanner_));
        speechModelText_ = textLabel(QString(), 11, QFont::Normal, style::secondary(), speechModelBanner_);
        speechModelText_->setObjectName(QStringLiteral("speechModelText"));
        speechModelText_->setTextFormat(Qt::PlainText);  // a path may hold anything
        speechModelText_->setWordWrap(true);
        speechModelText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        texts->addWidget(speechModelText_);
        row->addLayout(texts, 1);
        speechModelFolder_ = new QPushButton(QStringLiteral("フォルダを開く"), speechModelBanner_);
        speechModelFolder_->setFont(style::font(11));
        row->addWidget(speechModelFolder_);
        connect(speechModelFolder_, &QPushButton::clicked, this, [] { workspace_operations::openSpeechModelFolder(); });
        speechModelRecheck_ = new QPushButton(QStringLiteral("再確認"), speechModelBanner_);
        speechModelRecheck_->setFont(style::font(11));
        row->addWidget(speechModelRecheck_);
        connect(speechModelRecheck_, &QPushButton::clicked, this, [this] { workspace_operations::bootEngine(vm_); });
    }
    page->addWidget(speechModelBanner_);

    // 3. Error banner.
    errorBanner_ = new CardFrame(10, style::withOpacity(style::orange(), 0.12), this);
    {
        auto* row = new QHBoxLayout(errorBanner_);
        row->setContentsMargins(14, 10, 14, 10);
        row->setSpacing(8);
        row->addWidget(symbolLabel(QStringLiteral("exclamationmark.triangle.fill"), 13, style::orange(), errorBanner_));
        errorText_ = textLabel(QString(), 12, QFont::Medium, style::primary(), errorBanner_);
        errorText_->setTextFormat(Qt::PlainText);  // the message verbatim
        errorText_->setWordWrap(true);
        errorText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        row->addWidget(errorText_, 1);
        errorClose_ = new QPushButton(QStringLiteral("閉じる"), errorBanner_);
        errorClose_->setFlat(true);
        errorClose_->setFont(style::font(11));
        row->addWidget(errorClose_);
        connect(errorClose_, &QPushButton::clicked, this, [this] { workspace_operations::dismissErrorMessage(vm_); });
    }
    page->addWidget(errorBanner_);

    // 4. Record card.
    recordCard_ = new CardFrame(14, style::withOpacity(style::controlBackground(), 0.55), this);
    {
        auto* card = new QHBoxLayout(recordCard_);
        card->setContentsMargins(18, 14, 18, 14);
        card->setSpacing(16);

        recordButton_ = new TileButton(recordCard_);
        recordButton_->setObjectName(QStringLiteral("recordButton"));
        auto* label = new QHBoxLayout(recordButton_);
        label->setContentsMargins(0, 0, 0, 0);
        label->setSpacing(14);
        recordCircle_ = new QLabel(recordButton_);
        recordCircle_->setFixedSize(48, 48);
        label->addWidget(recordCircle_);
        auto* rows = new QVBoxLayout;
        rows->setSpacing(4);
        auto* first = new QHBoxLayout;
        first->setSpacing(8);
        recordTitle_ = textLabel(QString(), 15, QFont::Bold, style::primary(), recordButton_);
        duration_ = new QLabel(recordButton_);
        duration_->setFont(style::monospaced(12, QFont::Bold));
        duration_->setStyleSheet(QStringLiteral("QLabel { color: rgb(255,59,48); background: rgba(255,59,48,36);"
                                                " border-radius: 8px; padding: 2px 7px; }"));
        first->addWidget(recordTitle_);
        first->addWidget(duration_);
        first->addStretch(1);
        auto* second = new QHBoxLayout;
        second->setSpacing(8);
        keyHint_ = textLabel(QString(), 12, QFont::Normal, style::secondary(), recordButton_);
        targetLine_ = new QWidget(recordButton_);
        {
            auto* target = new QHBoxLayout(targetLine_);
            target->setContentsMargins(0, 0, 0, 0);
            target->setSpacing(4);
            auto* middot = textLabel(QStringLiteral("·"), 12, QFont::Normal, style::quaternary(), targetLine_);
            target->addWidget(middot);
            target->addSpacing(4);
            target->addWidget(symbolLabel(QStringLiteral("arrow.up.forward.app"), 10, UITheme::Ocean::cyan, targetLine_));
            targetLabel_ = textLabel(QString(), 11.5, QFont::Medium, UITheme::Ocean::cyan, targetLine_);
            target->addWidget(targetLabel_);
        }
        second->addWidget(keyHint_);
        second->addWidget(targetLine_);
        second->addStretch(1);
        rows->addLayout(first);
        rows->addLayout(second);
        label->addLayout(rows, 1);
        recordButton_->letMouseThrough();
        connect(recordButton_, &TileButton::clicked, &vm_, &AppViewModelQtAdapter::toggleManualRecording);
        card->addWidget(recordButton_, 1);

        auto* divider = new QFrame(recordCard_);
        divider->setFrameShape(QFrame::VLine);
        divider->setFrameShadow(QFrame::Plain);
        divider->setFixedHeight(36);
        style::setTextColor(divider, style::quaternary());
        card->addWidget(divider);

        fileTile_ = new TileButton(recordCard_);
        fileTile_->setObjectName(QStringLiteral("fileTile"));
        fileTile_->setToolTip(QStringLiteral("音声・動画ファイル（WAV, MP3, M4A, MP4, MOV）を選択して文字起こしします"));
        fileTile_->setAccessibleName(QStringLiteral("ファイルを開く..."));
        fileTile_->setAccessibleDescription(fileTile_->toolTip());
        auto* tile = new QHBoxLayout(fileTile_);
        tile->setContentsMargins(14, 9, 14, 9);
        tile->setSpacing(8);
        tile->addWidget(symbolLabel(QStringLiteral("waveform.badge.plus"), 14, UITheme::Ocean::cyan, fileTile_));
        auto* tileTexts = new QVBoxLayout;
        tileTexts->setSpacing(1);
        tileTexts->addWidget(textLabel(QStringLiteral("ファイルを開く..."), 12.5, QFont::DemiBold, style::primary(), fileTile_));
        tileTexts->addWidget(textLabel(QStringLiteral("音声・動画をドロップ"), 10.5, QFont::Normal, style::secondary(), fileTile_));
        tile->addLayout(tileTexts);
        fileTile_->letMouseThrough();
        connect(fileTile_, &TileButton::clicked, this, [this] { workspace_operations::openFilePicker(vm_); });
        card->addWidget(fileTile_);
    }
    page->addWidget(recordCard_);

    // 5. Output card.
    auto* outputFrame = new CardFrame(14, style::withOpacity(style::controlBackground(), 0.35), this);
    outputFrame->setOutline(style::withOpacity(style::primary(), 0.08), 1);
    auto* outputLayout = new QVBoxLayout(outputFrame);
    outputLayout->setContentsMargins(1, 1, 1, 1);
    outputLayout->setSpacing(0);
    output_ = new OutputCard(vm_, outputFrame);
    outputLayout->addWidget(output_);
    page->addWidget(outputFrame, 1);

    connect(&vm_, &AppViewModelQtAdapter::permissionHealthChanged, this, &StudioPage::syncPermission);
    connect(&vm_, &AppViewModelQtAdapter::conflictingLegacyAppsChanged, this, &StudioPage::syncLegacy);
    connect(&vm_, &AppViewModelQtAdapter::speechModelMissingMessageChanged, this, &StudioPage::syncSpeechModel);
    connect(&vm_, &AppViewModelQtAdapter::errorMessageChanged, this, &StudioPage::syncError);
    for (auto signal : {&AppViewModelQtAdapter::isRecordingChanged, &AppViewModelQtAdapter::isTranscribingChanged,
                        &AppViewModelQtAdapter::recordingDurationChanged, &AppViewModelQtAdapter::pushToTalkKeyChanged})
        connect(&vm_, signal, this, &StudioPage::syncRecording);
    connect(&vm_, &AppViewModelQtAdapter::lastExternalAppChanged, this, &StudioPage::syncTarget);
    connect(&vm_, &AppViewModelQtAdapter::capturedTargetAppChanged, this, &StudioPage::syncTarget);
    syncPermission();
    syncLegacy();
    syncSpeechModel();
    syncError();
    syncRecording();
    syncTarget();
}

void StudioPage::syncPermission() {
    const AppViewModel& model = vm_.model();
    permissionBanner_->setVisible(shell_texts::permissionsIncomplete(model));
    permissionTitle_->setText(model.permissionHealth().microphoneAuthorized
                                  ? QStringLiteral("アクセシビリティ権限を有効にすると、入力欄へ直接テキストを自動挿入できます")
                                  : QStringLiteral("マイクの権限が必要です"));
}

void StudioPage::syncLegacy() { legacyBanner_->setVisible(!vm_.model().conflictingLegacyApps().empty()); }

void StudioPage::syncSpeechModel() {
    const auto& message = vm_.model().speechModelMissingMessage();
    speechModelText_->setText(message ? qs(*message) : QString());
    speechModelBanner_->setVisible(message.has_value());
}

void StudioPage::syncError() {
    const auto& message = vm_.model().errorMessage();
    errorText_->setText(message ? qs(*message) : QString());
    errorBanner_->setVisible(message.has_value());
}

void StudioPage::syncRecording() {
    const AppViewModel& model = vm_.model();
    const bool recording = model.isRecording();
    recordCircle_->setPixmap(recordCircle(recording, devicePixelRatioF()));
    recordTitle_->setText(recording ? QStringLiteral("録音中... クリックまたはキーを離して完了")
                                    : QStringLiteral("音声入力を開始"));
    recordButton_->setAccessibleName(recordTitle_->text());
    duration_->setVisible(recording);
    duration_->setText(shell_texts::fixed(model.recordingDuration(), 1) + QStringLiteral("s"));
    keyHint_->setText(QStringLiteral("「") + qs(ptt_shortcut_key::shortBadge(model.pushToTalkKey())) +
                      QStringLiteral("」長押しで録音 · ダブルタップでハンズフリー"));
    fileTile_->setEnabled(!recording && !model.isTranscribing());
    // A drag that hovers while a recording or transcription starts no longer counts.
    if (!fileTile_->isEnabled() && state_.isDropTargeted) setDropTargeted(false);
    syncOutlines();
}

void StudioPage::syncTarget() {
    const QString target = shell_texts::lastTargetAppName(vm_.model());
    targetLabel_->setText(QStringLiteral("入力先: ") + target);
    targetLine_->setVisible(!target.isEmpty());
}

void StudioPage::syncOutlines() {
    const bool recording = vm_.model().isRecording();
    if (recording)
        recordCard_->setOutline(style::withOpacity(style::red(), 0.55), 1.5);
    else if (state_.isDropTargeted)
        recordCard_->setOutline(UITheme::Ocean::cyan, 1.5);
    else
        recordCard_->setOutline(style::withOpacity(style::primary(), 0.09), 1);
    fileTile_->setTile(9, style::withOpacity(style::primary(), 0.05),
                       state_.isDropTargeted ? UITheme::Ocean::cyan : style::withOpacity(style::primary(), 0.10), 1);
}

void StudioPage::setDropTargeted(bool targeted) {
    if (state_.isDropTargeted == targeted) return;
    state_.isDropTargeted = targeted;
    syncOutlines();
}

bool StudioPage::acceptsDrag(const QMimeData* data) const {
    const AppViewModel& model = vm_.model();
    if (!data || model.isRecording() || model.isTranscribing()) return false;
    if (data->hasUrls()) return true;
    for (const QString& format : data->formats())
        if (isMediaFormat(format)) return true;
    return false;
}

void StudioPage::dragEnterEvent(QDragEnterEvent* event) {
    if (!acceptsDrag(event->mimeData())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setDropTargeted(true);
}

void StudioPage::dragMoveEvent(QDragMoveEvent* event) {
    if (!acceptsDrag(event->mimeData())) {
        setDropTargeted(false);
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void StudioPage::dragLeaveEvent(QDragLeaveEvent* event) {
    setDropTargeted(false);
    event->accept();
}

void StudioPage::dropEvent(QDropEvent* event) {
    setDropTargeted(false);
    const QMimeData* data = event->mimeData();
    if (!acceptsDrag(data)) {
        event->ignore();
        return;
    }
    const std::optional<QString> path = droppedFilePath(data);
    if (!path) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    workspace_operations::transcribeAudioFile(vm_, *path);
}

std::optional<QString> StudioPage::droppedFilePath(const QMimeData* data) {
    // The first item only; it must be a local file (data without a file, or a remote URL, is refused).
    if (!data || !data->hasUrls()) return std::nullopt;
    QUrl first;
    const QByteArray list = data->data(QStringLiteral("text/uri-list"));
    if (!list.isEmpty()) {
        // A uri-list may carry comment lines ("#..."), which name no item.
        for (const QByteArray& raw : list.split('\n')) {
            const QByteArray line = raw.trimmed();
            if (line.isEmpty() || line.startsWith('#')) continue;
            first = QUrl::fromEncoded(line);
            break;
        }
    } else if (!data->urls().isEmpty()) {
        first = data->urls().first();
    }
    if (!first.isValid() || !first.isLocalFile()) return std::nullopt;
    const QString path = first.toLocalFile();
    if (path.isEmpty()) return std::nullopt;
    return path;
}

}  // namespace pelora
