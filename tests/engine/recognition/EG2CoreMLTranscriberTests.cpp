#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "engine/recognition/EG2CoreMLTranscriber.h"
#include "engine/recognition/PeloraHybridTranscriber.h"
#include "engine/recognition/PeloraVoiceError.h"
#include "platform/ml/Float16.h"
#include "platform/ml/ModelError.h"
#include "tests/support/ModelFixtures.h"
#include "tests/support/RunCommand.h"
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
constexpr int kRows = 64;

std::string floatBytes(std::size_t count, float value) {
    std::vector<float> v(count, value);
    return std::string(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(float));
}

std::string halfBytes(const std::vector<std::uint16_t>& v) {
    return std::string(reinterpret_cast<const char*>(v.data()), v.size() * 2);
}

// What the scripted reader says about output frame `frame` of window `window`: the row
// its vector points at (rows are unit vectors), the vector's length, and the blank score.
struct FrameScript {
    int row = 1;
    float amplitude = 1.0f;
    float blank = -100.0f;
};

// A model folder whose tables are real files and whose three models are scripted: the
// word table holds 64 unit rows "w0".."w63", the scorer always proposes blocks 0 to 15,
// so each frame's best row is the reader's row and its dot product the amplitude.
class EG2PipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir_ / "hann_320.f32", floatBytes(320, 1.0f));
        writeFile(dir_ / "mel_filters_257x128.f32", floatBytes(257 * 128, 0.0f));
        std::string list = "[";
        for (int r = 0; r < kRows; ++r) list += (r ? ",\"w" : "\"w") + std::to_string(r) + "\"";
        writeFile(dir_ / "reader_words.json", list + "]");
        std::vector<std::uint16_t> table(kRows * kDim, 0);
        for (int r = 0; r < kRows; ++r) table[r * kDim + r] = ml::floatToHalf(1.0f);
        writeFile(dir_ / "word_unit_f16.bin", halfBytes(table));
        writeFile(dir_ / "reader_P6.json", R"({"scale": 1.0, "bias": 0.0})");
        for (const char* bundle : {EG2CoreMLTranscriber::encoderFile, EG2CoreMLTranscriber::readerFile,
                                   EG2CoreMLTranscriber::scorerFile}) {
            std::filesystem::create_directories(dir_ / bundle);
        }

        runtime_.script(EG2CoreMLTranscriber::encoderFile, [this](const ml::FeatureInputs& in) {
            const MultiArray& mask = *in.at("feature_mask");
            int valid = 0;
            for (int f = 0; f < 2000; ++f) valid += mask.floats()[f] == 1.0f;
            featureMasks_.push_back(valid);
            ml::Prediction p;
            p.set("l11", MultiArray({1, 500, 1024}, ElementType::float16));
            return p;
        });
        runtime_.script(EG2CoreMLTranscriber::readerFile, [this](const ml::FeatureInputs& in) {
            const MultiArray& mask = *in.at("mask");
            int valid = 0;
            for (int j = 0; j < 500; ++j) valid += mask.floats()[j] == 1.0f;
            readerMasks_.push_back(valid);
            const int window = readerWindow_++;
            MultiArray vec({1, 500, kDim}, ElementType::float16);
            MultiArray blank({1, 500}, ElementType::float16);
            for (int j = 0; j < 500; ++j) {
                FrameScript s = frameScript_(window, j);
                vec.halves()[j * kDim + s.row] = ml::floatToHalf(s.amplitude);
                blank.halves()[j] = ml::floatToHalf(s.blank);
            }
            readerVec_ = vec.dataPointer();
            ml::Prediction p;
            p.set("vec", std::move(vec));
            p.set("blank", std::move(blank));
            return p;
        });
        runtime_.script(EG2CoreMLTranscriber::scorerFile, [this](const ml::FeatureInputs& in) {
            scorerGotReaderVec_ = in.at("vec")->dataPointer() == readerVec_;
            MultiArray bidx({1, 500, 16}, ElementType::int32);
            for (int j = 0; j < 500; ++j)
                for (int k = 0; k < 16; ++k) bidx.ints()[j * 16 + k] = k;
            ml::Prediction p;
            p.set("bidx", std::move(bidx));
            return p;
        });
    }

    std::unique_ptr<EG2CoreMLTranscriber> make() {
        return std::make_unique<EG2CoreMLTranscriber>(dir_.path(), ml::ComputeUnits::all, runtime_);
    }

    // Wraps a model's current script so that one output is replaced, or dropped.
    void replaceOutput(const char* model, const char* name, std::optional<MultiArray> value) {
        std::shared_ptr<ml::Model> inner = currentModel(model);
        runtime_.script(model, [inner, name, value](const ml::FeatureInputs& in) {
            ml::Prediction original = inner->prediction(in);
            ml::Prediction p;
            for (const auto& [n, a] : original.features()) {
                if (n != name) p.set(n, a);
            }
            if (value) p.set(name, *value);
            return p;
        });
    }
    // The model as scripted now, to be wrapped by another script.
    std::shared_ptr<ml::Model> currentModel(const char* model) {
        return runtime_.loadModel(dir_ / model, ml::ComputeUnits::all);
    }

    TempDir dir_;
    ScriptedModelRuntime runtime_;
    std::function<FrameScript(int, std::int64_t)> frameScript_ = [](int, std::int64_t j) {
        return FrameScript{1 + static_cast<int>(j % 2), 1.0f, -100.0f};
    };
    std::vector<int> featureMasks_;
    std::vector<int> readerMasks_;
    int readerWindow_ = 0;
    const void* readerVec_ = nullptr;
    bool scorerGotReaderVec_ = false;
};

