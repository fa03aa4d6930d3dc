#include "PeloraVoiceApp/window/OutputCard.h"

#include "PeloraVoiceApp/controller/AppViewModel.h"
#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"
#include "PeloraVoiceApp/hud/UITheme.h"
#include "PeloraVoiceApp/window/ShellTexts.h"
#include "PeloraVoiceApp/window/TimestampListModel.h"
#include "PeloraVoiceApp/window/WindowStyle.h"
#include "PeloraVoiceApp/window/WindowSymbol.h"
#include "PeloraVoiceApp/window/WorkspaceOperations.h"

#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabBar>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <string_view>

namespace pelora {

using shell_texts::qs;
namespace style = window_style;

namespace {

// Results longer than this (UTF-8 bytes, about a thousand Japanese characters) fill their
// tab body on the next turn of the main loop.
constexpr std::size_t longTextBytes = 3000;

enum BodyPage { placeholderPage = 0, formattedPageIndex = 1, timestampsPageIndex = 2, srtPageIndex = 3 };

constexpr std::array<std::string_view, 6> autoReplacePrefixes{
    "MIRK", "音韻距離補正", "同音異義語補正", "文脈辞書補正", "オンデバイス文脈補正", "EG2音響照合"};

QLabel* label(const QString& text, double size, QFont::Weight weight, const QColor& color, QWidget* parent) {
    auto* result = new QLabel(text, parent);
    result->setFont(style::font(size, weight));
    style::setTextColor(result, color);
    return result;
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    style::setTextColor(line, style::quaternary());
    return line;
}

// Read-only text the user can select, without a frame or a background of its own, that
// lets drops through to the page.
template <class Edit>
void readOnly(Edit* edit) {
    edit->setReadOnly(true);
    edit->setFrameShape(QFrame::NoFrame);
    edit->setAcceptDrops(false);
    edit->viewport()->setAcceptDrops(false);
    edit->viewport()->setAutoFillBackground(false);
    edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

}  // namespace

OutputCard::OutputCard(AppViewModelQtAdapter& vm, QWidget* parent) : QWidget(parent), vm_(vm) {
    setObjectName(QStringLiteral("outputCard"));
    // A timer rather than a queued call: the completion that delivered the result and the
    // widgets' reactions to it are posted events, and a queued fill would follow them without
    // the timers and animations of the main loop getting a turn in between.
    longFill_ = new QTimer(this);
    longFill_->setSingleShot(true);
    longFill_->setInterval(0);
    connect(longFill_, &QTimer::timeout, this, [this] {
        // Layouts changed by the same completion (the sidebar's new history row can move the
        // splitter) settle first, so the long text is laid out once, at its final width.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        syncTab();
    });
    auto* card = new QVBoxLayout(this);
    card->setContentsMargins(0, 0, 0, 0);
    card->setSpacing(0);

    // 1. Header.
    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 12, 16, 12);
    header->setSpacing(12);
    tabs_ = new QTabBar(this);
    tabs_->setObjectName(QStringLiteral("outputTabs"));
    tabs_->setDrawBase(false);
    tabs_->setExpanding(true);
    tabs_->setAccessibleName(QStringLiteral("表示形式"));
    for (OutputTab tab : output_tab::allCases) {
        const int index = tabs_->addTab(qs(output_tab::rawValue(tab)));
        tabs_->setTabData(index, qs(output_tab::rawValue(tab)));
    }
    tabs_->setFixedWidth(260);
    connect(tabs_, &QTabBar::currentChanged, this, [this](int index) {
        if (index >= 0) vm_.setSelectedOutputTab(tabs_->tabData(index).toString());
    });
    header->addWidget(tabs_);

    busy_ = new QWidget(this);
    {
        auto* row = new QHBoxLayout(busy_);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(6);
        busyBar_ = new QProgressBar(busy_);
        busyBar_->setObjectName(QStringLiteral("transcriptionProgress"));
        busyBar_->setRange(0, 0);  // indeterminate until a file's stage tells how far it is
        busyBar_->setTextVisible(false);
        busyBar_->setFixedSize(48, 8);
        busyBar_->setAccessibleName(QStringLiteral("文字起こし中"));
        row->addWidget(busyBar_);
        busyText_ = label(QStringLiteral("文字起こし中..."), 12, QFont::Medium, style::secondary(), busy_);
        row->addWidget(busyText_);
    }
    header->addWidget(busy_);
    timing_ = new QLabel(this);
    timing_->setObjectName(QStringLiteral("timingSummary"));
    timing_->setFont(style::monospaced(11.5, QFont::Medium));
    style::setTextColor(timing_, style::secondary());
    header->addWidget(timing_);
    header->addStretch(1);

