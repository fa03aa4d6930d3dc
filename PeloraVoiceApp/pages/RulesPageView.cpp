#include "PeloraVoiceApp/pages/RulesPageView.h"

#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"
#include "PeloraVoiceApp/hud/UITheme.h"
#include "PeloraVoiceApp/pages/PageStyle.h"
#include "PeloraVoiceApp/pages/PlaygroundCard.h"
#include "PeloraVoiceApp/pages/RulesPageTexts.h"
#include "PeloraVoiceApp/pages/VocabularyEditor.h"
#include "platform/text/UnicodeText.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace pelora::pages {

namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

struct DensityLabels {
    JapanesePunctuationDensity density;
    const char* segment;
    const char* description;
    const char* objectName;
};
constexpr DensityLabels densityLabels[] = {
    {JapanesePunctuationDensity::light, "控えめ", "控えめ（文末中心・読点少なめ）", "densityLight"},
    {JapanesePunctuationDensity::balanced, "標準(推奨)", "標準・Peloraバランス（推奨）", "densityBalanced"},
    {JapanesePunctuationDensity::dense, "多め", "多め（短いポーズも区切る）", "densityDense"},
};

struct StyleLabel {
    JapanesePunctuationStyle style;
    const char* label;
};
constexpr StyleLabel styleLabels[] = {
    {JapanesePunctuationStyle::standard, "標準和文（。、）"},
    {JapanesePunctuationStyle::academic, "技術・論文（．，）"},
    {JapanesePunctuationStyle::ascii, "半角欧文（. ,）"},
    {JapanesePunctuationStyle::spaceOnly, "チャット・空白区切り"},
};

enum OptionFlag { removeFillersFlag, voiceCommandsFlag, halfWidthFlag };

// Return in the key field does nothing (no default button, no save).
class SwallowReturn final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                event->accept();
                return event->type() == QEvent::KeyPress;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

QCheckBox* makeToggle(const char* text, const char* objectName, QWidget* parent) {
    auto* box = new QCheckBox(qs(text), parent);
    box->setObjectName(QString::fromLatin1(objectName));
    box->setFont(UITheme::roundedFont(13));
    return box;
}

QPushButton* makeSmallButton(const char* text, const char* objectName, QWidget* parent) {
    auto* button = new QPushButton(qs(text), parent);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setFont(UITheme::roundedFont(12));
    button->setAutoDefault(false);
    return button;
}

bool blankAfterTrimming(const QString& text) { return text::trimWhitespaceAndNewlines(text.toStdString()).empty(); }

}  // namespace

RulesPageView::RulesPageView(AppViewModelQtAdapter& adapter, RulesPageLocalState& local, QWidget* parent)
    : QWidget(parent), adapter_(adapter), local_(local), host_(decisionServiceHostLabel()) {
    setObjectName(QStringLiteral("rulesPage"));
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(24, 24, 24, 24);
    page->setSpacing(22);
    page->setAlignment(Qt::AlignTop);
    page->addWidget(makePageHeader(
        qs("日本語ルール・辞書"),
        qs("句読点の入り方やフィラー除去、MIRK意図判断・音韻距離による高確度候補の自動置換を設定します。"), this));
    page->addWidget(buildSettingsCard());

    auto* playgroundCard = new SettingsCard(12, this);
    playground_ = new PlaygroundCard(adapter_, playgroundCard);
    playgroundCard->content()->addWidget(playground_);
    page->addWidget(playgroundCard);

    auto* dictionaryCard = new SettingsCard(14, this);
    vocabulary_ = new VocabularyEditor(adapter_, local_, dictionaryCard);
    dictionaryCard->content()->addWidget(vocabulary_);
    page->addWidget(dictionaryCard);

    for (auto signal : {&AppViewModelQtAdapter::inputOptionsChanged, &AppViewModelQtAdapter::enableHomophoneRerankingChanged,
                        &AppViewModelQtAdapter::enableMirkContextCorrectionChanged,
                        &AppViewModelQtAdapter::allowExternalMirkTransmissionChanged,
                        &AppViewModelQtAdapter::sendFocusedContextToMirkChanged,
                        &AppViewModelQtAdapter::isMirkAPIKeyConfiguredChanged})
        connect(&adapter_, signal, this, &RulesPageView::syncFromModel);
    syncFromModel();
}