TEST_F(EG2PipelineTest, LoadsTheThreeModelsAndTheTables) {
    auto eg2 = make();
    auto loads = runtime_.loads();
    ASSERT_EQ(loads.size(), 3u);  // no punctuation-head files: no attempt
    EXPECT_EQ(loads[0].folderName, EG2CoreMLTranscriber::encoderFile);
    EXPECT_EQ(loads[1].folderName, EG2CoreMLTranscriber::readerFile);
    EXPECT_EQ(loads[2].folderName, EG2CoreMLTranscriber::scorerFile);
    EXPECT_EQ(loads[0].units, ml::ComputeUnits::all);
    EXPECT_EQ(eg2->words().size(), 64u);
    EXPECT_EQ(eg2->wordToIndex().at("w5"), 5);
    EXPECT_EQ(eg2->wordTableData().size(), 64u * 1536);
    EXPECT_EQ(eg2->punctHead(), nullptr);
    EXPECT_EQ(eg2->folder(), dir_.path());
}

TEST_F(EG2PipelineTest, WindowsOverlapAndTheirKeptFramesMeetExactly) {
    struct Case {
        std::int64_t samples;
        std::int64_t windows;
        std::int64_t activeFrames;
        std::vector<int> outFrames;  // reader mask per window
    };
    const Case cases[] = {
        {320000, 1, 500, {500}},
        {320001, 2, 475 + 25, {500, 50}},
        {320000 + 288000, 2, 475 + 475, {500, 500}},
        {320000 + 288000 + 1, 3, 475 + 450 + 25, {500, 500, 50}},
        {16000, 1, 25, {25}},  // 100 mel frames, 25 output frames
    };
    auto eg2 = make();
    for (const Case& c : cases) {
        readerMasks_.clear();
        featureMasks_.clear();
        readerWindow_ = 0;
        std::vector<float> samples(static_cast<std::size_t>(c.samples), 0.01f);
        EG2CoreMLOutput out = eg2->runCoreMLPipeline(samples);
        EXPECT_EQ(out.windowCount, c.windows) << c.samples;
        EXPECT_EQ(out.activeFrameCount, c.activeFrames) << c.samples;
        EXPECT_EQ(readerMasks_, c.outFrames) << c.samples;
        EXPECT_TRUE(scorerGotReaderVec_) << "the scorer must get the reader's vec as it came";
        // Every kept frame is its own word (rows alternate), 40 ms apart, with no gap or
        // repeat at the seams.
        ASSERT_EQ(static_cast<std::int64_t>(out.words.size()), c.activeFrames) << c.samples;
        for (std::size_t i = 0; i < out.words.size(); ++i) {
            ASSERT_NEAR(out.words[i].start, 0.04 * static_cast<double>(i), 1e-9) << c.samples << " word " << i;
        }
        EXPECT_GT(out.logMelMs, 0.0);
        EXPECT_GE(out.scorerAndRerankMs, 0.0);
    }
    EXPECT_EQ(featureMasks_.size(), 1u);
    EXPECT_EQ(featureMasks_[0], 100);
}

