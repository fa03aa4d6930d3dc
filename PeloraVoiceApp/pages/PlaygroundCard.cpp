#include "PeloraVoiceApp/pages/PlaygroundCard.h"

#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"
#include "PeloraVoiceApp/hud/UITheme.h"
#include "PeloraVoiceApp/pages/PageStyle.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace pelora::pages {

namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

struct Sample {
    const char* title;
    const char* text;
};
constexpr Sample samples[] = {
    {"⚡ MIRK文脈意図判定（機能→昨日 / 回答→解凍）",
     "えーと機能の夜にダウンロードした圧縮ファイルを回答して、ショートカットが聞かない問題と文字起こしの制度を確認しますまる"},
    {"設計/決裁の同音異義語", "えーとシステムアーキテクチャの設定と部長の決済による稟議の承認を確認しますまる"},
    {"技術用語の音韻距離補正",
     "あのークロードコードとタイプスクリプトでエンベディングジェマの機能と平行処理の体制を懸賞しますまる"},
};

// The result box: a rounded rectangle of the label colour at 4 %.
class ResultBox final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(UITheme::withOpacity(primaryColor(this), 0.04));
        painter.drawRoundedRect(QRectF(rect()), 8, 8);
    }
};

}  // namespace

PlaygroundCard::PlaygroundCard(AppViewModelQtAdapter& adapter, QWidget* parent) : QWidget(parent), adapter_(adapter) {
    setObjectName(QStringLiteral("playgroundCard"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);

    auto* header = new QHBoxLayout;
    auto* texts = new QVBoxLayout;
    texts->addWidget(makeLabel(qs("ルール・MIRK自動置換テスト"), 14, QFont::DemiBold, false, true, this));
    texts->addWidget(makeLabel(
        qs("音声認識の仮テキストを入力して、同音異義語・音韻距離・MIRK高確度置換の結果をその場で確認できます。"),
        11.5, QFont::Normal, true, true, this));
    header->addLayout(texts, 1);
    auto* run = new QPushButton(qs("⚡ MIRK実行"), this);
    run->setObjectName(QStringLiteral("runPlayground"));
    run->setAutoDefault(false);
    run->setDefault(false);
    run->setFont(UITheme::roundedFont(12, QFont::DemiBold));
    run->setIcon(symbolIcon(QStringLiteral("bolt.sparkles.fill"), 14, palette().color(QPalette::ButtonText)));
    // Stays enabled while a run is in progress; the result box follows the controller.
    connect(run, &QPushButton::clicked, &adapter_, &AppViewModelQtAdapter::runPlaygroundMirkAutoReplace);
    header->addWidget(run, 0, Qt::AlignVCenter);
    column->addLayout(header);

    auto* sampleRow = new QHBoxLayout;
    sampleRow->setSpacing(8);
    sampleRow->addWidget(makeLabel(qs("サンプル:"), 11, QFont::Normal, true, false, this));
    int index = 0;
    for (const Sample& sample : samples) {
        auto* button = new QPushButton(qs(sample.title), this);
        button->setObjectName(QStringLiteral("sample%1").arg(index++));
        button->setAutoDefault(false);
        button->setFont(UITheme::roundedFont(10.5));
        // Only the input changes; the result stays until the next run.
        connect(button, &QPushButton::clicked, this,
                [this, text = qs(sample.text)] { adapter_.setPlaygroundInput(text); });
        sampleRow->addWidget(button);
    }
    sampleRow->addStretch(1);
    column->addLayout(sampleRow);

    auto* io = new QVBoxLayout;
    io->setSpacing(8);
    input_ = new QLineEdit(this);
    input_->setObjectName(QStringLiteral("playgroundInput"));
    input_->setPlaceholderText(qs("テストしたい認識テキストを入力..."));
    input_->setFont(UITheme::roundedFont(13));
    connect(input_, &QLineEdit::textEdited, &adapter_, &AppViewModelQtAdapter::setPlaygroundInput);
    io->addWidget(input_);

    auto* box = new ResultBox(this);
    box->setObjectName(QStringLiteral("playgroundResultBox"));
    auto* boxRow = new QHBoxLayout(box);
    boxRow->setContentsMargins(10, 10, 10, 10);
    boxRow->setSpacing(10);
    auto* arrow = new SymbolLabel(QStringLiteral("arrow.turn.down.right"), 12, UITheme::Ocean::cyan, box);
    auto* arrowColumn = new QVBoxLayout;
    arrowColumn->setContentsMargins(0, 3, 0, 0);
    arrowColumn->addWidget(arrow);
    arrowColumn->addStretch(1);
    boxRow->addLayout(arrowColumn);
    auto* resultColumn = new QVBoxLayout;
    resultColumn->setSpacing(6);
    output_ = makeLabel(QString(), 13.5, QFont::Medium, false, true, box);
    output_->setObjectName(QStringLiteral("playgroundOutput"));
    output_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    output_->setAlignment(Qt::AlignLeading | Qt::AlignTop);
    output_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    rules_ = makeLabel(QString(), 11, QFont::Normal, true, true, box);
    rules_->setObjectName(QStringLiteral("playgroundAppliedRules"));
    resultColumn->addWidget(output_);
    resultColumn->addWidget(rules_);
    boxRow->addLayout(resultColumn, 1);
    io->addWidget(box);
    column->addLayout(io);

    connect(&adapter_, &AppViewModelQtAdapter::playgroundInputChanged, this, &PlaygroundCard::syncInput);
    connect(&adapter_, &AppViewModelQtAdapter::playgroundOutputChanged, this, &PlaygroundCard::syncResult);
    connect(&adapter_, &AppViewModelQtAdapter::playgroundAppliedRulesChanged, this, &PlaygroundCard::syncResult);
    syncInput();
    syncResult();
}

void PlaygroundCard::syncInput() {
    const QString text = adapter_.playgroundInput();
    if (input_->text() == text) return;
    // Keep the caret where it was when the text is the user's own edit coming back.
    QSignalBlocker block(input_);
    input_->setText(text);
}

void PlaygroundCard::syncResult() {
    const QString output = adapter_.playgroundOutput();
    output_->setText(output.isEmpty() ? qs(placeholderResult) : output);
    const QStringList rules = adapter_.playgroundAppliedRules();
    rules_->setText(qs("適用ルール: ") + rules.join(QStringLiteral(" / ")));
    rules_->setVisible(!rules.isEmpty());
}

}  // namespace pelora::pages
