#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/recognition/EngineMode.h"
#include "engine/recognition/PeloraVoiceError.h"
#include "engine/recognition/Punct.h"
#include "engine/recognition/TranscriptionResult.h"
#include "engine/recognition/WordCase.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TempDir.h"

namespace pelora {
namespace {

TranscribedWord word(std::string text, double start, double end, float confidence = 1, std::string source = "EG2+JA") {
    return TranscribedWord(std::move(text), std::nullopt, start, end, confidence, std::move(source));
}

TranscriptionResult resultWith(std::vector<TranscribedWord> words, std::string text = "") {
    TranscriptionResult r;
    r.text = std::move(text);
    r.words = std::move(words);
    return r;
}

TEST(TranscribedWordTest, RawTextDefaultsToTextOnlyWhenAbsent) {
    EXPECT_EQ(TranscribedWord("abc", std::nullopt, 0, 1, 1, "x").rawText, "abc");
    EXPECT_EQ(TranscribedWord("abc", std::string(), 0, 1, 1, "x").rawText, "");
}

TEST(TranscribedWordTest, IdentityUsesShortestRoundTripNumbers) {
    struct Case {
        double start, end;
        const char* expected;
    };
    const Case cases[] = {
        {0, 1.5, "0.0-1.5-abc"},
        {2, 10, "2.0-10.0-abc"},
        {0.1, 0.30000000000000004, "0.1-0.30000000000000004-abc"},
        {1e16, 1e-5, "1e+16-1e-05-abc"},
        {0.0001, 123456.25, "0.0001-123456.25-abc"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(word("abc", c.start, c.end).id(), c.expected) << c.start << " " << c.end;
    }
}

TEST(RecordTest, EnumerationsAcceptOnlyTheirRawValues) {
    EXPECT_EQ(punct::fromRawValue(3), Punct::question);
    EXPECT_FALSE(punct::fromRawValue(4));
    EXPECT_FALSE(punct::fromRawValue(-1));
    EXPECT_EQ(word_case::fromRawValue(2), WordCase::upper);
    EXPECT_FALSE(word_case::fromRawValue(3));
    EXPECT_EQ(engine_mode::fromRawValue("pure_eg2_en"), EngineMode::pureEG2English);
    EXPECT_FALSE(engine_mode::fromRawValue("Hybrid_ja_en"));
    EXPECT_EQ(punct::japaneseSuffix(Punct::question), "？");
    EXPECT_EQ(punct::englishSuffix(Punct::none), "");
}

TEST(RecordTest, WordCaseApply) {
    struct Case {
        WordCase wordCase;
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {WordCase::cap, "swift", "Swift"},    {WordCase::lower, "MiXeD", "MiXeD"}, {WordCase::upper, "gpu", "GPU"},
        {WordCase::cap, "", ""},              {WordCase::upper, "straße", "STRASSE"},
        {WordCase::cap, "éclair", "Éclair"},  {WordCase::cap, "e\xCC\x81" "t", "E\xCC\x81" "t"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(word_case::apply(c.wordCase, c.in), c.out) << c.in;
    }
}

TEST(RecordTest, TelemetryRealTimeFactor) {
    EG2Telemetry t;
    t.audioDurationSeconds = 10;
    t.totalProcessingMs = 2000;
    EXPECT_DOUBLE_EQ(t.rtfx(), 5);
    t.totalProcessingMs = 0;
    EXPECT_EQ(t.rtfx(), 0);
    t.totalProcessingMs = -3;
    EXPECT_EQ(t.rtfx(), 0);
}

TEST(RecordTest, ErrorDescriptionsArePrefixPlusPayload) {
    EXPECT_STREQ(PeloraVoiceError::coreMLPredictionFailed("x").what(), "Core ML推論エラー: x");
    EXPECT_STREQ(PeloraVoiceError::coreMLPredictionFailed("").what(), "Core ML推論エラー: ");
    EXPECT_STREQ(PeloraVoiceError::modelsNotFound("/m").what(), "EG2モデルが見つかりません: /m");
    EXPECT_STREQ(PeloraVoiceError::audioDecodeFailed("a.wav").what(), "音声ファイルのデコードに失敗しました: a.wav");
    EXPECT_STREQ(PeloraVoiceError::invalidModelAsset("v").what(), "モデルアセットの読み込みに失敗しました: v");
}

TEST(RecordTest, EqualityIsCanonical) {
    TranscriptionResult a = resultWith({word("caf\xC3\xA9", 0, 1)}, "\xC3\xA9");
    TranscriptionResult b = resultWith({word("cafe\xCC\x81", 0, 1)}, "e\xCC\x81");
    EXPECT_EQ(a, b);
    b.words[0].start = std::nan("");
    a.words[0].start = std::nan("");
    EXPECT_FALSE(a == b);
}

TranscriptionResult sampleResult() {
    TranscriptionResult r;
    r.text = "今日はAPIの話。";
    r.rawText = "きょうは API の話";
    r.eg2DirectText = "API";
    r.words = {word("今日は", 0, 0.5, 0.9f), TranscribedWord("API", std::string("api"), 0.5, 1.25, 0.75f, "EG2+JA")};
    r.pauseTimestamps = {0.5, 2.25};
    r.telemetry.audioDurationSeconds = 3;
    r.telemetry.totalProcessingMs = 12.5;
    r.telemetry.windowCount = 1;
    r.telemetry.activeFrameCount = 75;
    r.telemetry.pauseSegmentCount = 2;
    r.telemetry.detectedEnglishEmbeddingTerms = {"API"};
    r.telemetry.appliedRuleAnnotations = {"フィラー・言い淀み除去"};
    r.engineMode = EngineMode::appleSpeechJa;
    return r;
}

TEST(ResultJSONTest, RoundTripsAndIgnoresUnknownKeys) {
    TranscriptionResult r = sampleResult();
    EXPECT_EQ(TranscriptionResult::fromJSON(r.toJSON()), r);
    std::string withExtra = r.toJSON();
    withExtra.insert(1, "\"extra\":[1,2],");
    EXPECT_EQ(TranscriptionResult::fromJSON(withExtra), r);
}

TEST(ResultJSONTest, ReadingIsStrict) {
    const std::string good = sampleResult().toJSON();
    struct Case {
        const char* what;
        std::string from, to;
    };
    const Case cases[] = {
        {"missing eg2DirectText", "\"eg2DirectText\":\"API\",", ""},
        {"unknown mode", "\"apple_speech_ja\"", "\"Apple_speech_ja\""},
        {"string where a number is expected", "\"windowCount\":1", "\"windowCount\":\"1\""},
        {"fractional integer", "\"windowCount\":1", "\"windowCount\":1.5"},
        {"null text", "\"text\":\"今日はAPIの話。\"", "\"text\":null"},
        {"words not an array", "\"words\":[", "\"words\":{\"a\":[ "},
        {"integer beyond 64 signed bits", "\"windowCount\":1", "\"windowCount\":18446744073709551615"},
        {"number beyond any double", "\"windowCount\":1", "\"windowCount\":1e400"},
        {"confidence beyond a 32-bit float", "\"confidence\":", "\"confidence\":1e39,\"was\":"},
    };
    for (const Case& c : cases) {
        std::string json = good;
        auto pos = json.find(c.from);
        ASSERT_NE(pos, std::string::npos) << c.what;
        json.replace(pos, c.from.size(), c.to);
        EXPECT_THROW(TranscriptionResult::fromJSON(json), RecordCodingError) << c.what << ": " << json;
    }
    EXPECT_THROW(TranscriptionResult::fromJSON("not json"), RecordCodingError);
}

TEST(ResultJSONTest, NonFiniteNumbersAreRefusedWhenWriting) {
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
        TranscriptionResult r = sampleResult();
        r.words[0].end = bad;
        EXPECT_THROW(r.toJSON(), RecordCodingError);
        r = sampleResult();
        r.telemetry.logMelMs = bad;
        EXPECT_THROW(r.toJSON(), RecordCodingError);
    }
}

TEST(TimeFormattingTest, TokenJoiner) {
    struct Case {
        std::vector<std::string> tokens;
        const char* joined;
    };
    const Case cases[] = {
        {{}, ""},
        {{"hello", "world."}, "hello world."},
        {{"API", "を"}, "APIを"},
        {{"3", ","}, "3,"},
        {{"a,", "b"}, "a, b"},
        {{"了解。", "OK"}, "了解。OK"},
        {{"x", "", "y"}, "x y"},
        {{"", "y"}, "y"},
        {{"end.", "42"}, "end. 42"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(joinTranscriptTokens(c.tokens), c.joined);
    }
}

TEST(TimeFormattingTest, SRTTimestamp) {
    struct Case {
        double seconds;
        const char* text;
    };
    const Case cases[] = {
        {3661.5, "01:01:01,500"},
        {-2, "00:00:00,000"},
        {0.0005, "00:00:00,000"},
        {0.29, "00:00:00,289"},
        {1.2, "00:00:01,199"},  // truncated, never rounded
        {59.999, "00:00:59,999"},
        {360000, "100:00:00,000"},
        {std::nan(""), "00:00:00,000"},
        {std::numeric_limits<double>::infinity(), "00:00:00,000"},
        {1e300, "277777777:46:40,000"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(srtTimestamp(c.seconds), c.text) << c.seconds;
    }
}

TEST(TimeFormattingTest, SentenceSegments) {
    EXPECT_TRUE(resultWith({}).sentenceSegments().empty());

    auto englishSentence = resultWith({word("Hello", 0, 0.4), word("world.", 0.4, 0.9)}).sentenceSegments();
    ASSERT_EQ(englishSentence.size(), 1u);
    EXPECT_EQ(englishSentence[0].text, "Hello world.");

    auto closesAtExactly45 =
        resultWith({word("あ", 0, 1), word("い", 1, 2), word("う", 2, 4.5), word("え", 4.5, 5)}).sentenceSegments();
    ASSERT_EQ(closesAtExactly45.size(), 2u);
    EXPECT_EQ(closesAtExactly45[0].text, "あいう");
    EXPECT_EQ(closesAtExactly45[0].end, 4.5);
    EXPECT_EQ(closesAtExactly45[1].start, 4.5);

    auto staysOpen = resultWith({word("あ", 0, 1), word("い", 1, 2), word("う", 2, 4.49)}).sentenceSegments();
    ASSERT_EQ(staysOpen.size(), 1u);
    EXPECT_EQ(staysOpen[0].end, 4.49);

    auto mixed = resultWith({word("a", 0, 1, 0.5f, "JA-ANE"), word("b、", 1, 2, 1.0f, "other"),
                             word("c。", 2, 3, 1.0f, "other"), word("d", 3, 4, 1, "x")})
                     .sentenceSegments();
    ASSERT_EQ(mixed.size(), 2u);
    EXPECT_EQ(mixed[0].text, "a b、c。");
    EXPECT_FLOAT_EQ(mixed[0].confidence, 2.5f / 3);
    EXPECT_EQ(mixed[0].source, "JA-ANE");
    EXPECT_EQ(mixed[1].source, "JA-ANE");
    EXPECT_EQ(mixed[1].rawText, "d");
}

TEST(TimeFormattingTest, TimestampLines) {
    EXPECT_EQ(resultWith({}, "テキスト").formattedTimestamps(), "テキスト");
    auto r = resultWith({word("今日は", 1.5, 123.456, 1, "JA-ANE"), word("x", 0, 0.004, 1, "JA-ANE")});
    EXPECT_EQ(r.formattedTimestamps(), "[01.50s → 123.46s] 今日は (JA-ANE)\n[00.00s → 00.00s] x (JA-ANE)");
}

TEST(TimeFormattingTest, SRTBlocks) {
    EXPECT_EQ(resultWith({}).formattedSRT(), "");
    auto r = resultWith({word("こんにちは。", 0, 1.25), word("元気？", 1.5, 3661.5)});
    EXPECT_EQ(r.formattedSRT(),
              "1\n00:00:00,000 --> 00:00:01,250\nこんにちは。\n\n2\n00:00:01,500 --> 01:01:01,500\n元気？");
}

// A real subtitle reader accepts what we write.
TEST(TimeFormattingTest, FFmpegReadsOurSRT) {
    testing::TempDir dir;
    auto r = resultWith({word("こんにちは。", 0, 1.25), word("Hello", 1.5, 2), word("world.", 2, 2.6)});
    testing::writeFile(dir / "out.srt", r.formattedSRT() + "\n");
    testing::runChecked({"ffmpeg", "-loglevel", "error", "-y", "-i", (dir / "out.srt").string(),
                         (dir / "out.vtt").string()});
    std::string vtt = testing::readFile(dir / "out.vtt");
    EXPECT_NE(vtt.find("00:00.000 --> 00:01.250"), std::string::npos) << vtt;
    EXPECT_NE(vtt.find("Hello world."), std::string::npos) << vtt;
    EXPECT_NE(vtt.find("こんにちは。"), std::string::npos) << vtt;
}

}  // namespace
}  // namespace pelora