QWidget* RulesPageView::buildSettingsCard() {
    auto* card = new SettingsCard(14, this);
    auto* column = card->content();
    column->addWidget(makeLabel(qs("句読点と自動整形"), 14, QFont::DemiBold, false, true, card));

    // Density: a segmented control of three exclusive buttons; the arrows move the choice.
    auto* densityRow = new QHBoxLayout;
    auto* densityTexts = new QVBoxLayout;
    densityTexts->setSpacing(2);
    densityTexts->addWidget(makeLabel(qs("句読点の挿入バランス"), 13, QFont::Medium, false, true, card));
    densityDescription_ = makeLabel(QString(), 11.5, QFont::Normal, true, true, card);
    densityDescription_->setObjectName(QStringLiteral("densityDescription"));
    densityTexts->addWidget(densityDescription_);
    densityRow->addLayout(densityTexts, 1);
    auto* segments = new QWidget(card);
    segments->setObjectName(QStringLiteral("punctuationDensity"));
    segments->setFixedWidth(240);
    auto* segmentRow = new QHBoxLayout(segments);
    segmentRow->setContentsMargins(0, 0, 0, 0);
    segmentRow->setSpacing(0);
    density_ = new QButtonGroup(segments);
    density_->setExclusive(true);
    for (int i = 0; i < static_cast<int>(std::size(densityLabels)); ++i) {
        auto* segment = new QPushButton(qs(densityLabels[i].segment), segments);
        segment->setObjectName(QString::fromLatin1(densityLabels[i].objectName));
        segment->setCheckable(true);
        segment->setAutoExclusive(true);
        segment->setAutoDefault(false);
        segment->setFont(UITheme::roundedFont(12));
        density_->addButton(segment, i);
        segmentRow->addWidget(segment, 1);
    }
    connect(density_, &QButtonGroup::idClicked, this, &RulesPageView::writeDensity);
    densityRow->addWidget(segments, 0, Qt::AlignVCenter);
    column->addLayout(densityRow);
    column->addWidget(makeDivider(card));

    auto* styleRow = new QHBoxLayout;
    styleRow->addWidget(makeLabel(qs("句読点スタイル"), 13, QFont::Medium, false, false, card), 0, Qt::AlignVCenter);
    styleRow->addStretch(1);
    style_ = new QComboBox(card);
    style_->setObjectName(QStringLiteral("punctuationStyle"));
    style_->setFixedWidth(220);
    for (const StyleLabel& entry : styleLabels) style_->addItem(qs(entry.label));
    connect(style_, &QComboBox::activated, this, &RulesPageView::writeStyle);
    styleRow->addWidget(style_, 0, Qt::AlignVCenter);
    column->addLayout(styleRow);
    column->addWidget(makeDivider(card));

    auto* toggles = new QVBoxLayout;
    toggles->setSpacing(10);
    removeFillers_ = makeToggle("フィラーを自動除去（「えーと」「あのー」「うーん」など）", "removeFillers", card);
    voiceCommands_ = makeToggle("音声コマンドを変換（「まる」→ 。 / 「かいぎょう」→ 改行）", "enableVoiceCommands", card);
    halfWidth_ = makeToggle("数字・英字・単位を半角へ正規化（例: 16kHz, 320ms）", "normalizeAlphanumerics", card);
    reranking_ = makeToggle("文脈に応じた同音異義語・技術用語の自動補正", "enableHomophoneReranking", card);
    contextual_ = makeToggle("MIRK意図判断・周辺文脈による高確度候補の自動インプレース置換", "enableMirkContextCorrection", card);
    connect(removeFillers_, &QCheckBox::clicked, this, [this](bool on) { setOptionFlag(removeFillersFlag, on); });
    connect(voiceCommands_, &QCheckBox::clicked, this, [this](bool on) { setOptionFlag(voiceCommandsFlag, on); });
    connect(halfWidth_, &QCheckBox::clicked, this, [this](bool on) { setOptionFlag(halfWidthFlag, on); });
    connect(reranking_, &QCheckBox::clicked, &adapter_, &AppViewModelQtAdapter::setEnableHomophoneReranking);
    connect(contextual_, &QCheckBox::clicked, &adapter_, &AppViewModelQtAdapter::setEnableMirkContextCorrection);
    for (QCheckBox* box : {removeFillers_, voiceCommands_, halfWidth_, reranking_, contextual_}) toggles->addWidget(box);

    externalBlock_ = new QWidget(card);
    externalBlock_->setObjectName(QStringLiteral("externalServiceBlock"));
    auto* external = new QVBoxLayout(externalBlock_);
    external->setContentsMargins(18, 0, 0, 0);
    external->setSpacing(6);
    optIn_ = makeToggle("", "allowExternalMirkTransmission", externalBlock_);
    optIn_->setText(optInLabel(host_));
    focusedContext_ = makeToggle("カーソル前後のテキスト文脈も外部APIへ送信する", "sendFocusedContextToMirk", externalBlock_);
    connect(optIn_, &QCheckBox::clicked, &adapter_, &AppViewModelQtAdapter::setAllowExternalMirkTransmission);
    connect(focusedContext_, &QCheckBox::clicked, &adapter_, &AppViewModelQtAdapter::setSendFocusedContextToMirk);
    external->addWidget(optIn_);
    external->addWidget(focusedContext_);
    auto* note = makeLabel(onDeviceNote(host_), 11, QFont::Normal, true, true, externalBlock_);
    note->setObjectName(QStringLiteral("onDeviceNote"));
    external->addWidget(note);
    toggles->addWidget(externalBlock_);
    column->addLayout(toggles);

    // Shown while homophone correction is on: the badges and the key editor.
    statusRow_ = new QWidget(card);
    statusRow_->setObjectName(QStringLiteral("statusRow"));
    auto* badges = new QHBoxLayout(statusRow_);
    badges->setContentsMargins(0, 0, 0, 0);
    badges->setSpacing(8);
    connectionBadge_ = new StatusBadge(statusRow_);
    connectionBadge_->setObjectName(QStringLiteral("connectionBadge"));
    localModelBadge_ = new StatusBadge(statusRow_);
    localModelBadge_->setObjectName(QStringLiteral("localModelBadge"));
    phoneticBadge_ = new StatusBadge(statusRow_);
    phoneticBadge_->setObjectName(QStringLiteral("phoneticBadge"));
    phoneticBadge_->setSymbol(QStringLiteral("waveform.badge.magnifyingglass"), UITheme::Ocean::cyan);
    phoneticBadge_->setText(qs("音韻距離 + カーソル周辺文脈"));
    keyEditorToggle_ = new QPushButton(statusRow_);
    keyEditorToggle_->setObjectName(QStringLiteral("keyEditorToggle"));
    keyEditorToggle_->setFlat(true);
    keyEditorToggle_->setAutoDefault(false);
    keyEditorToggle_->setCursor(Qt::PointingHandCursor);
    keyEditorToggle_->setFont(UITheme::roundedFont(11));
    setTextColor(keyEditorToggle_, palette().color(QPalette::Link));
    QPalette linkPalette = keyEditorToggle_->palette();
    linkPalette.setColor(QPalette::ButtonText, palette().color(QPalette::Link));
    keyEditorToggle_->setPalette(linkPalette);
    connect(keyEditorToggle_, &QPushButton::clicked, this, &RulesPageView::toggleKeyEditor);
    badges->addWidget(connectionBadge_);
    badges->addWidget(localModelBadge_);
    badges->addWidget(phoneticBadge_);
    badges->addStretch(1);
    badges->addWidget(keyEditorToggle_);
    column->addWidget(statusRow_);
    keyEditor_ = buildKeyEditor(card);
    column->addWidget(keyEditor_);
    return card;
}