    reinsert_ = new QPushButton(this);
    reinsert_->setObjectName(QStringLiteral("reinsertButton"));
    reinsert_->setIcon(window_symbol::icon(QStringLiteral("arrow.uturn.forward"), UITheme::Ocean::cyan, 11));
    reinsert_->setFont(style::font(12, QFont::DemiBold));
    reinsert_->setCursor(Qt::PointingHandCursor);
    reinsert_->setStyleSheet(QStringLiteral(
        "QPushButton { color: %1; background: %2; border: none; border-radius: 7px; padding: 5px 11px; }"
        " QPushButton:disabled { color: palette(mid); } QPushButton:focus { border: 2px solid palette(highlight); }")
                                 .arg(style::css(UITheme::Ocean::cyan),
                                      style::css(style::withOpacity(UITheme::Ocean::accent, 0.18))));
    connect(reinsert_, &QPushButton::clicked, this, [this] { workspace_operations::reinsertLastTranscription(vm_, true); });
    header->addWidget(reinsert_);

    copy_ = new QPushButton(QStringLiteral("コピー"), this);
    copy_->setObjectName(QStringLiteral("copyButton"));
    copy_->setIcon(window_symbol::icon(QStringLiteral("doc.on.doc"), style::primary(), 11));
    copy_->setFont(style::font(12, QFont::Medium));
    copy_->setCursor(Qt::PointingHandCursor);
    copy_->setStyleSheet(QStringLiteral(
        "QPushButton { background: %1; border: none; border-radius: 7px; padding: 5px 10px; }"
        " QPushButton:focus { border: 2px solid palette(highlight); }")
                             .arg(style::css(style::withOpacity(style::primary(), 0.06))));
    connect(copy_, &QPushButton::clicked, this, [this] {
        const AppViewModel& model = vm_.model();
        if (model.currentResult())
            workspace_operations::copyText(qs(model.currentResult()->text));
        else if (const auto text = shell_texts::availableReinsertText(model))
            workspace_operations::copyText(*text);
    });
    header->addWidget(copy_);
    card->addLayout(header);

    // 2. Divider.
    card->addWidget(divider(this));

    // 3. Body.
    body_ = new QStackedWidget(this);
    placeholder_ = new QWidget(body_);
    {
        auto* column = new QVBoxLayout(placeholder_);
        column->setContentsMargins(32, 32, 32, 32);
        column->setSpacing(12);
        column->addStretch(1);
        auto* symbol = new QLabel(placeholder_);
        symbol->setPixmap(window_symbol::pixmap(QStringLiteral("waveform.and.mic"), 32,
                                                style::withOpacity(UITheme::Ocean::cyan, 0.75), devicePixelRatioF()));
        symbol->setAlignment(Qt::AlignCenter);
        column->addWidget(symbol);
        placeholderHint_ = label(QString(), 14, QFont::Medium, style::secondary(), placeholder_);
        placeholderHint_->setAlignment(Qt::AlignCenter);
        placeholderHint_->setWordWrap(true);
        column->addWidget(placeholderHint_);
        auto* note = label(QStringLiteral("認識されたテキストは現在フォーカスされている入力欄へ自動的に挿入されます。"), 12,
                           QFont::Normal, style::tertiary(), placeholder_);
        note->setAlignment(Qt::AlignCenter);
        note->setWordWrap(true);
        column->addWidget(note);
        column->addStretch(1);
    }
    body_->insertWidget(placeholderPage, placeholder_);

