#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/recognition/HeadOnlyPunct.h"
#include "engine/recognition/PeloraVoiceError.h"
#include "platform/ml/Float16.h"
#include "platform/ml/ModelError.h"
#include "tests/support/ScriptedModelRuntime.h"
#include "tests/support/TempDir.h"

namespace pelora {
namespace {

using ml::ElementType;
using ml::MultiArray;
using pelora::testing::ScriptedModelRuntime;
using pelora::testing::TempDir;
using pelora::testing::writeFile;

constexpr int kDim = 768;

// Word rows carry their wished-for classes: dimension 0 holds the punctuation class,
// dimension 1 the case class. The scripted head turns them into one-hot scores.
struct Vocabulary {
    std::vector<std::string> words;
    std::vector<std::pair<int, int>> classes;  // (punct, case) per row
};

std::shared_ptr<const MappedFile> tableFor(const Vocabulary& v) {
    std::vector<std::byte> bytes(v.words.size() * kDim * 2);
    auto* halves = reinterpret_cast<std::uint16_t*>(bytes.data());
    for (std::size_t r = 0; r < v.words.size(); ++r) {
        halves[r * kDim + 0] = ml::floatToHalf(static_cast<float>(v.classes[r].first));
        halves[r * kDim + 1] = ml::floatToHalf(static_cast<float>(v.classes[r].second));
    }
    return MappedFile::fromBytes(std::move(bytes));
}

std::shared_ptr<const WordIndex> indexFor(const Vocabulary& v) {
    auto index = std::make_shared<WordIndex>();
    for (std::size_t r = 0; r < v.words.size(); ++r) (*index)[v.words[r]] = static_cast<std::int64_t>(r);
    return index;
}

class HeadOnlyPunctTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / HeadOnlyPunct::file);
        writeFile(dir_ / HeadOnlyPunct::caseFile, R"({"gpu": 2, "seven": 7, "i": 0})");
        vocabulary_ = {{"hello", "world", "gpu", "seven", "i", "I", "i'm", "tie"},
                       {{0, 0}, {2, 1}, {0, 0}, {0, 0}, {0, 0}, {0, 2}, {0, 0}, {0, 0}}};
        runtime_.script(HeadOnlyPunct::file, [this](const ml::FeatureInputs& in) { return oneHot(in); });
    }

    std::unique_ptr<HeadOnlyPunct> make(std::shared_ptr<const MappedFile> table = nullptr) {
        return std::make_unique<HeadOnlyPunct>(dir_.path(), table ? table : tableFor(vocabulary_), indexFor(vocabulary_),
                                               ml::ComputeUnits::cpuOnly, runtime_);
    }

    ml::Prediction oneHot(const ml::FeatureInputs& in) {
        const MultiArray& vec = *in.at("vec");
        const MultiArray& mask = *in.at("mask");
        int used = 0;
        for (int i = 0; i < 96; ++i) used += ml::halfToFloat(mask.halves()[i]) == 1.0f;
        masks_.push_back(used);
        MultiArray punct({1, 96, 4}, ElementType::float16);
        MultiArray wordCase({1, 96, 3}, ElementType::float16);
        for (int i = 0; i < 96; ++i) {
            int p = static_cast<int>(ml::halfToFloat(vec.halves()[i * kDim + 0]));
            int c = static_cast<int>(ml::halfToFloat(vec.halves()[i * kDim + 1]));
            punct.halves()[i * 4 + p] = ml::floatToHalf(1.0f);
            wordCase.halves()[i * 3 + c] = ml::floatToHalf(1.0f);
        }
        ml::Prediction p;
        p.set("punct", std::move(punct));
        p.set("case", std::move(wordCase));
        return p;
    }

    TempDir dir_;
    Vocabulary vocabulary_;
    ScriptedModelRuntime runtime_;
    std::vector<int> masks_;
};

TEST_F(HeadOnlyPunctTest, LoadsOnTheCPUAndKeepsOnlyTheThreeCaseClasses) {
    auto head = make();
    ASSERT_EQ(runtime_.loads().size(), 1u);
    EXPECT_EQ(runtime_.loads()[0].units, ml::ComputeUnits::cpuOnly);
    EXPECT_EQ(head->caseOverrides().size(), 2u);
    EXPECT_EQ(head->caseOverrides().at("gpu"), WordCase::upper);
    EXPECT_FALSE(head->caseOverrides().contains("seven"));
}