TEST_F(EG2PipelineTest, NoSamplesOrNoFramesRunNoModel) {
    auto eg2 = make();
    EG2CoreMLOutput empty = eg2->runCoreMLPipeline({});
    EXPECT_EQ(empty.windowCount, 0);
    EXPECT_EQ(empty.text, "");
    std::vector<float> tiny(32, 0.5f);  // fewer than 33 samples: no log-mel frame
    EG2CoreMLOutput none = eg2->runCoreMLPipeline(tiny);
    EXPECT_EQ(none.windowCount, 1);
    EXPECT_EQ(none.activeFrameCount, 0);
    EXPECT_TRUE(none.words.empty());
    EXPECT_EQ(runtime_.predictions(EG2CoreMLTranscriber::encoderFile), 0);
}

TEST_F(EG2PipelineTest, BlankDecisionIsStrictAndUsesTheCalibration) {
    // Frames 0-9: dot 2 x scale 3 + bias -1 = 5 against blank 5 (tie: blank); frames 10-19
    // against blank 4.9 (a word); the rest against NaN (blank).
    writeFile(dir_ / "reader_P6.json", R"({"scale": 3.0, "bias": -1.0})");
    frameScript_ = [](int, std::int64_t j) {
        float blank = j < 10 ? 5.0f : j < 20 ? 4.8984375f : std::numeric_limits<float>::quiet_NaN();
        return FrameScript{3, 2.0f, blank};
    };
    auto eg2 = make();
    EXPECT_EQ(eg2->rScale(), 3.0f);
    EXPECT_EQ(eg2->rBias(), -1.0f);
    EG2CoreMLOutput out = eg2->runCoreMLPipeline(std::vector<float>(32000, 0.1f));
    EXPECT_EQ(out.activeFrameCount, 10);
    ASSERT_EQ(out.words.size(), 1u);
    EXPECT_NEAR(out.words[0].start, 0.40, 1e-9);
    EXPECT_NEAR(out.words[0].end, 0.80, 1e-9);
    EXPECT_EQ(out.text, "W3.");
}

TEST_F(EG2PipelineTest, AScoreThatTiesTheBlankAfterSeparateRoundingStaysBlank) {
    // Find x (a half), a scale and a bias for which x * scale rounds, then the sum lands
    // exactly on the blank score 0.5, while a fused multiply-add would not round the
    // product and would land just above it.
    const float x = 30.75f;
    float scale = 0, bias = 0;
    for (float s = 32.1f; s < 40.0f; s = std::nextafter(s, 100.0f)) {
        const double exact = static_cast<double>(x) * s;
        const auto rounded = static_cast<float>(exact);
        if (exact - rounded > 1e-6) {
            scale = s;
            bias = 0.5f - rounded;  // exact: both are near 1000 with the same spacing
            break;
        }
    }
    ASSERT_NE(scale, 0.0f);
    ASSERT_EQ(static_cast<float>(static_cast<double>(x) * scale) + bias, 0.5f);
    ASSERT_GT(std::fma(x, scale, bias), 0.5f) << "a fused multiply-add must tip this case";

    char json[128];
    std::snprintf(json, sizeof json, R"({"scale": %.9g, "bias": %.9g})", scale, bias);
    writeFile(dir_ / "reader_P6.json", json);
    frameScript_ = [x](int, std::int64_t) { return FrameScript{5, x, 0.5f}; };
    auto eg2 = make();
    ASSERT_EQ(eg2->rScale(), scale);
    ASSERT_EQ(eg2->rBias(), bias);
    EXPECT_EQ(eg2->runCoreMLPipeline(std::vector<float>(16000, 0.1f)).activeFrameCount, 0);

    std::snprintf(json, sizeof json, R"({"scale": %.9g, "bias": %.9g})", scale, std::nextafter(bias, 1.0f));
    writeFile(dir_ / "reader_P6.json", json);
    EXPECT_EQ(make()->runCoreMLPipeline(std::vector<float>(16000, 0.1f)).activeFrameCount, 25);
}

