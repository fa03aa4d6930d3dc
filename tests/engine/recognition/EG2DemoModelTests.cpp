// The shipped demonstration model set (models/eg2-demo) through the real model runtime:
// two clips of held-out voices and sentences must come out as their words, so a change
// to the features, the runtime, rescoring or decoding that breaks a trained model fails.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "engine/recognition/AudioDecoder.h"
#include "engine/recognition/EG2CoreMLTranscriber.h"
#include "engine/recognition/ModelManager.h"

namespace pelora {
namespace {

const std::filesystem::path kSource = PELORA_SOURCE_DIR;

std::string joinedRawWords(const EG2CoreMLOutput& out) {
    std::ostringstream text;
    for (std::size_t i = 0; i < out.words.size(); ++i) text << (i ? " " : "") << out.words[i].rawText;
    return text.str();
}

TEST(EG2DemoModelTest, ShippedFolderIsCompleteAndLoadsEveryModel) {
    const auto folder = kSource / "models" / "eg2-demo";
    EXPECT_TRUE(ModelManager::isCompleteModelDirectory(folder));
    EG2CoreMLTranscriber eg2(folder, ml::ComputeUnits::all);
    EXPECT_NE(eg2.punctHead(), nullptr);
    EXPECT_EQ(eg2.words().front(), "<rep>");
}

TEST(EG2DemoModelTest, HeldOutClipsBecomeTheirWords) {
    struct Case {
        const char* clip;
        const char* words;
    };
    // What these models hear, not what was said: they mishear or miss a word here and there
    // ("please push the new Python code to GitHub before the review", "the API returns JSON
    // from the database query").
    const Case cases[] = {
        {"eg2-demo-1.wav", "please push the gnu Python encode GitHub before the review"},
        {"eg2-demo-2.wav", "they API returns JSON on from database query"},
    };
    EG2CoreMLTranscriber eg2(kSource / "models" / "eg2-demo", ml::ComputeUnits::all);
    for (const Case& c : cases) {
        const std::vector<float> samples = AudioDecoder::decode16kMono(kSource / "samples" / c.clip, nullptr);
        const EG2CoreMLOutput out = eg2.runCoreMLPipeline(samples);
        EXPECT_EQ(joinedRawWords(out), c.words) << c.clip << " read as: " << out.text;
        EXPECT_EQ(out.windowCount, 1) << c.clip;
        ASSERT_FALSE(out.words.empty()) << c.clip;
        // Words lie inside the clip, in order.
        for (std::size_t i = 1; i < out.words.size(); ++i) {
            EXPECT_LE(out.words[i - 1].start, out.words[i].start) << c.clip;
        }
        EXPECT_LE(out.words.back().end, static_cast<double>(samples.size()) / 16000 + 0.05) << c.clip;
    }
}

}  // namespace
}  // namespace pelora