    formattedPage_ = new QWidget(body_);
    {
        auto* column = new QVBoxLayout(formattedPage_);
        column->setContentsMargins(20, 20, 20, 20);
        column->setSpacing(14);
        formatted_ = new QTextEdit(formattedPage_);
        formatted_->setObjectName(QStringLiteral("formattedText"));
        readOnly(formatted_);
        formatted_->setFont(style::font(16));
        formatted_->setAccessibleName(QStringLiteral("テキスト"));
        formatted_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    formatted_->setUndoRedoEnabled(false);
        column->addWidget(formatted_, 1);
        autoReplaceChip_ = new QWidget(formattedPage_);
        autoReplaceChip_->setObjectName(QStringLiteral("autoReplaceChip"));
        autoReplaceChip_->setAttribute(Qt::WA_StyledBackground);
        autoReplaceChip_->setStyleSheet(QStringLiteral("QWidget#autoReplaceChip { background: %1; border-radius: 7px; }")
                                            .arg(style::css(style::withOpacity(UITheme::Ocean::accent, 0.12))));
        auto* chip = new QHBoxLayout(autoReplaceChip_);
        chip->setContentsMargins(10, 5, 10, 5);
        chip->setSpacing(6);
        auto* bolt = new QLabel(autoReplaceChip_);
        bolt->setPixmap(window_symbol::pixmap(QStringLiteral("bolt.sparkles.fill"), 11, UITheme::Ocean::cyan, devicePixelRatioF()));
        chip->addWidget(bolt, 0, Qt::AlignTop);
        autoReplace_ = label(QString(), 11.5, QFont::Medium, style::secondary(), autoReplaceChip_);
        autoReplace_->setObjectName(QStringLiteral("autoReplaceLine"));
        autoReplace_->setWordWrap(true);
        chip->addWidget(autoReplace_, 1);
        column->addWidget(autoReplaceChip_);
    }
    body_->insertWidget(formattedPageIndex, formattedPage_);

    timestampPage_ = new QStackedWidget(body_);
    timestampModel_ = new TimestampListModel(this);
    timestamps_ = new QListView(timestampPage_);
    timestamps_->setObjectName(QStringLiteral("timestampList"));
    timestamps_->setModel(timestampModel_);
    timestamps_->setItemDelegate(new TimestampRowDelegate(timestamps_));
    timestamps_->setUniformItemSizes(true);
    timestamps_->setFrameShape(QFrame::NoFrame);
    timestamps_->setAcceptDrops(false);
    timestamps_->viewport()->setAutoFillBackground(false);
    timestamps_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    timestamps_->setAccessibleName(QStringLiteral("タイムスタンプ"));
    noTimestamps_ = label(QStringLiteral("タイムスタンプ情報がありません"), 13, QFont::Normal, style::secondary(), timestampPage_);
    noTimestamps_->setContentsMargins(36, 36, 36, 36);
    noTimestamps_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* listHolder = new QWidget(timestampPage_);
    auto* holderLayout = new QVBoxLayout(listHolder);
    holderLayout->setContentsMargins(16, 16, 0, 0);
    holderLayout->addWidget(timestamps_);
    timestampPage_->addWidget(listHolder);
    timestampPage_->addWidget(noTimestamps_);
    body_->insertWidget(timestampsPageIndex, timestampPage_);

    srt_ = new QPlainTextEdit(body_);
    srt_->setObjectName(QStringLiteral("srtText"));
    readOnly(srt_);
    srt_->setFont(style::monospaced(12.5));
    srt_->setAccessibleName(QStringLiteral("SRT字幕"));
    srt_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    srt_->setUndoRedoEnabled(false);
    srt_->document()->setDocumentMargin(20);
    body_->insertWidget(srtPageIndex, srt_);
    card->addWidget(body_, 1);

    // 4. Footer.
    footer_ = new QWidget(this);
    footer_->setObjectName(QStringLiteral("outputFooter"));
    {
        auto* column = new QVBoxLayout(footer_);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        column->addWidget(divider(footer_));
        auto* strip = new QWidget(footer_);
        strip->setAutoFillBackground(true);
        QPalette palette = strip->palette();
        palette.setColor(QPalette::Window, style::withOpacity(style::controlBackground(), 0.25));
        strip->setPalette(palette);
        auto* row = new QHBoxLayout(strip);
        row->setContentsMargins(16, 9, 16, 9);
        row->setSpacing(8);
        outcomeIcon_ = new QLabel(strip);
        outcomeText_ = label(QString(), 11.5, QFont::Medium, style::secondary(), strip);
        footerHint_ = label(QString(), 11, QFont::Normal, style::tertiary(), strip);
        row->addWidget(outcomeIcon_);
        row->addWidget(outcomeText_);
        row->addStretch(1);
        row->addWidget(footerHint_);
        column->addWidget(strip);
    }
    card->addWidget(footer_);