TEST_F(EG2PipelineTest, MissingShortOrMistypedOutputsFailWithTheirTexts) {
    struct Case {
        const char* name;
        const char* model;
        const char* output;
        std::optional<MultiArray> value;
        std::string payload;
    };
    const std::string l11Short = "Unexpected l11 shape/count from eg2_audio_l11: ";
    const std::string readerText = "Missing vec/blank output from reader_P6";
    const std::string scorerText = "Missing bidx output from scorer_blk";
    const char* enc = EG2CoreMLTranscriber::encoderFile;
    const char* rd = EG2CoreMLTranscriber::readerFile;
    const char* sc = EG2CoreMLTranscriber::scorerFile;
    const Case cases[] = {
        {"l11 missing", enc, "l11", std::nullopt, "Missing l11 output from eg2_audio_l11"},
        {"l11 short", enc, "l11", MultiArray({511999}, ElementType::float16), l11Short + "511999"},
        {"l11 in float32", enc, "l11", MultiArray({1, 500, 1024}, ElementType::float32), l11Short + "512000"},
        {"l11 padded rows", enc, "l11", MultiArray({1, 500, 1024}, {600000, 1200, 1}, ElementType::float16),
         l11Short + "512000"},
        {"vec missing", rd, "vec", std::nullopt, readerText},
        {"blank missing", rd, "blank", std::nullopt, readerText},
        {"vec for 24 frames", rd, "vec", MultiArray({1, 24, kDim}, ElementType::float16), readerText},
        {"vec in float32", rd, "vec", MultiArray({1, 500, kDim}, ElementType::float32), readerText},
        {"vec too narrow", rd, "vec", MultiArray({1, 500, 700}, {500 * kDim, kDim, 1}, ElementType::float16), readerText},
        {"vec with a gap between values", rd, "vec", MultiArray({1, 500, kDim}, {1536 * 500, 1536, 2}, ElementType::float16),
         readerText},
        {"blank for 24 frames", rd, "blank", MultiArray({1, 24}, ElementType::float16), readerText},
        {"blank as integers", rd, "blank", MultiArray({1, 500}, ElementType::int32), readerText},
        {"bidx missing", sc, "bidx", std::nullopt, scorerText},
        {"bidx for 24 frames", sc, "bidx", MultiArray({1, 24, 16}, ElementType::int32), scorerText},
        {"bidx with 8 blocks", sc, "bidx", MultiArray({1, 500, 8}, ElementType::int32), scorerText},
        {"bidx in float16", sc, "bidx", MultiArray({1, 500, 16}, ElementType::float16), scorerText},
    };
    for (const Case& c : cases) {
        SetUp();
        replaceOutput(c.model, c.output, c.value);
        auto eg2 = make();
        try {
            eg2->runCoreMLPipeline(std::vector<float>(16000, 0.1f));  // 25 output frames
            ADD_FAILURE() << c.name << ": no error";
        } catch (const PeloraVoiceError& e) {
            EXPECT_EQ(e.errorCase(), PeloraVoiceError::Case::coreMLPredictionFailed) << c.name;
            EXPECT_EQ(e.payload(), c.payload) << c.name;
        }
        // The lock was released: the next run does not wait forever.
        SetUp();
        auto next = make();
        EXPECT_NO_THROW(next->runCoreMLPipeline(std::vector<float>(16000, 0.1f))) << c.name;
    }
}

