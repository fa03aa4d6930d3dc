#include "engine/recognition/AudioDecoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/recognition/PeloraVoiceError.h"
#include "platform/audiofile/AudioFile.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TempDir.h"

namespace pelora {

// Reaches the decoder's individual routes, which callers never see.
struct AudioDecoderTestAccess {
    static std::vector<float> fileRoute(const std::filesystem::path& p,
                                        std::size_t maxSamples = AudioDecoder::kMaxOutputSamples) {
        return AudioDecoder::decodeWithAVAudioFile(p, nullptr, maxSamples);
    }
    static std::vector<float> mediaRoute(const std::filesystem::path& p,
                                         std::size_t maxSamples = AudioDecoder::kMaxOutputSamples) {
        return AudioDecoder::decodeWithAVAssetReader(p, nullptr, maxSamples);
    }
    static std::vector<float> externalRoute(const std::filesystem::path& p,
                                            std::size_t maxSamples = AudioDecoder::kMaxOutputSamples) {
        return AudioDecoder::decodeWithAfconvert(p, nullptr, maxSamples);
    }
};

}  // namespace pelora

namespace {

namespace fs = std::filesystem;
using pelora::AudioDecoder;
using pelora::AudioDecoderTestAccess;
using pelora::PeloraVoiceError;
using pelora::testing::readFile;
using pelora::testing::runChecked;
using pelora::testing::TempDir;
using pelora::testing::writeFile;

std::vector<float> floatsOf(const std::string& bytes) {
    std::vector<float> v(bytes.size() / sizeof(float));
    std::memcpy(v.data(), bytes.data(), v.size() * sizeof(float));
    return v;
}

double rms(const std::vector<float>& v) {
    double sum = 0;
    for (float x : v) sum += static_cast<double>(x) * x;
    return v.empty() ? 0 : std::sqrt(sum / static_cast<double>(v.size()));
}

// Audio files made with espeak-ng and ffmpeg the first time a test asks for one, together
// with ffmpeg's own decoding of each. They are made once per build tree and shared by the
// test processes (each test runs in its own); a new recipe needs a new folder version.
class Fixtures {
public:
    static Fixtures& shared() {
        static Fixtures fixtures;
        return fixtures;
    }

    fs::path file(const std::string& name) const { return dir_ / name; }