    connect(&vm_, &AppViewModelQtAdapter::selectedOutputTabChanged, this, &OutputCard::syncTab);
    connect(&vm_, &AppViewModelQtAdapter::isTranscribingChanged, this, &OutputCard::syncStatus);
    connect(&vm_, &AppViewModelQtAdapter::fileTranscriptionProgressChanged, this, &OutputCard::syncStatus);
    connect(&vm_, &AppViewModelQtAdapter::currentResultChanged, this, &OutputCard::syncResult);
    for (auto signal : {&AppViewModelQtAdapter::lastTranscribedTextChanged, &AppViewModelQtAdapter::historyChanged,
                        &AppViewModelQtAdapter::lastInjectionOutcomeChanged,
                        &AppViewModelQtAdapter::reinsertShortcutPresetChanged}) {
        connect(&vm_, signal, this, &OutputCard::syncButtons);
        connect(&vm_, signal, this, &OutputCard::syncFooter);
    }
    connect(&vm_, &AppViewModelQtAdapter::pushToTalkKeyChanged, this, &OutputCard::syncPlaceholder);
    syncPlaceholder();
    syncResult();
}

OutputCard::~OutputCard() = default;

QString OutputCard::timingSummary(double audioDurationSeconds, double totalProcessingMs) {
    const double seconds = totalProcessingMs / 1000.0;
    const double speed = totalProcessingMs > 0 ? audioDurationSeconds / seconds : 0;
    return shell_texts::fixed(audioDurationSeconds, 1) + QStringLiteral("秒の音声 · ") + shell_texts::fixed(seconds, 2) +
           QStringLiteral("秒で処理 (") + shell_texts::fixed(speed, 0) + QStringLiteral("×)");
}

QStringList OutputCard::autoReplaceLabels(const std::vector<std::string>& annotations) {
    QStringList labels;
    for (const std::string& annotation : annotations) {
        for (std::string_view prefix : autoReplacePrefixes) {
            if (std::string_view(annotation).starts_with(prefix)) {
                labels.push_back(qs(annotation));
                break;
            }
        }
    }
    return labels;
}

void OutputCard::syncTab() {
    const AppViewModel& model = vm_.model();
    const OutputTab tab = model.selectedOutputTab();
    const int index = static_cast<int>(tab);
    if (tabs_->currentIndex() != index) {
        const QSignalBlocker quiet(tabs_);
        tabs_->setCurrentIndex(index);
    }
    if (!model.currentResult()) {
        body_->setCurrentIndex(placeholderPage);
        return;
    }
    fillBody(index);
    switch (tab) {
        case OutputTab::formatted: body_->setCurrentIndex(formattedPageIndex); break;
        case OutputTab::timestamps: body_->setCurrentIndex(timestampsPageIndex); break;
        case OutputTab::srt: body_->setCurrentIndex(srtPageIndex); break;
    }
}

QString OutputCard::transcribingText(const std::optional<FileTranscriptionProgress>& progress) {
    if (!progress || !progress->fraction) return QStringLiteral("文字起こし中...");
    const QString stage = progress->phase == FileTranscriptionProgress::Phase::decoding ? QStringLiteral("読み込み ")
                                                                                       : QStringLiteral("認識 ");
    return QStringLiteral("文字起こし中... ") + stage + QString::number(percent(*progress->fraction)) + QStringLiteral("%");
}

int OutputCard::percent(double fraction) {
    // Whole percent, rounded down: 100 % only once the stage is done.
    return static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100.0 + 1e-9));
}

void OutputCard::syncStatus() {
    const AppViewModel& model = vm_.model();
    busy_->setVisible(model.isTranscribing());
    const auto& progress = model.fileTranscriptionProgress();
    busyText_->setText(transcribingText(progress));
    if (progress && progress->fraction) {
        busyBar_->setRange(0, 100);
        busyBar_->setValue(percent(*progress->fraction));
    } else {
        busyBar_->setRange(0, 0);
    }
    const auto& result = model.currentResult();
    timing_->setVisible(!model.isTranscribing() && result.has_value());
    if (result) timing_->setText(timingSummary(result->telemetry.audioDurationSeconds, result->telemetry.totalProcessingMs));
}