TEST_F(HeadOnlyPunctTest, WordsAreCutIntoChunksOfNinetySix) {
    auto head = make();
    struct Case {
        std::size_t words;
        std::vector<int> chunks;
    };
    const Case cases[] = {{0, {}}, {1, {1}}, {96, {96}}, {97, {96, 1}}, {200, {96, 96, 8}}};
    for (const Case& c : cases) {
        masks_.clear();
        auto d = head->decide(std::vector<std::string>(c.words, "world"));
        EXPECT_EQ(masks_, c.chunks) << c.words << " words";
        ASSERT_EQ(d.punct.size(), c.words);
        ASSERT_EQ(d.wordCase.size(), c.words);
        for (std::size_t i = 0; i < c.words; ++i) {
            ASSERT_EQ(d.punct[i], Punct::period) << c.words << " words, word " << i;
            ASSERT_EQ(d.wordCase[i], WordCase::cap) << c.words << " words, word " << i;
        }
    }
    EXPECT_EQ(runtime_.predictions(HeadOnlyPunct::file), 1 + 1 + 2 + 3);
}

TEST_F(HeadOnlyPunctTest, CaseRulesOverridesFirstThenFirstPersonIThenTheModel) {
    auto head = make();
    struct Case {
        const char* word;
        WordCase expected;
    };
    const Case cases[] = {
        {"gpu", WordCase::upper},    // listed with 2, the model says lower
        {"seven", WordCase::lower},  // listed with 7: ignored, the model decides
        {"i", WordCase::lower},      // the override table wins over the i rule
        {"i'm", WordCase::cap},      // i followed by an apostrophe
        {"I", WordCase::upper},      // already upper case: the model decides
        {"unknown", WordCase::lower},
        {"hello", WordCase::lower},
    };
    std::vector<std::string> words;
    for (const Case& c : cases) words.emplace_back(c.word);
    auto d = head->decide(words);
    for (std::size_t i = 0; i < words.size(); ++i) EXPECT_EQ(d.wordCase[i], cases[i].expected) << words[i];

    // With no overrides at all, a bare "i" is capitalised whatever the model scores.
    writeFile(dir_ / HeadOnlyPunct::caseFile, "{}");
    auto plain = make();
    EXPECT_EQ(plain->decide({"i"}).wordCase[0], WordCase::cap);
}

TEST_F(HeadOnlyPunctTest, UnknownWordsAndRowsOutsideTheTableGetZeroVectors) {
    // A table one row short: "tie" (row 7) lies outside it.
    auto full = tableFor(vocabulary_);
    std::vector<std::byte> shortBytes(full->bytes().begin(), full->bytes().end() - kDim * 2);
    std::vector<std::uint16_t> seen;
    runtime_.script(HeadOnlyPunct::file, [&](const ml::FeatureInputs& in) {
        const MultiArray& vec = *in.at("vec");
        for (int i = 0; i < 3; ++i) seen.push_back(vec.halves()[i * kDim + 1]);
        return oneHot(in);
    });
    auto head = make(MappedFile::fromBytes(std::move(shortBytes)));
    auto d = head->decide({"nowhere", "tie", "world"});
    EXPECT_EQ(seen, (std::vector<std::uint16_t>{0, 0, ml::floatToHalf(1.0f)}));
    EXPECT_EQ(masks_, std::vector<int>{3});
    EXPECT_EQ(d.punct[0], Punct::none);
}