    // What ffmpeg itself makes of the file: 16 kHz mono float, stereo averaged.
    std::vector<float> reference(const std::string& name) const {
        return floatsOf(readFile(dir_ / (name + ".f32")));
    }

private:
    Fixtures() : dir_(fs::path(PELORA_BINARY_DIR) / "test-fixtures" / "audio-decoder-1") {
        if (fs::exists(dir_)) return;
        fs::create_directories(dir_.parent_path());
        // Made in a private folder and moved into place whole, so that test processes running
        // side by side never see half a set.
        std::string pattern = (dir_.parent_path() / "making-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        const fs::path making = pattern;
        make(making);
        std::error_code ec;
        fs::rename(making, dir_, ec);
        if (ec) fs::remove_all(making);  // another process finished first; its set is the same
    }

    static std::string scrambled(std::string bytes, std::size_t at, std::size_t count) {
        std::mt19937 random(7);
        for (std::size_t i = at; i < at + count && i < bytes.size(); ++i) bytes[i] = static_cast<char>(random());
        return bytes;
    }

    static void make(const fs::path& dir) {
        auto at = [&](const char* name) { return (dir / name).string(); };
        runChecked({"espeak-ng", "-w", at("speech.wav"), "Decoding turns every file into sixteen kilohertz samples."});
        // One run makes every encoded file: speech on the left, a quieter tone on the right
        // (so that a wrong mix-down changes the level), and a test picture for the videos.
        runChecked({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", at("speech.wav"),
                    "-f", "lavfi", "-i", "sine=f=300:sample_rate=44100",
                    "-f", "lavfi", "-i", "testsrc=size=64x48:rate=10",
                    "-f", "lavfi", "-i", "sine=f=440:sample_rate=16000:d=1.5",
                    "-filter_complex",
                    "[0]aresample=44100,aformat=sample_fmts=fltp:channel_layouts=mono[a];"
                    "[1]volume=0.3,aformat=sample_fmts=fltp:channel_layouts=mono[b];"
                    "[a][b]amerge=inputs=2,asplit=6[s1][s2][s3][s4][s5][s6]",
                    "-map", "3:a", "-c:a", "pcm_f32le", at("tone16k_mono_f32.wav"),
                    "-map", "[s1]", "-c:a", "pcm_s16le", at("speech44k_stereo_s16.wav"),
                    "-map", "[s2]", "-c:a", "libmp3lame", "-b:a", "128k", at("speech.mp3"),
                    "-map", "[s3]", "-c:a", "aac", "-b:a", "128k", at("speech.m4a"),
                    "-map", "[s4]", at("speech.flac"),
                    "-map", "2:v", "-map", "[s5]", "-shortest", "-c:v", "mpeg4", "-c:a", "aac", at("speech_video.mp4"),
                    "-map", "2:v", "-map", "[s6]", "-shortest", "-c:v", "mpeg4", "-c:a", "aac", at("speech_video.mov")});

        // A complete header whose data chunk is empty: 44.1 kHz, stereo, 16 bit.
        const unsigned char header[44] = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                          16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0,
                                          4, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0, 0, 0};
        writeFile(dir / "zero_frames.wav", std::string(reinterpret_cast<const char*>(header), sizeof header));
        writeFile(dir / "random_bytes.wav", scrambled(std::string(65536, '\0'), 0, 65536));
        for (const auto& [from, to] : {std::pair{"speech44k_stereo_s16.wav", "truncated.wav"},
                                       std::pair{"speech.mp3", "truncated.mp3"}}) {
            const std::string whole = readFile(dir / from);
            writeFile(dir / to, whole.substr(0, whole.size() * 3 / 5 + 1));
        }
        const std::string flac = readFile(dir / "speech.flac");
        writeFile(dir / "damaged_middle.flac", scrambled(flac, flac.size() / 2, 2000));
        // STREAMINFO's 36-bit total-sample count set to its largest value (about 68.7e9
        // frames); the audio frames that follow are untouched.
        std::string huge = flac;
        huge[21] = static_cast<char>(huge[21] | 0x0F);
        for (int i = 22; i < 26; ++i) huge[i] = static_cast<char>(0xFF);
        writeFile(dir / "huge_length_header.flac", huge);

        for (const auto& [name, channels] : {std::pair{"tone16k_mono_f32.wav", 1}, {"speech44k_stereo_s16.wav", 2},
                                             {"speech.mp3", 2}, {"speech.m4a", 2}, {"speech_video.mp4", 2},
                                             {"speech_video.mov", 2}, {"truncated.wav", 2}, {"truncated.mp3", 2},
                                             {"damaged_middle.flac", 2}, {"huge_length_header.flac", 2}}) {
            std::vector<std::string> args = {"ffmpeg", "-nostdin", "-v", "quiet", "-i", at(name)};
            if (channels == 2) args.insert(args.end(), {"-af", "pan=mono|c0=0.5*c0+0.5*c1"});
            args.insert(args.end(), {"-ar", "16000", "-f", "f32le", "-"});
            writeFile(dir / (std::string(name) + ".f32"), pelora::testing::runCommand(args).out);
        }
    }

    fs::path dir_;
};

// Whatever a file's header claims, the decoder sets aside memory in proportion to the file
// itself (a few hundred bytes of samples per byte at most), never gigabytes.
std::uintmax_t capacityBound(const fs::path& file) {
    return std::max<std::uintmax_t>(200 * fs::file_size(file), 2'000'000) / sizeof(float);
}

std::vector<fs::path> decoderTemporaries(const fs::path& dir) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename().string().rfind("peloravoice_", 0) == 0) found.push_back(entry.path());
    }
    return found;
}