TEST_F(EG2PipelineTest, AnOutputJustLargeEnoughForTheValidFramesIsAccepted) {
    // 25 output frames need 24 x 768 + 768 vector values and 25 blank scores.
    replaceOutput(EG2CoreMLTranscriber::readerFile, "blank", MultiArray({1, 25}, ElementType::float16));
    replaceOutput(EG2CoreMLTranscriber::readerFile, "vec", MultiArray({1, 25, kDim}, ElementType::float16));
    auto eg2 = make();
    // Dot 0 against blank 0: every frame blank, none lost to a bounds check.
    EG2CoreMLOutput out = eg2->runCoreMLPipeline(std::vector<float>(16000, 0.1f));
    EXPECT_EQ(out.activeFrameCount, 0);
    EXPECT_EQ(out.windowCount, 1);
}

TEST_F(EG2PipelineTest, RuntimeErrorsPassThroughUnchanged) {
    runtime_.script(EG2CoreMLTranscriber::readerFile, [](const ml::FeatureInputs&) -> ml::Prediction {
        throw ml::ModelError("reader exploded");
    });
    auto eg2 = make();
    try {
        eg2->runCoreMLPipeline(std::vector<float>(1600, 0.1f));
        ADD_FAILURE() << "no error";
    } catch (const ml::ModelError& e) {
        EXPECT_STREQ(e.what(), "reader exploded");
    }
}

TEST_F(EG2PipelineTest, RunsOfOnePipelineAreSerialised) {
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::shared_ptr<ml::Model> inner = currentModel(EG2CoreMLTranscriber::encoderFile);
    runtime_.script(EG2CoreMLTranscriber::encoderFile, [&, inner](const ml::FeatureInputs& in) {
        if (inside.fetch_add(1) != 0) overlapped = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        auto p = inner->prediction(in);
        inside.fetch_sub(1);
        return p;
    });
    auto eg2 = make();
    std::vector<float> samples(16000, 0.1f);
    std::thread a([&] { eg2->runCoreMLPipeline(samples); });
    std::thread b([&] { eg2->runCoreMLPipeline(samples); });
    a.join();
    b.join();
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(runtime_.predictions(EG2CoreMLTranscriber::scorerFile), 2);
}

TEST_F(EG2PipelineTest, ReaderDescriptionFallsBackPerMember) {
    struct Case {
        const char* json;
        float scale;
        float bias;
    };
    const Case cases[] = {
        {"{}", 39.856663f, -0.46262076f},
        {R"({"scale": null})", 39.856663f, -0.46262076f},
        {R"({"scale": 2.5, "other": "x"})", 2.5f, -0.46262076f},
        {R"({"bias": 1})", 39.856663f, 1.0f},
    };
    for (const Case& c : cases) {
        writeFile(dir_ / "reader_P6.json", c.json);
        auto eg2 = make();
        EXPECT_EQ(eg2->rScale(), c.scale) << c.json;
        EXPECT_EQ(eg2->rBias(), c.bias) << c.json;
    }
}