QWidget* RulesPageView::buildKeyEditor(QWidget* parent) {
    auto* editor = new QWidget(parent);
    editor->setObjectName(QStringLiteral("keyEditor"));
    auto* column = new QVBoxLayout(editor);
    column->setContentsMargins(0, 2, 0, 0);
    auto* row = new QHBoxLayout;
    keyField_ = new QLineEdit(editor);
    keyField_->setObjectName(QStringLiteral("mirkKeyField"));
    // Password echo: no copy, cut or drag out, and no text for assistive technology.
    keyField_->setEchoMode(QLineEdit::Password);
    keyField_->setContextMenuPolicy(Qt::NoContextMenu);
    keyField_->setDragEnabled(false);
    keyField_->setPlaceholderText(qs(keyFieldPlaceholder));
    keyField_->setFont(UITheme::roundedFont(12));
    keyField_->setText(local_.mirkKeyDraft);
    keyField_->installEventFilter(new SwallowReturn(keyField_));
    connect(keyField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        local_.mirkKeyDraft = text;
        keyFailure_->hide();
        syncKeyEditor();
    });
    pasteButton_ = makeSmallButton("ペースト", "pasteKey", editor);
    saveButton_ = makeSmallButton("保存", "saveKey", editor);
    deleteButton_ = makeSmallButton("削除", "deleteKey", editor);
    connect(pasteButton_, &QPushButton::clicked, this, &RulesPageView::pasteKey);
    connect(saveButton_, &QPushButton::clicked, this, &RulesPageView::saveKey);
    connect(deleteButton_, &QPushButton::clicked, this, &RulesPageView::deleteKey);
    row->addWidget(keyField_, 1);
    row->addWidget(pasteButton_);
    row->addWidget(saveButton_);
    row->addWidget(deleteButton_);
    column->addLayout(row);
    keyFailure_ = makeLabel(qs(keySaveFailedText), 11, QFont::Medium, false, true, editor);
    keyFailure_->setObjectName(QStringLiteral("keySaveFailure"));
    setTextColor(keyFailure_, QColor::fromRgbF(1.0f, 0.23f, 0.19f));
    keyFailure_->hide();
    column->addWidget(keyFailure_);
    auto* note = makeLabel(keyStorageNote(), 10.5, QFont::Normal, true, true, editor);
    note->setObjectName(QStringLiteral("keyStorageNote"));
    column->addWidget(note);
    return editor;
}

