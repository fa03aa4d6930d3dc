#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/recognition/EG2WordDecoding.h"
#include "engine/recognition/HeadOnlyPunct.h"
#include "platform/ml/Float16.h"
#include "platform/ml/ModelError.h"
#include "tests/support/ScriptedModelRuntime.h"
#include "tests/support/TempDir.h"

namespace pelora {
namespace {

using EG2WordDecoding::Frame;
using pelora::testing::ScriptedModelRuntime;
using pelora::testing::TempDir;

const std::vector<std::string> kList = {"zero", "one", "two", "three", "four", "hello", "world", "<rep>", "API", "'s"};

std::vector<Frame> framesOf(const std::vector<std::int64_t>& decisions, float score = 0.5f) {
    std::vector<Frame> frames;
    for (std::size_t i = 0; i < decisions.size(); ++i) frames.push_back({decisions[i], score, 0.04 * static_cast<double>(i)});
    return frames;
}

std::vector<std::string> texts(const std::vector<TranscribedWord>& words) {
    std::vector<std::string> out;
    for (const auto& w : words) out.push_back(w.text);
    return out;
}

TEST(EG2WordDecoding, RunsMergeIntoOneWordWithTheBestScore) {
    auto d = EG2WordDecoding::decode({{5, 0.3f, 0.00}, {5, 0.6f, 0.04}, {5, 0.5f, 0.08}}, kList);
    ASSERT_EQ(d.words.size(), 1u);
    EXPECT_EQ(d.words[0].text, "hello");
    EXPECT_EQ(d.words[0].rawText, "hello");
    EXPECT_EQ(d.words[0].source, "EG2");
    EXPECT_DOUBLE_EQ(d.words[0].start, 0.0);
    EXPECT_DOUBLE_EQ(d.words[0].end, 0.08 + 0.04);
    EXPECT_EQ(d.words[0].confidence, 0.6f);
    // The term was copied when the word was emitted, before the run extended it.
    ASSERT_EQ(d.highConfidenceTerms.size(), 0u);  // 0.3 is below the term threshold
}

TEST(EG2WordDecoding, BlanksRepeatsAndOutOfRangeIndicesShapeTheWordList) {
    struct Case {
        const char* name;
        std::vector<std::int64_t> decisions;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"blank between equal indices", {5, -1, 5}, {"hello", "hello"}},
        {"repeat token re-emits", {5, 7}, {"hello", "hello"}},
        {"leading repeat has nothing to repeat", {7, 5}, {"hello"}},
        {"repeat after repeat", {6, 7, -1, 7}, {"world", "world", "world"}},
        {"out of range emits nothing", {5, 99, 5, -2, 6}, {"hello", "hello", "world"}},
        {"only blanks", {-1, -1, -1}, {}},
        {"nothing", {}, {}},
    };
    for (const Case& c : cases) {
        auto d = EG2WordDecoding::decode(framesOf(c.decisions), kList);
        EXPECT_EQ(texts(d.words), c.words) << c.name;
    }
}

TEST(EG2WordDecoding, PausesSitInTheMiddleOfBlankRunsOfSevenOrMoreBetweenWords) {
    struct Case {
        const char* name;
        std::vector<std::int64_t> decisions;
        std::vector<double> pauses;
    };
    std::vector<std::int64_t> sevenBlanks = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 5, -1, -1, -1, -1, -1, -1, -1, 6};
    const Case cases[] = {
        // Word at frame 12 (0.48 s), seven blanks, word at frame 20 (0.80 s): pause at 0.80 - 7 x 0.02.
        {"seven blanks", sevenBlanks, {0.80 - 0.14}},
        {"six blanks", {5, -1, -1, -1, -1, -1, -1, 6}, {}},
        {"trailing silence", {5, -1, -1, -1, -1, -1, -1, -1, -1, -1}, {}},
        {"blank run after a word index that emits nothing", {99, -1, -1, -1, -1, -1, -1, -1, 5}, {0.32 - 0.14}},
    };
    for (const Case& c : cases) {
        auto d = EG2WordDecoding::decode(framesOf(c.decisions), kList);
        ASSERT_EQ(d.pauseTimestamps.size(), c.pauses.size()) << c.name;
        for (std::size_t i = 0; i < c.pauses.size(); ++i) EXPECT_NEAR(d.pauseTimestamps[i], c.pauses[i], 1e-12) << c.name;
    }
    // The example of a word at 0.16 s and the next at 0.48 s after seven blank frames.
    std::vector<Frame> frames = {{5, 0.5f, 0.16}};
    for (int i = 0; i < 7; ++i) frames.push_back({-1, 0.0f, 0.20 + 0.04 * i});
    frames.push_back({6, 0.5f, 0.48});
    auto d = EG2WordDecoding::decode(frames, kList);
    ASSERT_EQ(d.pauseTimestamps.size(), 1u);
    EXPECT_NEAR(d.pauseTimestamps[0], 0.34, 1e-12);
}