TEST_F(EG2PipelineTest, BrokenAssetsFailConstruction) {
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path&)> spoil;
        std::optional<std::string> payload;  // invalidModelAsset payload, else any error
        bool payloadIsPrefix = false;        // the JSON library's own message follows
    };
    const Case cases[] = {
        {"empty word list", [](auto& d) { writeFile(d / "reader_words.json", "[]"); },
         "reader_words.json is empty"},
        {"word table one byte short",
         [](auto& d) { std::filesystem::resize_file(d / "word_unit_f16.bin", 64 * 1536 - 1); },
         "word_unit_f16.bin size mismatch: expected >= 98304 bytes for 64 words, got 98303"},
        {"words not strings", [](auto& d) { writeFile(d / "reader_words.json", "[1, 2]"); },
         "reader_words.json: entry 0 is not a string"},
        {"word list an object", [](auto& d) { writeFile(d / "reader_words.json", R"({"w0": 0})"); },
         "reader_words.json: not a JSON array"},
        {"word list not JSON", [](auto& d) { writeFile(d / "reader_words.json", "w0 w1"); },
         "reader_words.json: not valid JSON (", true},
        {"word list cut short", [](auto& d) { writeFile(d / "reader_words.json", R"(["w0", "w)"); },
         "reader_words.json: not valid JSON (", true},
        {"no reader description", [](auto& d) { std::filesystem::remove(d / "reader_P6.json"); }, std::nullopt},
        {"reader description not an object", [](auto& d) { writeFile(d / "reader_P6.json", "[]"); },
         "reader_P6.json: not a JSON object"},
        {"scale is text", [](auto& d) { writeFile(d / "reader_P6.json", R"({"scale": "1"})"); },
         "reader_P6.json: \"scale\" is not a number"},
        {"scale beyond a 32-bit float", [](auto& d) { writeFile(d / "reader_P6.json", R"({"scale": 1e39})"); },
         "reader_P6.json: \"scale\" does not fit in a 32-bit float"},
        {"bias beyond any double", [](auto& d) { writeFile(d / "reader_P6.json", R"({"bias": -1e400})"); },
         "reader_P6.json: not valid JSON (", true},
        {"no window table", [](auto& d) { std::filesystem::remove(d / "hann_320.f32"); }, std::nullopt},
    };
    for (const Case& c : cases) {
        SetUp();
        c.spoil(dir_.path());
        try {
            make();
            ADD_FAILURE() << c.name << ": built";
        } catch (const PeloraVoiceError& e) {
            ASSERT_TRUE(c.payload.has_value()) << c.name << ": " << e.what();
            EXPECT_EQ(e.errorCase(), PeloraVoiceError::Case::invalidModelAsset) << c.name;
            if (c.payloadIsPrefix) {
                EXPECT_TRUE(e.payload().starts_with(*c.payload)) << c.name << ": " << e.payload();
            } else {
                EXPECT_EQ(e.payload(), *c.payload) << c.name;
            }
        } catch (const std::exception& e) {
            EXPECT_FALSE(c.payload.has_value()) << c.name << ": " << e.what();
        }
    }
    SetUp();
    runtime_.failLoading(EG2CoreMLTranscriber::scorerFile, "scorer will not load");
    EXPECT_THROW(make(), ml::ModelError);
}

TEST_F(EG2PipelineTest, ALongerWordTableAndRepeatedWordsAreAccepted) {
    writeFile(dir_ / "reader_words.json", R"(["a", "b", "a"])");  // the table holds 64 rows
    auto eg2 = make();
    EXPECT_EQ(eg2->wordToIndex().at("a"), 2);
    std::filesystem::resize_file(dir_ / "word_unit_f16.bin", 3 * 1536);
    EXPECT_NO_THROW(make());
}

TEST_F(EG2PipelineTest, ThePunctuationHeadIsOptionalAndLoadsOnTheCPU) {
    std::filesystem::create_directories(dir_ / HeadOnlyPunct::file);
    writeFile(dir_ / HeadOnlyPunct::caseFile, "{}");
    runtime_.failLoading(HeadOnlyPunct::file, "head will not load");
    auto without = make();
    EXPECT_EQ(without->punctHead(), nullptr);

    runtime_.script(HeadOnlyPunct::file, [](const ml::FeatureInputs&) {
        ml::Prediction p;
        MultiArray punct({1, 96, 4}, ElementType::float16);
        for (int i = 0; i < 96; ++i) punct.halves()[i * 4 + 3] = ml::floatToHalf(1.0f);  // a question after each
        p.set("punct", std::move(punct));
        return p;
    });
    auto with = make();
    ASSERT_NE(with->punctHead(), nullptr);
    EXPECT_EQ(runtime_.loads().back().folderName, HeadOnlyPunct::file);
    EXPECT_EQ(runtime_.loads().back().units, ml::ComputeUnits::cpuOnly);
    frameScript_ = [](int, std::int64_t j) { return FrameScript{j < 5 ? 1 : 2, 1.0f, j < 10 ? -1.0f : 10.0f}; };
    EXPECT_EQ(with->runCoreMLPipeline(std::vector<float>(16000, 0.1f)).text, "W1? W2?");
}

