#include "platform/speech/SpeechModelCheck.h"

#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"
#include "tests/support/TinyWhisperModel.h"

namespace pelora::speech {
namespace {

using testing::TempDir;

// Header fields of a model file: four-byte integers after the magic number.
enum HeaderField { vocabulary = 1, audioContext, audioState, audioHeads, audioLayers, textContext, textState,
                   textHeads, textLayers, mels, fileType };

void putInt(std::string& bytes, std::size_t offset, std::int32_t value) {
    bytes.replace(offset, sizeof value, reinterpret_cast<const char*>(&value), sizeof value);
}

void setHeader(std::string& bytes, HeaderField field, std::int32_t value) { putInt(bytes, 4 * field, value); }

// Offset of a tensor's name in the table; its record starts with the dimension count,
// the name length and the element type, then one integer per dimension.
std::size_t nameOffset(const std::string& bytes, const std::string& name) {
    const std::size_t at = bytes.find(name);
    if (at == std::string::npos) throw std::runtime_error("no tensor " + name);
    return at;
}

class SpeechModelCheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        TempDir dir;
        testing::writeTinyWhisperModel(dir / "model.bin");
        model_ = new std::string(testing::readFile(dir / "model.bin"));
    }
    static void TearDownTestSuite() {
        delete model_;
        model_ = nullptr;
    }

    static SpeechModelCheck::Result checkBytes(const std::string& bytes) {
        return SpeechModelCheck::checkBytes(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    }

    static std::string* model_;
};

std::string* SpeechModelCheckTest::model_ = nullptr;

TEST_F(SpeechModelCheckTest, ASoundModelPassesAsBytesAndAsAFile) {
    const SpeechModelCheck::Result bytes = checkBytes(*model_);
    EXPECT_TRUE(bytes) << bytes.fault;
    EXPECT_TRUE(bytes.multilingual);
    TempDir dir;
    testing::writeFile(dir / "m.bin", *model_);
    const SpeechModelCheck::Result file = SpeechModelCheck::checkFile(dir / "m.bin");
    EXPECT_TRUE(file) << file.fault;
    EXPECT_FALSE(SpeechModelCheck::checkFile(dir / "missing.bin"));
    EXPECT_FALSE(SpeechModelCheck::checkFile(dir.path())) << "a folder is not a model";
}

TEST_F(SpeechModelCheckTest, DamagedOrHostileModelsFailWithTheFault) {
    struct Case {
        const char* name;
        std::function<std::string(std::string)> damage;
        std::string expectedFault;
    };
    const Case cases[] = {
        {"nothing at all", [](std::string) { return std::string(); }, "magic"},
        {"the magic number alone, then zeros",
         [](std::string) { return std::string("lmgg") + std::string(2048, '\0'); }, "vocabulary size"},
        {"an error page", [](std::string) { return std::string("<html>404</html>"); }, "magic"},
        {"weight type 99", [](std::string b) { setHeader(b, fileType, 99); return b; }, "weight type"},
        {"negative weight type", [](std::string b) { setHeader(b, fileType, -1); return b; }, "weight type"},
        {"vocabulary larger than any model's", [](std::string b) { setHeader(b, vocabulary, 60000); return b; },
         "vocabulary size"},
        {"other audio context", [](std::string b) { setHeader(b, audioContext, 1000); return b; }, "audio context"},
        {"a thousand layers", [](std::string b) { setHeader(b, audioLayers, 1000); return b; }, "layer count"},
        {"width of zero", [](std::string b) { setHeader(b, audioState, 0); setHeader(b, textState, 0); return b; },
         "width"},
        {"text width unlike audio width", [](std::string b) { setHeader(b, textState, 128); return b; }, "differs"},
        {"heads that do not divide the width", [](std::string b) { setHeader(b, audioHeads, 3); return b; },
         "multiple"},
        {"tiny text context", [](std::string b) { setHeader(b, textContext, 2); return b; }, "text context"},
        {"81 mel bands", [](std::string b) { setHeader(b, mels, 81); return b; }, "mel band"},
        {"mel filters of another FFT size", [](std::string b) { putInt(b, 52, 400); return b; }, "bins"},
        {"two layers declared, one stored", [](std::string b) { setHeader(b, audioLayers, 2); return b; },
         "missing"},
        {"a vocabulary entry longer than the file",
         [](std::string b) { putInt(b, 56 + 80 * 201 * 4 + 4, -1); return b; }, "vocabulary"},
        {"tensor type 99",
         [](std::string b) { putInt(b, nameOffset(b, "encoder.positional_embedding") - 12, 99); return b; },
         "tensor type"},
        {"tensor stored as half floats where the library reads floats",
         [](std::string b) { putInt(b, nameOffset(b, "encoder.positional_embedding") - 12, 1); return b; },
         "element type"},
        {"tensor of another shape",
         [](std::string b) { putInt(b, nameOffset(b, "encoder.positional_embedding") - 8, 32); return b; }, "shape"},
        {"five dimensions",
         [](std::string b) { putInt(b, nameOffset(b, "encoder.positional_embedding") - 20, 5); return b; },
         "dimension count"},
        {"a name as long as the file",
         [](std::string b) { putInt(b, nameOffset(b, "encoder.positional_embedding") - 16, 1 << 30); return b; },
         "name length"},
        {"a tensor the library does not know",
         [](std::string b) { b[nameOffset(b, "encoder.positional_embedding")] = 'X'; return b; }, "unexpected"},
        {"a tensor twice",
         [](std::string b) {
             const std::size_t at = nameOffset(b, "encoder.conv1.bias");
             b.replace(at, 18, "encoder.conv2.bias");
             return b;
         },
         "twice"},
        {"cut in half", [](std::string b) { b.resize(b.size() / 2); return b; }, "file ends"},
        {"last byte missing", [](std::string b) { b.pop_back(); return b; }, "file ends"},
        {"a byte too many", [](std::string b) { b.push_back('\0'); return b; }, "file ends"},
    };
    for (const Case& c : cases) {
        const std::string bytes = c.damage(*model_);
        const SpeechModelCheck::Result result = checkBytes(bytes);
        EXPECT_FALSE(result) << c.name;
        EXPECT_NE(result.fault.find(c.expectedFault), std::string::npos) << c.name << ": " << result.fault;
        // The file check reads the same structure by seeking; it reaches the same verdict.
        TempDir dir;
        testing::writeFile(dir / "m.bin", bytes);
        const SpeechModelCheck::Result file = SpeechModelCheck::checkFile(dir / "m.bin");
        EXPECT_EQ(file.sound, result.sound) << c.name;
        EXPECT_EQ(file.fault, result.fault) << c.name;
    }
}

}  // namespace
}  // namespace pelora::speech
