#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include "engine/recognition/EG2Constants.h"
#include "engine/recognition/LogMel.h"
#include "engine/recognition/PeloraVoiceError.h"
#include "tests/support/TempDir.h"

namespace pelora {
namespace {

using pelora::testing::TempDir;
using pelora::testing::writeFile;

std::string floatBytes(const std::vector<float>& values) {
    return std::string(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(float));
}

std::vector<float> hannTable() {
    std::vector<float> w(320);
    for (int i = 0; i < 320; ++i) w[i] = static_cast<float>(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / 320));
    return w;
}

// Irregular weights, so that a transposed or shifted filter bank shows.
std::vector<float> filterTable() {
    std::vector<float> f(257 * 128);
    for (int k = 0; k < 257; ++k)
        for (int m = 0; m < 128; ++m) f[k * 128 + m] = static_cast<float>(((k * 7 + m * 13) % 17) / 17.0);
    return f;
}

class LogMelTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir_ / "hann_320.f32", floatBytes(hannTable()));
        writeFile(dir_ / "mel_filters_257x128.f32", floatBytes(filterTable()));
    }

    // Straight from the definition, in double precision.
    static std::vector<double> referenceFrame(const std::vector<float>& x, int f) {
        const auto hann = hannTable();
        const auto filters = filterTable();
        std::vector<double> frame(512, 0.0);
        for (int j = 0; j < 320; ++j) {
            long at = 160L * f - 160 + j;
            if (at >= 0 && at < static_cast<long>(x.size())) frame[j] = x[at] * static_cast<double>(hann[j]);
        }
        std::vector<double> spectrum(257);
        for (int k = 0; k < 257; ++k) {
            std::complex<double> sum = 0;
            for (int j = 0; j < 512; ++j) sum += frame[j] * std::polar(1.0, -2 * std::numbers::pi * j * k / 512);
            spectrum[k] = std::abs(sum);
        }
        std::vector<double> mel(128);
        for (int m = 0; m < 128; ++m) {
            double e = 0;
            for (int k = 0; k < 257; ++k) e += spectrum[k] * filters[k * 128 + m];
            mel[m] = std::log(e + 0.001);
        }
        return mel;
    }

    TempDir dir_;
};

TEST_F(LogMelTest, ValidFramesAndZeroRowsFollowTheSampleCount) {
    LogMel logMel(dir_.path());
    struct Case {
        std::size_t samples;
        std::int64_t validFrames;
    };
    const Case cases[] = {{0, 0}, {32, 0}, {33, 1}, {16000, 100}, {320000, 2000}, {400000, 2000}};
    for (const Case& c : cases) {
        std::vector<float> x(c.samples, 0.25f);
        auto features = logMel(x);
        ASSERT_EQ(features.mel.size(), 256000u) << c.samples << " samples";
        EXPECT_EQ(features.validFrames, c.validFrames) << c.samples << " samples";
        for (std::size_t i = static_cast<std::size_t>(c.validFrames) * 128; i < features.mel.size(); ++i) {
            ASSERT_EQ(features.mel[i], 0.0f) << c.samples << " samples, element " << i;
        }
        if (c.validFrames > 0) {
            EXPECT_NE(features.mel[0], 0.0f) << c.samples << " samples";
        }
    }
    auto none = logMel(std::span<const float>());
    EXPECT_EQ(none.validFrames, 0);
}

TEST_F(LogMelTest, MatchesTheDefinitionOnCentredZeroPaddedFrames) {
    LogMel logMel(dir_.path());
    std::vector<float> x(4000);
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = static_cast<float>(0.6 * std::sin(2 * std::numbers::pi * 440.0 * i / 16000) +
                                  0.2 * std::sin(2 * std::numbers::pi * 3100.0 * i / 16000 + 1.0));
    }
    auto features = logMel(x);
    ASSERT_EQ(features.validFrames, 25);
    for (int f : {0, 1, 12, 24}) {  // first and last frames reach into the zero padding
        auto expected = referenceFrame(x, f);
        for (int m = 0; m < 128; ++m) {
            ASSERT_NEAR(features.mel[f * 128 + m], expected[m], 2e-3) << "frame " << f << " band " << m;
        }
    }
}

TEST_F(LogMelTest, SilenceGivesTheLogOfTheFloorAndLaterSamplesDoNotMatter) {
    LogMel logMel(dir_.path());
    std::vector<float> silence(16000, 0.0f);
    auto features = logMel(silence);
    for (int i = 0; i < 100 * 128; ++i) ASSERT_EQ(features.mel[i], std::log(EG2Constants::logMelFloor)) << i;
    EXPECT_NEAR(features.mel[0], -6.9078, 1e-4);

    // Frame 1999 covers samples up to 319999 + 160 - 1; anything after that is never read.
    std::vector<float> a(330000, 0.1f), b(330000, 0.1f);
    for (std::size_t i = 320160; i < b.size(); ++i) b[i] = 0.9f;
    EXPECT_EQ(logMel(a).mel, logMel(b).mel);
}

TEST_F(LogMelTest, TablesOfTheWrongSizeAreRejectedAndAnyContentOfTheRightSizeAccepted) {
    struct Case {
        const char* file;
        std::size_t bytes;
        const char* payload;
    };
    const Case cases[] = {
        {"hann_320.f32", 1279, "hann_320.f32 size 1279"},
        {"hann_320.f32", 1281, "hann_320.f32 size 1281"},
        {"mel_filters_257x128.f32", 0, "mel_filters_257x128.f32 size 0"},
        {"mel_filters_257x128.f32", 131588, "mel_filters_257x128.f32 size 131588"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        writeFile(dir / "hann_320.f32", floatBytes(hannTable()));
        writeFile(dir / "mel_filters_257x128.f32", floatBytes(filterTable()));
        writeFile(dir / c.file, std::string(c.bytes, '\x01'));
        try {
            LogMel logMel(dir.path());
            ADD_FAILURE() << c.payload << ": accepted";
        } catch (const PeloraVoiceError& e) {
            EXPECT_EQ(e.errorCase(), PeloraVoiceError::Case::invalidModelAsset) << c.payload;
            EXPECT_EQ(e.payload(), c.payload);
        }
    }
    TempDir odd;
    writeFile(odd / "hann_320.f32", std::string(1280, '\x7f'));
    writeFile(odd / "mel_filters_257x128.f32", std::string(131584, '\x00'));
    EXPECT_NO_THROW(LogMel{odd.path()});
}

TEST_F(LogMelTest, AMissingTablePassesTheFileSystemErrorOn) {
    TempDir empty;
    EXPECT_THROW(LogMel{empty.path()}, std::filesystem::filesystem_error);
}

}  // namespace
}  // namespace pelora