// --- The real runtime on the synthetic models of tests/support/make_eg2_fixture.py ---

class EG2EndToEndTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        pelora::testing::makeEG2ModelFolder(dir_->path() / "models");
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::filesystem::path models() { return dir_->path() / "models"; }

    static void tone(std::vector<float>& samples, double from, double to, double hz) {
        for (auto i = static_cast<std::size_t>(from * 16000); i < static_cast<std::size_t>(to * 16000); ++i) {
            samples[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / 16000));
        }
    }

    // 3.2 s: "hello", "world" and "api" tones with half-second gaps.
    static std::vector<float> threeWords() {
        std::vector<float> samples(static_cast<std::size_t>(3.2 * 16000), 0.0f);
        tone(samples, 0.2, 0.8, 500);
        tone(samples, 1.3, 1.9, 2000);
        tone(samples, 2.4, 3.0, 4000);
        return samples;
    }

    static TempDir* dir_;
};
TempDir* EG2EndToEndTest::dir_ = nullptr;

TEST_F(EG2EndToEndTest, TonesBecomePunctuatedWordsWithPausesAndTerms) {
    EG2CoreMLTranscriber eg2(models(), ml::ComputeUnits::all);
    ASSERT_NE(eg2.punctHead(), nullptr);
    // 500 Hz reads as "hello", 2000 Hz as "world", 4000 Hz as "api".
    EG2CoreMLOutput out = eg2.runCoreMLPipeline(threeWords());
    EXPECT_EQ(out.text, "Hello world. API.");
    ASSERT_EQ(out.words.size(), 3u);
    EXPECT_EQ(out.words[0].rawText, "hello");
    EXPECT_EQ(out.words[1].text, "world.");
    EXPECT_EQ(out.words[2].text, "API");
    const double starts[] = {0.2, 1.3, 2.4};
    const double ends[] = {0.8, 1.9, 3.0};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(out.words[i].start, starts[i], 0.05) << out.words[i].rawText;
        EXPECT_NEAR(out.words[i].end, ends[i], 0.05) << out.words[i].rawText;
    }
    ASSERT_EQ(out.pauseTimestamps.size(), 2u);
    EXPECT_NEAR(out.pauseTimestamps[0], 1.05, 0.05);
    EXPECT_NEAR(out.pauseTimestamps[1], 2.15, 0.05);
    ASSERT_EQ(out.highConfidenceTerms.size(), 3u);
    EXPECT_EQ(out.highConfidenceTerms[2].text, "api");
    EXPECT_EQ(out.windowCount, 1);
    EXPECT_NEAR(static_cast<double>(out.activeFrameCount), 45.0, 3.0);  // 1.8 s of tones
    EXPECT_GT(out.encoderL11Ms, 0.0);
    EXPECT_GT(out.readerP6Ms, 0.0);
}

TEST_F(EG2EndToEndTest, AWordAcrossTheWindowSeamIsNotDoubled) {
    EG2CoreMLTranscriber eg2(models(), ml::ComputeUnits::all);
    // Windows [0, 20 s) and [18 s, 25 s) keep frames up to and from 19 s.
    std::vector<float> samples(25 * 16000, 0.0f);
    tone(samples, 1.0, 1.5, 2000);
    tone(samples, 18.6, 19.5, 500);
    tone(samples, 23.0, 23.5, 4000);
    EG2CoreMLOutput out = eg2.runCoreMLPipeline(samples);
    EXPECT_EQ(out.windowCount, 2);
    EXPECT_EQ(out.text, "World. Hello API.");
    ASSERT_EQ(out.words.size(), 3u);
    EXPECT_NEAR(out.words[1].start, 18.6, 0.05);
    EXPECT_NEAR(out.words[1].end, 19.5, 0.05);
}