void OutputCard::syncResult() {
    filled_ = {};
    const auto& result = vm_.model().currentResult();
    if (!result) {
        formatted_->clear();
        autoReplaceChip_->hide();
        timestampModel_->setWords({});
        srt_->clear();
    }
    if (result && result->text.size() > longTextBytes) {
        // A long result (minutes of speech) is laid out on a later turn of the main loop, so
        // its layout and the completion that delivered it are not one long stall; whatever
        // result is current then is the one filled.
        longFill_->start();
    } else {
        syncTab();
    }
    syncStatus();
    syncButtons();
    syncFooter();
}

void OutputCard::fillBody(int tab) {
    const auto& result = vm_.model().currentResult();
    if (!result || filled_[static_cast<std::size_t>(tab)]) return;
    filled_[static_cast<std::size_t>(tab)] = true;
    switch (static_cast<OutputTab>(tab)) {
        case OutputTab::formatted: {
            // The line spacing is set before the text goes in, so a long text is laid out once.
            formatted_->clear();
            QTextCursor cursor(formatted_->document());
            QTextBlockFormat spacing;
            spacing.setLineHeight(7, QTextBlockFormat::LineDistanceHeight);
            cursor.setBlockFormat(spacing);
            cursor.insertText(result->text.empty() ? QStringLiteral("(音声が検出されませんでした)") : qs(result->text));
            formatted_->moveCursor(QTextCursor::Start);
            const QStringList labels = autoReplaceLabels(result->telemetry.appliedRuleAnnotations);
            autoReplace_->setText(QStringLiteral("高確度自動置換: ") + labels.join(QStringLiteral(" · ")));
            autoReplaceChip_->setVisible(!labels.isEmpty());
            break;
        }
        case OutputTab::timestamps:
            timestampModel_->setWords(result->words);
            timestampPage_->setCurrentIndex(result->words.empty() ? 1 : 0);
            break;
        case OutputTab::srt: {
            const std::string srt = result->formattedSRT();
            srt_->setPlainText(srt.empty() ? QStringLiteral("(SRTデータなし)") : qs(srt));
            break;
        }
    }
}

void OutputCard::syncButtons() {
    const AppViewModel& model = vm_.model();
    const QString badge = qs(reinsert_shortcut_preset::badgeLabel(model.reinsertShortcutPreset()));
    reinsert_->setText(QStringLiteral("再挿入 (") + badge + QStringLiteral(")"));
    reinsert_->setToolTip(QStringLiteral("直前のテキストを現在の入力欄に再挿入します (") + badge + QStringLiteral(")"));
    const bool reinsertable = shell_texts::availableReinsertText(model).has_value();
    reinsert_->setEnabled(reinsertable);
    copy_->setEnabled(model.currentResult().has_value() || reinsertable);
}

void OutputCard::syncFooter() {
    const AppViewModel& model = vm_.model();
    const auto& outcome = model.lastInjectionOutcome();
    footer_->setVisible(outcome.has_value() || shell_texts::availableReinsertText(model).has_value());
    outcomeIcon_->setVisible(outcome.has_value());
    outcomeText_->setVisible(outcome.has_value());
    if (outcome) {
        const bool inserted = outcome->isDirectInsert();
        outcomeIcon_->setPixmap(window_symbol::pixmap(
            inserted ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("info.circle.fill"), 11,
            inserted ? UITheme::Ocean::success : style::secondary(), devicePixelRatioF()));
        outcomeIcon_->setProperty("symbol", inserted ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("info.circle.fill"));
        outcomeText_->setText(qs(outcome->summaryBadge()));
    }
    footerHint_->setText(QStringLiteral("入れ損ねた時は、入力欄をクリックして ") +
                         qs(reinsert_shortcut_preset::badgeLabel(model.reinsertShortcutPreset())) +
                         QStringLiteral(" でいつでも再挿入できます"));
}

void OutputCard::syncPlaceholder() {
    placeholderHint_->setText(QStringLiteral("「") + qs(ptt_shortcut_key::shortBadge(vm_.model().pushToTalkKey())) +
                              QStringLiteral("」キーを長押しして話すか、音声ファイルをドロップしてください"));
}

}  // namespace pelora
