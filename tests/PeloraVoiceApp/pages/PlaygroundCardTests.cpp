// The playground card over the real controller and the engine's real correction chain:
// the box shows what the reranker, the processor and the auto-replacer give for the same
// text, options and vocabulary.
#include "tests/PeloraVoiceApp/pages/PagesFixture.h"

#include "PeloraVoiceApp/pages/PlaygroundCard.h"
#include "engine/japanese/MirkContextualAutoReplacer.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace pelora;
using namespace pelora::pages;
using namespace pelora::pages_testing;

namespace {

QString qs(const std::string& utf8) { return QString::fromStdString(utf8); }
QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

class PlaygroundFixture : public PagesFixture {
protected:
    PlaygroundCard& makeCard() {
        card_.reset();
        makeAdapter();
        card_ = std::make_unique<PlaygroundCard>(*adapter_);
        return *card_;
    }
    void TearDown() override {
        card_.reset();
        PagesFixture::TearDown();
    }

    // What the engine's local chain gives for `input` under the controller's settings.
    std::pair<std::string, std::vector<std::string>> localChain(const std::string& input) const {
        JapaneseInputOptions options = model->inputOptions();
        options.enableHomophoneReranking = model->enableHomophoneReranking();
        CorrectedText reranked{input, {}};
        if (model->enableHomophoneReranking())
            reranked = JapaneseEmbeddingReranker().rerank(input, {}, model->customVocabulary(), std::nullopt);
        auto [text, rules] = JapaneseInputProcessor().process(reranked.first, options, 0);
        std::vector<std::string> applied = reranked.second;
        applied.insert(applied.end(), rules.begin(), rules.end());
        return {text, applied};
    }
    static QString rulesLine(const std::vector<std::string>& rules) {
        QStringList labels;
        for (const auto& rule : rules) labels << qs(rule);
        return qs("適用ルール: ") + labels.join(QStringLiteral(" / "));
    }

    std::unique_ptr<PlaygroundCard> card_;
};

TEST_F(PlaygroundFixture, TheBoxShowsWhatTheEngineGives) {
    struct Case {
        const char* name;
        std::function<void(AppViewModel&)> settings;
        const char* input;
    };
    const Case cases[] = {
        {"the default sentence", [](AppViewModel&) {}, nullptr},
        {"a homophone sample", [](AppViewModel&) {}, "えーとシステムアーキテクチャの設定と部長の決済による稟議の承認を確認しますまる"},
        {"reranking off", [](AppViewModel& vm) { vm.setEnableHomophoneReranking(false); },
         "あのークロードコードとタイプスクリプトでエンベディングジェマの機能と平行処理の体制を懸賞しますまる"},
        {"academic style, fillers kept",
         [](AppViewModel& vm) {
             JapaneseInputOptions options = vm.inputOptions();
             options.punctuationStyle = JapanesePunctuationStyle::academic;
             options.removeFillers = false;
             vm.setInputOptions(options);
         },
         "えーと今日は晴れですまるあしたも晴れですまる"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PlaygroundCard& card = makeCard();
        c.settings(*model);
        if (c.input) {
            model->setPlaygroundInput(c.input);
            model->refreshPlaygroundPreview();
        }
        const auto [text, rules] = localChain(model->playgroundInput());
        EXPECT_EQ(child<QLineEdit>(card, "playgroundInput")->text(), qs(model->playgroundInput()));
        EXPECT_EQ(child<QLabel>(card, "playgroundOutput")->text(), qs(text));
        auto* rulesLabel = child<QLabel>(card, "playgroundAppliedRules");
        EXPECT_EQ(rulesLabel->isVisibleTo(&card), !rules.empty());
        if (!rules.empty()) {
            EXPECT_EQ(rulesLabel->text(), rulesLine(rules));
        }
    }
}

TEST_F(PlaygroundFixture, TheRunAddsWhatTheAutoReplacerGives) {
    PlaygroundCard& card = makeCard();
    model->setEnableHomophoneReranking(false);  // leaves the wrong word for the contextual pass
    const std::string input = "文章の保管が変です";
    child<QLineEdit>(card, "playgroundInput")->selectAll();
    typeText(child<QLineEdit>(card, "playgroundInput"), qs(input));
    EXPECT_EQ(model->playgroundInput(), input) << "typing writes the input";
    const QString before = child<QLabel>(card, "playgroundOutput")->text();
    EXPECT_NE(before, qs(localChain(input).first)) << "typing alone does not recompute the result";

    auto* run = child<QPushButton>(card, "runPlayground");
    run->click();
    EXPECT_TRUE(run->isEnabled()) << "the run button stays enabled while a run is in progress";
    const auto [preview, localRules] = localChain(input);
    EXPECT_EQ(child<QLabel>(card, "playgroundOutput")->text(), qs(preview)) << "the preview first";
    workers.runAll();
    scheduler.runPosted();

    JapaneseInputOptions options = model->inputOptions();
    options.enableHomophoneReranking = false;
    const auto replaced = MirkContextualAutoReplacer::shared().autoReplaceHighConfidence(
        preview, input, {}, model->customVocabulary(), std::nullopt, false, options);
    ASSERT_NE(replaced.text, preview) << "the sample should give the auto-replacer something to do";
    EXPECT_EQ(child<QLabel>(card, "playgroundOutput")->text(), qs(replaced.text));
    std::vector<std::string> rules = localRules;
    for (const auto& annotation : replaced.annotations)
        if (std::find(rules.begin(), rules.end(), annotation) == rules.end()) rules.push_back(annotation);
    EXPECT_EQ(child<QLabel>(card, "playgroundAppliedRules")->text(), rulesLine(rules));
}

TEST_F(PlaygroundFixture, SamplesLineBreaksAndTheEmptyResult) {
    PlaygroundCard& card = makeCard();
    auto* output = child<QLabel>(card, "playgroundOutput");
    EXPECT_TRUE(output->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_TRUE(output->textInteractionFlags() & Qt::TextSelectableByKeyboard);

    // A sample replaces the whole input and leaves the result until the next run.
    typeText(child<QLineEdit>(card, "playgroundInput"), qs("追加の文字"));
    const QString shownBefore = output->text();
    child<QPushButton>(card, "sample1")->click();
    EXPECT_EQ(model->playgroundInput(), "えーとシステムアーキテクチャの設定と部長の決済による稟議の承認を確認しますまる");
    EXPECT_EQ(child<QLineEdit>(card, "playgroundInput")->text(), qs(model->playgroundInput()));
    EXPECT_EQ(output->text(), shownBefore);

    // A spoken line break shows as one.
    model->setPlaygroundInput("一行目ですかいぎょう二行目です");
    model->refreshPlaygroundPreview();
    ASSERT_TRUE(qs(model->playgroundOutput()).contains(QLatin1Char('\n'))) << model->playgroundOutput();
    EXPECT_EQ(output->text(), qs(model->playgroundOutput()));
    EXPECT_EQ(output->textFormat(), Qt::PlainText);
    const int twoLines = output->heightForWidth(400);
    model->setPlaygroundInput("一行目です");
    model->refreshPlaygroundPreview();
    EXPECT_LT(output->heightForWidth(400), twoLines);

    // Nothing to show: the placeholder, no rule line.
    model->setPlaygroundInput("");
    model->refreshPlaygroundPreview();
    EXPECT_EQ(output->text(), qs("(変換結果がここに表示されます)"));
    EXPECT_FALSE(child<QLabel>(card, "playgroundAppliedRules")->isVisibleTo(&card));
}

}  // namespace