// Points the application-support folder somewhere else for the life of the object.
class DataHome {
public:
    explicit DataHome(const std::filesystem::path& folder) {
        if (const char* old = std::getenv("XDG_DATA_HOME")) previous_ = old;
        ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
    }
    ~DataHome() {
        if (previous_) ::setenv("XDG_DATA_HOME", previous_->c_str(), 1);
        else ::unsetenv("XDG_DATA_HOME");
    }

private:
    std::optional<std::string> previous_;
};

TEST_F(EG2EndToEndTest, WithoutAFolderTheSharedModelFolderIsUsed) {
    TempDir data;
    std::filesystem::create_directories(data / "PeloraVoice2");
    std::filesystem::copy(models(), data / "PeloraVoice2" / "models", std::filesystem::copy_options::recursive);
    {
        DataHome home(data.path());
        EG2CoreMLTranscriber eg2(std::nullopt, ml::ComputeUnits::all);
        EXPECT_EQ(eg2.folder(), data / "PeloraVoice2" / "models");
    }
    TempDir nothing;
    DataHome home(nothing.path());
    try {
        EG2CoreMLTranscriber eg2(std::nullopt, ml::ComputeUnits::all);
        ADD_FAILURE() << "built without models";
    } catch (const PeloraVoiceError& e) {
        EXPECT_EQ(e.errorCase(), PeloraVoiceError::Case::modelsNotFound);
    }
}

TEST_F(EG2EndToEndTest, TheHybridTranscriberRunsThePipelineInTheEG2Mode) {
    PeloraHybridTranscriber transcriber(models());
    ASSERT_TRUE(transcriber.isEG2Loaded());
    TranscriptionResult result = transcriber.transcribeSamples(threeWords(), std::nullopt, EngineMode::pureEG2English,
                                                                JapaneseInputOptions{}, {}, std::nullopt, std::nullopt);
    EXPECT_EQ(result.text, "Hello world. API.");
    EXPECT_EQ(result.rawText, "hello world api");
    EXPECT_EQ(result.telemetry.windowCount, 1);
    EXPECT_EQ(result.telemetry.detectedEnglishEmbeddingTerms, (std::vector<std::string>{"hello", "world", "api"}));

    TempDir empty;
    EXPECT_FALSE(PeloraHybridTranscriber(empty.path()).isEG2Loaded());
}

// 16-bit PCM mono WAV at 16 kHz.
void writeWav(const std::filesystem::path& file, const std::vector<float>& samples) {
    auto le = [](std::string& out, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::string wav = "RIFF";
    le(wav, 36 + dataBytes, 4);
    wav += "WAVEfmt ";
    le(wav, 16, 4);
    le(wav, 1, 2);          // PCM
    le(wav, 1, 2);          // mono
    le(wav, 16000, 4);      // sample rate
    le(wav, 32000, 4);      // byte rate
    le(wav, 2, 2);          // block align
    le(wav, 16, 2);         // bits
    wav += "data";
    le(wav, dataBytes, 4);
    for (float x : samples) le(wav, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(x * 32767))), 2);
    writeFile(file, wav);
}

TEST_F(EG2EndToEndTest, TheCommandLineToolFindsTheSharedModelFolder) {
    TempDir data;
    std::filesystem::create_directories(data / "PeloraVoice2");
    std::filesystem::copy(models(), data / "PeloraVoice2" / "models", std::filesystem::copy_options::recursive);
    writeWav(data / "tones.wav", threeWords());

    auto run = pelora::testing::runCommand({PELORA_CLI_PATH, "--mode", "eg2", (data / "tones.wav").string()},
                                           {{"XDG_DATA_HOME", data.path().string()}});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("(EG2 CoreML Loaded: YES)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("[Final Formatted Output]\nHello world. API.\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("[Raw ASR Output]\nhello world api\n"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace pelora