// Every test gets its own temporary directory, so that the files the decoder leaves
// behind (or does not) can be counted.
class AudioDecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        Fixtures::shared();  // its folder lives under the real temporary directory
        scratch_.emplace();
        if (const char* old = std::getenv("TMPDIR")) oldTmpdir_ = old;
        setenv("TMPDIR", scratch_->path().c_str(), 1);
    }
    void TearDown() override {
        if (oldTmpdir_) {
            setenv("TMPDIR", oldTmpdir_->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
        scratch_.reset();
    }
    std::vector<fs::path> leftovers() const { return decoderTemporaries(scratch_->path()); }

    std::optional<TempDir> scratch_;
    std::optional<std::string> oldTmpdir_;
};

// ---------------------------------------------------------------------------------------
// Decoded length and level against ffmpeg's own decoding of the same file.

// singleFinal: one report of 1.0 (read as it is, or by the container reader);
// rising: a report per chunk read.
enum class ProgressShape { singleFinal, rising };

struct DecodeCase {
    const char* fixture;
    ProgressShape progress;
    bool lengthKnown;  // the header's length is the real one, so progress ends at 1.0
    const char* what;
};

std::ostream& operator<<(std::ostream& os, const DecodeCase& c) { return os << c.fixture; }

const DecodeCase decodeCases[] = {
    {"tone16k_mono_f32.wav", ProgressShape::singleFinal, true, "16 kHz mono float: read as it is"},
    {"speech44k_stereo_s16.wav", ProgressShape::rising, true, "44.1 kHz stereo int16: converted and averaged"},
    {"speech.mp3", ProgressShape::rising, true, "MP3 through the sound-file reader"},
    {"speech.m4a", ProgressShape::rising, true, "M4A: only the container reader knows it"},
    {"speech_video.mp4", ProgressShape::rising, true, "MP4 with a video track"},
    {"speech_video.mov", ProgressShape::rising, true, "MOV with a video track"},
    {"truncated.wav", ProgressShape::rising, true, "WAV cut short: what is there"},
    {"truncated.mp3", ProgressShape::rising, false, "MP3 cut short: what is there"},
    // The sound-file reader fails part-way through (after reporting progress); the whole
    // file then comes from the external converter, which conceals the damage as ffmpeg does.
    {"damaged_middle.flac", ProgressShape::rising, true, "FLAC damaged in the middle"},
    {"huge_length_header.flac", ProgressShape::rising, false, "FLAC whose header claims 68e9 frames"},
};

class DecodeLikeFfmpeg : public AudioDecoderTest, public ::testing::WithParamInterface<DecodeCase> {};

TEST_P(DecodeLikeFfmpeg, LengthAndLevelMatchFfmpeg) {
    const DecodeCase& c = GetParam();
    SCOPED_TRACE(c.what);
    const fs::path file = Fixtures::shared().file(c.fixture);
    const std::vector<float> reference = Fixtures::shared().reference(c.fixture);
    ASSERT_GT(reference.size(), 8000u) << "ffmpeg decoded too little of " << c.fixture;

    std::vector<double> reports;
    const std::vector<float> samples =
        AudioDecoder::decode16kMono(file, [&](double fraction) { reports.push_back(fraction); });

    const double lengthTolerance = 0.01 * static_cast<double>(reference.size()) + 800;  // 1 % + 50 ms
    EXPECT_NEAR(static_cast<double>(samples.size()), static_cast<double>(reference.size()), lengthTolerance);
    EXPECT_NEAR(rms(samples), rms(reference), 0.03 * rms(reference));
    EXPECT_LE(samples.capacity(), capacityBound(file));

    ASSERT_FALSE(reports.empty());
    if (c.lengthKnown) {
        EXPECT_EQ(reports.back(), 1.0);
    }
    for (std::size_t i = 0; i < reports.size(); ++i) {
        EXPECT_GE(reports[i], 0.0);
        EXPECT_LE(reports[i], 1.0);
        if (i > 0) {
            EXPECT_GE(reports[i], reports[i - 1]) << "progress went back at report " << i;
        }
    }
    if (c.progress == ProgressShape::singleFinal) {
        EXPECT_EQ(reports.size(), 1u);
    } else {
        EXPECT_GT(reports.size(), 2u);
    }
    EXPECT_TRUE(leftovers().empty());
}

INSTANTIATE_TEST_SUITE_P(Files, DecodeLikeFfmpeg, ::testing::ValuesIn(decodeCases));

TEST_F(AudioDecoderTest, SixteenKilohertzMonoFloatComesBackSampleForSample) {
    const fs::path file = Fixtures::shared().file("tone16k_mono_f32.wav");
    EXPECT_EQ(AudioDecoder::decode16kMono(file, nullptr), Fixtures::shared().reference("tone16k_mono_f32.wav"));
}

// ---------------------------------------------------------------------------------------
// Files no route can decode: exactly the decoder's error, naming the bare file.

struct FailureCase {
    const char* fixture;  // nullptr: a path that does not exist
    const char* what;
};

std::ostream& operator<<(std::ostream& os, const FailureCase& c) {
    return os << (c.fixture ? c.fixture : "(missing file)");
}

const FailureCase failureCases[] = {
    {"zero_frames.wav", "a valid WAV holding no frames"},
    {"random_bytes.wav", "random bytes named .wav"},
    {nullptr, "no such file"},
};

class UndecodableFile : public AudioDecoderTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(UndecodableFile, FailsWithTheFileName) {
    const FailureCase& c = GetParam();
    SCOPED_TRACE(c.what);
    const fs::path file =
        c.fixture ? Fixtures::shared().file(c.fixture) : scratch_->path() / "sub" / ".." / "not_there.m4a";
    const std::string name = c.fixture ? c.fixture : "not_there.m4a";
    try {
        AudioDecoder::decode16kMono(file, nullptr);
        FAIL() << "decoded " << file;
    } catch (const PeloraVoiceError& e) {
        EXPECT_EQ(e.errorCase(), PeloraVoiceError::Case::audioDecodeFailed);
        EXPECT_EQ(e.payload(), name);
        EXPECT_EQ(std::string(e.what()), "音声ファイルのデコードに失敗しました: " + name);
    }
    EXPECT_TRUE(leftovers().empty()) << "the external converter's output outlived the call";
}

INSTANTIATE_TEST_SUITE_P(Files, UndecodableFile, ::testing::ValuesIn(failureCases));

// ---------------------------------------------------------------------------------------
// Headers cannot buy memory or time: declared sample rates outside 1 kHz to 768 kHz are
// refused at once, by every route, however small the file.

void putLE(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A 16-bit mono PCM WAV declaring `rate`, holding `frames` frames of a tone.
std::string pcmWAV(std::uint32_t rate, std::uint32_t frames) {
    std::string wav = "RIFF";
    putLE(wav, 36 + 2 * frames, 4);
    wav += "WAVEfmt ";
    putLE(wav, 16, 4);
    putLE(wav, 1, 2);  // PCM
    putLE(wav, 1, 2);  // one channel
    putLE(wav, rate, 4);
    putLE(wav, static_cast<std::uint32_t>(std::uint64_t{rate} * 2), 4);
    putLE(wav, 2, 2);
    putLE(wav, 16, 2);
    wav += "data";
    putLE(wav, 2 * frames, 4);
    for (std::uint32_t i = 0; i < frames; ++i) {
        putLE(wav, static_cast<std::uint16_t>(static_cast<std::int16_t>(8000 * std::sin(0.05 * i))), 2);
    }
    return wav;
}

struct RateCase {
    std::uint32_t rate;
    bool accepted;
    const char* what;
};

std::ostream& operator<<(std::ostream& os, const RateCase& c) { return os << c.rate << " Hz"; }

const RateCase rateCases[] = {
    {1, false, "1 Hz: 16000 output samples per input frame"},
    {999, false, "just below the range"},
    {1000, true, "lowest accepted rate"},
    {768000, true, "highest accepted rate"},
    {768001, false, "just above the range"},
    {1760000000, false, "1.76 GHz: a converter filter of that size"},
};

class DeclaredRate : public AudioDecoderTest, public ::testing::WithParamInterface<RateCase> {};

TEST_P(DeclaredRate, OutsideTheRangeIsTheDecodingError) {
    const RateCase& c = GetParam();
    SCOPED_TRACE(c.what);
    constexpr std::uint32_t frames = 50000;  // 100 KB
    const std::string name = "declared_" + std::to_string(c.rate) + ".wav";
    const fs::path file = scratch_->path() / name;
    writeFile(file, pcmWAV(c.rate, frames));

    if (c.accepted) {
        const double expected = frames * (16000.0 / c.rate);
        EXPECT_NEAR(static_cast<double>(AudioDecoder::decode16kMono(file, nullptr).size()), expected,
                    0.01 * expected + 64);
        return;
    }
    try {
        AudioDecoder::decode16kMono(file, nullptr);
        FAIL() << "decoded " << name;
    } catch (const PeloraVoiceError& e) {
        EXPECT_EQ(e.errorCase(), PeloraVoiceError::Case::audioDecodeFailed);
        EXPECT_EQ(e.payload(), name);
    }
    // The container reader refuses it on its own too, should the sound-file reader not know the file.
    EXPECT_ANY_THROW(AudioDecoderTestAccess::mediaRoute(file));
    EXPECT_TRUE(leftovers().empty());
}

INSTANTIATE_TEST_SUITE_P(Rates, DeclaredRate, ::testing::ValuesIn(rateCases));

// ---------------------------------------------------------------------------------------
// Every route stops at the output limit, and sets aside no more than it.

struct LimitCase {
    const char* fixture;
    std::vector<float> (*route)(const fs::path&, std::size_t);
    const char* what;
};

std::ostream& operator<<(std::ostream& os, const LimitCase& c) { return os << c.what; }

const LimitCase limitCases[] = {
    {"tone16k_mono_f32.wav", &AudioDecoderTestAccess::fileRoute, "sound file, read as it is"},
    {"speech44k_stereo_s16.wav", &AudioDecoderTestAccess::fileRoute, "sound file, converted"},
    {"speech.m4a", &AudioDecoderTestAccess::mediaRoute, "container reader"},
    {"speech.mp3", &AudioDecoderTestAccess::externalRoute, "external converter"},
};

class OutputLimit : public AudioDecoderTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(OutputLimit, DecodingStopsThereWithoutGrowingPastIt) {
    const LimitCase& c = GetParam();
    const fs::path file = Fixtures::shared().file(c.fixture);
    ASSERT_GT(Fixtures::shared().reference(c.fixture).size(), 12000u);
    constexpr std::size_t limit = 12000;
    const std::vector<float> samples = c.route(file, limit);
    EXPECT_EQ(samples.size(), limit);
    EXPECT_LE(samples.capacity(), limit);
    EXPECT_TRUE(leftovers().empty());
}

INSTANTIATE_TEST_SUITE_P(Routes, OutputLimit, ::testing::ValuesIn(limitCases));

// ---------------------------------------------------------------------------------------
// The routes one by one.

TEST_F(AudioDecoderTest, SoundFileRouteFailsOnDataDamagedAfterGoodFrames) {
    // The first half of this file reads fine; returning it would pass a shorter recording
    // off as the whole one.
    EXPECT_ANY_THROW(AudioDecoderTestAccess::fileRoute(Fixtures::shared().file("damaged_middle.flac")));
    EXPECT_ANY_THROW(AudioDecoderTestAccess::mediaRoute(Fixtures::shared().file("damaged_middle.flac")));
}

TEST_F(AudioDecoderTest, ContainerOnlyFilesSkipTheSoundFileRoute) {
    EXPECT_ANY_THROW(AudioDecoderTestAccess::fileRoute(Fixtures::shared().file("speech.m4a")));
    EXPECT_FALSE(AudioDecoderTestAccess::mediaRoute(Fixtures::shared().file("speech.m4a")).empty());
}

TEST_F(AudioDecoderTest, RoutesReserveNoMoreThanTheFileCanHold) {
    // The header claims 68.7e9 frames; trusting it would ask for some hundred gigabytes.
    const fs::path file = Fixtures::shared().file("huge_length_header.flac");
    const double expected = static_cast<double>(Fixtures::shared().reference("huge_length_header.flac").size());
    for (auto route : {&AudioDecoderTestAccess::fileRoute, &AudioDecoderTestAccess::mediaRoute}) {
        const std::vector<float> samples = route(file, AudioDecoder::kMaxOutputSamples);
        EXPECT_NEAR(static_cast<double>(samples.size()), expected, 800);
        EXPECT_LE(samples.capacity(), capacityBound(file));
    }
}

TEST_F(AudioDecoderTest, ExternalConverterDecodesAndRemovesItsOutput) {
    const fs::path file = Fixtures::shared().file("speech.mp3");
    const std::vector<float> reference = Fixtures::shared().reference("speech.mp3");
    const std::vector<float> samples = AudioDecoderTestAccess::externalRoute(file);
    EXPECT_NEAR(static_cast<double>(samples.size()), static_cast<double>(reference.size()), 16);
    EXPECT_NEAR(rms(samples), rms(reference), 0.01 * rms(reference));
    EXPECT_TRUE(leftovers().empty());

    EXPECT_ANY_THROW(AudioDecoderTestAccess::externalRoute(Fixtures::shared().file("random_bytes.wav")));
    EXPECT_TRUE(leftovers().empty());
}

// ---------------------------------------------------------------------------------------
// Temporary WAV files.

struct WavCase {
    std::size_t count;
    const char* what;
};

std::ostream& operator<<(std::ostream& os, const WavCase& c) { return os << c.count << " samples"; }

const WavCase wavCases[] = {{0, "no samples: a valid file with no frames"}, {1, "one sample"}, {40000, "2.5 s"}};

class TemporaryWAV : public AudioDecoderTest, public ::testing::WithParamInterface<WavCase> {};

TEST_P(TemporaryWAV, HoldsTheSamplesAsSixteenKilohertzMonoFloat) {
    const WavCase& c = GetParam();
    SCOPED_TRACE(c.what);
    std::vector<float> samples(c.count);
    for (std::size_t i = 0; i < c.count; ++i) samples[i] = 1.5f * std::sin(0.01f * static_cast<float>(i));

    const fs::path file = AudioDecoder::writeTemporaryWAV(samples);
    EXPECT_EQ(file.parent_path(), scratch_->path());
    const std::string name = file.filename().string();
    ASSERT_EQ(name.size(), std::string("peloravoice_").size() + 36 + 4) << name;
    EXPECT_EQ(name.substr(0, 12), "peloravoice_");
    EXPECT_EQ(name.substr(name.size() - 4), ".wav");
    EXPECT_EQ(name[12 + 8], '-');
    EXPECT_EQ(name[12 + 14], '4') << "not a version-4 UUID: " << name;

    EXPECT_EQ(runChecked({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name,sample_rate,channels", "-of",
                          "csv=p=0", file.string()}),
              "pcm_f32le,16000,1\n");
    pelora::audiofile::AudioFile reread(file);
    ASSERT_EQ(reread.format().frameCount, static_cast<std::int64_t>(c.count));
    std::vector<float> back(c.count + 1);
    back.resize(reread.readMono(back));
    EXPECT_EQ(back, samples) << "values above 1.0 must survive too";

    EXPECT_NE(AudioDecoder::writeTemporaryWAV(samples), file);
}

INSTANTIATE_TEST_SUITE_P(Lengths, TemporaryWAV, ::testing::ValuesIn(wavCases));

}  // namespace