void RulesPageView::syncFromModel() {
    const auto options = adapter_.inputOptions().value<JapaneseInputOptions>();
    const bool reranking = adapter_.enableHomophoneReranking();
    const bool keyConfigured = adapter_.isMirkAPIKeyConfigured();
    const bool allowExternal = adapter_.allowExternalMirkTransmission();

    for (int i = 0; i < static_cast<int>(std::size(densityLabels)); ++i) {
        if (densityLabels[i].density != options.punctuationDensity) continue;
        QSignalBlocker block(density_);
        density_->button(i)->setChecked(true);
        densityDescription_->setText(qs(densityLabels[i].description));
    }
    for (int i = 0; i < static_cast<int>(std::size(styleLabels)); ++i) {
        if (styleLabels[i].style != options.punctuationStyle) continue;
        QSignalBlocker block(style_);
        style_->setCurrentIndex(i);
    }
    const std::pair<QCheckBox*, bool> checks[] = {
        {removeFillers_, options.removeFillers},
        {voiceCommands_, options.enableVoiceCommands},
        {halfWidth_, options.normalizeAlphanumerics},
        {reranking_, reranking},
        {contextual_, adapter_.enableMirkContextCorrection()},
        {optIn_, allowExternal},
        {focusedContext_, adapter_.sendFocusedContextToMirk()},
    };
    for (const auto& [box, on] : checks) {
        QSignalBlocker block(box);
        box->setChecked(on);
    }
    // Homophone correction gates the contextual toggle, which keeps its value; the opt-in
    // needs a stored key, the focused context also the opt-in.
    contextual_->setEnabled(reranking);
    externalBlock_->setVisible(adapter_.enableMirkContextCorrection());
    optIn_->setEnabled(reranking && keyConfigured);
    focusedContext_->setEnabled(reranking && allowExternal && keyConfigured);

    statusRow_->setVisible(reranking);
    if (keyConfigured && allowExternal) {
        connectionBadge_->setDot(UITheme::Ocean::success);
        connectionBadge_->setText(qs("MIRK (mirk-latest) 外部連携有効"));
    } else {
        connectionBadge_->setDot(QColor::fromRgbF(1.0f, 0.58f, 0.0f));
        connectionBadge_->setText(qs("MIRKオンデバイス限定モード"));
    }
    // No on-device language model here: the contextual rules are what runs locally.
    localModelBadge_->setDot(secondaryColor(this));
    localModelBadge_->setText(qs("45組文脈ルール有効"));
    syncKeyEditor();
}