TEST(EG2WordDecoding, TermsNeedScoreAndThreeCharactersAfterTrimmingQuotesAndHyphens) {
    const std::vector<std::string> list = {"API", "'s", "-a-", "a-b", "\"ok\"", "データ"};
    struct Case {
        std::int64_t index;
        float score;
        bool term;
    };
    const Case cases[] = {{0, 0.4f, true}, {0, 0.39f, false}, {1, 9.0f, false}, {2, 9.0f, false},
                          {3, 0.4f, true}, {4, 1.0f, false}, {5, 1.0f, true}};
    for (const Case& c : cases) {
        auto d = EG2WordDecoding::decode({{c.index, c.score, 0.0}}, list);
        EXPECT_EQ(d.highConfidenceTerms.size(), c.term ? 1u : 0u) << list[c.index] << " at " << c.score;
    }
    // A word emitted twice is listed twice; later run extensions leave the copy alone.
    auto d = EG2WordDecoding::decode({{0, 0.5f, 0.0}, {0, 0.9f, 0.04}, {-1, 0, 0.08}, {0, 0.5f, 0.12}}, list);
    ASSERT_EQ(d.highConfidenceTerms.size(), 2u);
    EXPECT_EQ(d.highConfidenceTerms[0].confidence, 0.5f);
    EXPECT_DOUBLE_EQ(d.highConfidenceTerms[0].end, 0.04);
    EXPECT_EQ(d.words[0].confidence, 0.9f);
}

std::vector<TranscribedWord> wordsOf(const std::vector<std::string>& raw) {
    std::vector<TranscribedWord> words;
    for (const auto& r : raw) words.emplace_back(r, r, 0, 0.04, 1.0f, "EG2");
    return words;
}

TEST(EG2WordDecoding, RenderingWithoutAHeadCapitalisesTheStartAndEndsWithAPeriod) {
    struct Case {
        std::vector<std::string> raw;
        std::string text;
        std::vector<std::string> wordTexts;
    };
    const Case cases[] = {
        {{"hello", "world"}, "Hello world.", {"Hello", "world"}},
        {{"it", "'s", "fine"}, "It's fine.", {"It", "'s", "fine"}},
        {{"'s", "fine"}, "'s fine.", {"'s", "fine"}},  // a contraction stays as it is, even first
        {{"'cause", "so"}, "'cause so.", {"'cause", "so"}},  // four characters: not a contraction, but lower
        {{"wow!"}, "Wow!", {"Wow!"}},
        {{"really?"}, "Really?", {"Really?"}},
        {{}, "", {}},
    };
    for (const Case& c : cases) {
        auto words = wordsOf(c.raw);
        EXPECT_EQ(EG2WordDecoding::render(words, nullptr), c.text);
        EXPECT_EQ(texts(words), c.wordTexts) << c.text;
        for (std::size_t i = 0; i < words.size(); ++i) EXPECT_EQ(words[i].rawText, c.raw[i]);
    }
}

class RenderWithHeadTest : public ::testing::Test {
protected:
    // A head that gives each position the (punct, case) classes of `script_`.
    std::unique_ptr<HeadOnlyPunct> head() {
        std::filesystem::create_directories(dir_ / HeadOnlyPunct::file);
        pelora::testing::writeFile(dir_ / HeadOnlyPunct::caseFile, "{}");
        runtime_.script(HeadOnlyPunct::file, [this](const ml::FeatureInputs&) {
            if (fail_) throw ml::ModelError("head failed");
            ml::MultiArray punct({1, 96, 4}, ml::ElementType::float16);
            ml::MultiArray wordCase({1, 96, 3}, ml::ElementType::float16);
            for (std::size_t i = 0; i < script_.size(); ++i) {
                punct.halves()[i * 4 + static_cast<std::size_t>(script_[i].first)] = ml::floatToHalf(1);
                wordCase.halves()[i * 3 + static_cast<std::size_t>(script_[i].second)] = ml::floatToHalf(1);
            }
            ml::Prediction p;
            p.set("punct", std::move(punct));
            p.set("case", std::move(wordCase));
            return p;
        });
        return std::make_unique<HeadOnlyPunct>(dir_.path(), MappedFile::fromBytes({}), std::make_shared<WordIndex>(),
                                               ml::ComputeUnits::cpuOnly, runtime_);
    }

    TempDir dir_;
    ScriptedModelRuntime runtime_;
    std::vector<std::pair<int, int>> script_;
    bool fail_ = false;
};

TEST_F(RenderWithHeadTest, TheHeadsMarksAndCasesShapeSentences) {
    auto h = head();
    struct Case {
        std::vector<std::string> raw;
        std::vector<std::pair<int, int>> classes;  // punct (0 none, 1 comma, 2 period, 3 question), case
        std::string text;
    };
    const Case cases[] = {
        {{"done", "next"}, {{2, 0}, {2, 0}}, "Done. Next."},
        {{"so", "what", "now"}, {{1, 0}, {3, 0}, {0, 0}}, "So, what? Now."},
        {{"use", "gpu", "api"}, {{0, 0}, {0, 2}, {0, 1}}, "Use GPU Api."},
        {{"nasa", "it", "'s"}, {{0, 2}, {0, 0}, {2, 0}}, "NASA it's."},
        {{"ok", "'s"}, {{2, 0}, {0, 0}}, "Ok.'s."},  // a contraction after a period joins and stays lower
    };
    for (const Case& c : cases) {
        script_ = c.classes;
        auto words = wordsOf(c.raw);
        EXPECT_EQ(EG2WordDecoding::render(words, h.get()), c.text);
    }
}

TEST_F(RenderWithHeadTest, AFailingHeadLeavesEveryWordUnpunctuated) {
    auto h = head();
    fail_ = true;
    auto words = wordsOf({"done", "next"});
    EXPECT_EQ(EG2WordDecoding::render(words, h.get()), "Done next.");
}

}  // namespace
}  // namespace pelora