TEST_F(HeadOnlyPunctTest, ScoresAreReadThroughStridesWithTiesToTheLowerClass) {
    runtime_.script(HeadOnlyPunct::file, [](const ml::FeatureInputs&) {
        // Word stride 10, class stride 2; word 0 ties comma and period, word 1 says question,
        // word 2 sees NaN in class 0.
        MultiArray punct({1, 96, 4}, {960, 10, 2}, ElementType::float16);
        auto set = [&](int word, int cls, float v) { punct.halves()[word * 10 + cls * 2] = ml::floatToHalf(v); };
        set(0, 1, 0.5f);
        set(0, 2, 0.5f);
        set(1, 3, 0.25f);
        set(2, 0, std::numeric_limits<float>::quiet_NaN());
        set(2, 3, 0.5f);
        ml::Prediction p;
        p.set("punct", std::move(punct));  // no "case" output: every word lower
        return p;
    });
    auto head = make();
    auto d = head->decide({"hello", "world", "seven"});
    EXPECT_EQ(d.punct, (std::vector<Punct>{Punct::comma, Punct::question, Punct::question}));
    EXPECT_EQ(d.wordCase, (std::vector<WordCase>{WordCase::lower, WordCase::lower, WordCase::lower}));
}

TEST_F(HeadOnlyPunctTest, ShortOrMistypedOutputsFailInsteadOfBeingReadOutOfBounds) {
    struct Case {
        const char* name;
        std::vector<std::int64_t> shape;
        ElementType type;
    };
    const Case cases[] = {
        {"too few words", {1, 2, 4}, ElementType::float16},
        {"too few classes", {1, 96, 3}, ElementType::float16},
        {"single precision", {1, 96, 4}, ElementType::float32},
        {"integers", {1, 96, 4}, ElementType::int32},
    };
    for (const Case& c : cases) {
        runtime_.script(HeadOnlyPunct::file, [&](const ml::FeatureInputs&) {
            ml::Prediction p;
            p.set("punct", MultiArray(c.shape, c.type));
            return p;
        });
        auto head = make();
        try {
            head->decide({"hello", "world", "gpu"});
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const PeloraVoiceError& e) {
            EXPECT_EQ(e.errorCase(), PeloraVoiceError::Case::coreMLPredictionFailed) << c.name;
            EXPECT_TRUE(e.payload().starts_with("Unexpected punct shape/count from punct_headonly: ")) << e.payload();
        }
    }
}

TEST_F(HeadOnlyPunctTest, PredictionErrorsPropagate) {
    runtime_.script(HeadOnlyPunct::file, [](const ml::FeatureInputs&) -> ml::Prediction {
        throw ml::ModelError("boom");
    });
    auto head = make();
    EXPECT_THROW(head->decide({"hello"}), ml::ModelError);
    EXPECT_NO_THROW(head->decide({}));
}

TEST_F(HeadOnlyPunctTest, PresentNeedsBothFiles) {
    EXPECT_TRUE(HeadOnlyPunct::present(dir_.path()));
    TempDir onlyModel, onlyCases;
    std::filesystem::create_directories(onlyModel / HeadOnlyPunct::file);
    writeFile(onlyCases / HeadOnlyPunct::caseFile, "{}");
    EXPECT_FALSE(HeadOnlyPunct::present(onlyModel.path()));
    EXPECT_FALSE(HeadOnlyPunct::present(onlyCases.path()));
}

TEST_F(HeadOnlyPunctTest, UndecodableCaseFilesAndLoadErrorsFailConstruction) {
    const char* files[] = {R"({"a": 256})", R"({"a": -1})", R"({"a": "2"})", R"({"a": 1.5})", "[1, 2]", "{", "",
                           R"({"a": 18446744073709551615})", R"({"a": 1e400})"};
    for (const char* content : files) {
        writeFile(dir_ / HeadOnlyPunct::caseFile, content);
        try {
            make();
            ADD_FAILURE() << "built with " << content;
        } catch (const PeloraVoiceError& e) {
            EXPECT_EQ(e.errorCase(), PeloraVoiceError::Case::invalidModelAsset) << content;
            EXPECT_TRUE(e.payload().starts_with("punct_case.json: ")) << content << ": " << e.payload();
        }
    }
    writeFile(dir_ / HeadOnlyPunct::caseFile, R"({"a": 255, "b": 0})");
    EXPECT_NO_THROW(make());

    std::filesystem::remove(dir_ / HeadOnlyPunct::caseFile);
    EXPECT_THROW(make(), std::filesystem::filesystem_error);
    writeFile(dir_ / HeadOnlyPunct::caseFile, "{}");
    runtime_.failLoading(HeadOnlyPunct::file, "cannot load");
    EXPECT_THROW(make(), ml::ModelError);
}

}  // namespace
}  // namespace pelora