void RulesPageView::syncKeyEditor() {
    const bool reranking = adapter_.enableHomophoneReranking();
    keyEditorToggle_->setText(local_.showMirkKeyEditor ? qs("閉じる") : qs("MIRKキー設定"));
    keyEditor_->setVisible(reranking && local_.showMirkKeyEditor);
    if (keyField_->text() != local_.mirkKeyDraft) {
        QSignalBlocker block(keyField_);
        keyField_->setText(local_.mirkKeyDraft);
    }
    saveButton_->setEnabled(!blankAfterTrimming(local_.mirkKeyDraft));
    deleteButton_->setVisible(adapter_.isMirkAPIKeyConfigured());
}

void RulesPageView::writeDensity(int index) {
    auto options = adapter_.inputOptions().value<JapaneseInputOptions>();
    options.punctuationDensity = densityLabels[index].density;
    adapter_.setInputOptions(QVariant::fromValue(options));
}

void RulesPageView::writeStyle(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(styleLabels))) return;
    auto options = adapter_.inputOptions().value<JapaneseInputOptions>();
    options.punctuationStyle = styleLabels[index].style;
    adapter_.setInputOptions(QVariant::fromValue(options));
}

void RulesPageView::setOptionFlag(int flag, bool value) {
    auto options = adapter_.inputOptions().value<JapaneseInputOptions>();
    switch (flag) {
        case removeFillersFlag: options.removeFillers = value; break;
        case voiceCommandsFlag: options.enableVoiceCommands = value; break;
        case halfWidthFlag: options.normalizeAlphanumerics = value; break;
    }
    adapter_.setInputOptions(QVariant::fromValue(options));
}

void RulesPageView::toggleKeyEditor() {
    local_.showMirkKeyEditor = !local_.showMirkKeyEditor;
    syncKeyEditor();
}

void RulesPageView::pasteKey() {
    const QString pasted = QApplication::clipboard()->text(QClipboard::Clipboard);
    const std::string trimmed = text::trimWhitespaceAndNewlines(pasted.toStdString());
    if (trimmed.empty()) return;  // nothing usable: the field stays as it is
    keyField_->setText(QString::fromStdString(trimmed));
}

void RulesPageView::saveKey() {
    // The controller trims and checks the key; a key it did not store stays in the field
    // with a visible reason, so nothing typed is lost.
    if (adapter_.saveMirkAPIKey(local_.mirkKeyDraft)) {
        local_.mirkKeyDraft.clear();
        local_.showMirkKeyEditor = false;
        keyFailure_->hide();
    } else {
        keyFailure_->show();
    }
    syncKeyEditor();
}

void RulesPageView::deleteKey() {
    adapter_.clearMirkAPIKey();
    local_.mirkKeyDraft.clear();
    keyFailure_->hide();
    syncKeyEditor();
}

}  // namespace pelora::pages
