#include "engine/japanese/JapaneseInputOptions.h"

#include <gtest/gtest.h>

#include "engine/recognition/TranscriptionResult.h"

namespace pelora {
namespace {

using Style = JapanesePunctuationStyle;
using Density = JapanesePunctuationDensity;

JapaneseInputOptions defaults() { return JapaneseInputOptions{}; }

TEST(JapaneseInputOptions, EnumerationsHaveTheirRawValuesNamesAndBadges) {
    struct StyleCase {
        Style style;
        const char* raw;
        const char* name;
    };
    const StyleCase styles[] = {
        {Style::standard, "standard", "標準和文（。、）"},
        {Style::academic, "academic", "技術・論文（．，）"},
        {Style::ascii, "ascii", "半角欧文（. ,）"},
        {Style::spaceOnly, "space_only", "チャット・空白区切り"},
    };
    ASSERT_EQ(std::size(styles), punctuation_style::allCases.size());
    for (std::size_t i = 0; i < std::size(styles); ++i) {
        const auto& c = styles[i];
        EXPECT_EQ(punctuation_style::allCases[i], c.style) << c.raw;
        EXPECT_EQ(punctuation_style::rawValue(c.style), c.raw);
        EXPECT_EQ(punctuation_style::displayName(c.style), c.name) << c.raw;
        EXPECT_EQ(punctuation_style::fromRawValue(c.raw), c.style) << c.raw;
    }

    struct DensityCase {
        Density density;
        const char* raw;
        const char* name;
        const char* badge;
    };
    const DensityCase densities[] = {
        {Density::light, "light", "控えめ（文末中心・読点少なめ）", "控えめ"},
        {Density::balanced, "balanced", "標準・Peloraバランス（推奨）", "標準(推奨)"},
        {Density::dense, "dense", "多め（短いポーズも区切る）", "多め"},
    };
    ASSERT_EQ(std::size(densities), punctuation_density::allCases.size());
    for (std::size_t i = 0; i < std::size(densities); ++i) {
        const auto& c = densities[i];
        EXPECT_EQ(punctuation_density::allCases[i], c.density) << c.raw;
        EXPECT_EQ(punctuation_density::rawValue(c.density), c.raw);
        EXPECT_EQ(punctuation_density::displayName(c.density), c.name) << c.raw;
        EXPECT_EQ(punctuation_density::shortBadge(c.density), c.badge) << c.raw;
        EXPECT_EQ(punctuation_density::fromRawValue(c.raw), c.density) << c.raw;
    }

    for (const char* raw : {"spaceOnly", "Standard", "ASCII", " standard", ""}) {
        EXPECT_FALSE(punctuation_style::fromRawValue(raw).has_value()) << raw;
    }
    for (const char* raw : {"Balanced", "LIGHT", "dense ", ""}) {
        EXPECT_FALSE(punctuation_density::fromRawValue(raw).has_value()) << raw;
    }
}

TEST(JapaneseInputOptions, DecodingFillsAbsentAndNullKeysWithDefaults) {
    struct Case {
        const char* json;
        JapaneseInputOptions expected;
    };
    auto with = [](auto change) {
        JapaneseInputOptions options;
        change(options);
        return options;
    };
    const Case cases[] = {
        {"{}", defaults()},
        {R"({"spokenToWrittenPolish": null})", defaults()},
        {R"({"removeFillers": null, "punctuationStyle": null, "punctuationDensity": null})", defaults()},
        {R"({"punctuationStyle": "space_only"})", with([](auto& o) { o.punctuationStyle = Style::spaceOnly; })},
        {R"({"punctuationDensity": "dense", "autoPunctuate": false})", with([](auto& o) {
             o.punctuationDensity = Density::dense;
             o.autoPunctuate = false;
         })},
        // Keys of a newer or older version are ignored.
        {R"({"futureSwitch": 3, "removeFillers": false})", with([](auto& o) { o.removeFillers = false; })},
        {R"({"removeFillers": false, "enableVoiceCommands": false, "normalizeNumbers": false,
             "normalizeAlphanumerics": false, "autoPunctuate": false, "spokenToWrittenPolish": true,
             "enableHomophoneReranking": false, "punctuationStyle": "academic", "punctuationDensity": "light"})",
         JapaneseInputOptions{false, false, false, false, false, true, false, Style::academic, Density::light}},
    };
    for (const auto& c : cases) {
        JapaneseInputOptions decoded;
        ASSERT_NO_THROW(decoded = JapaneseInputOptions::fromJSON(c.json)) << c.json;
        EXPECT_EQ(decoded, c.expected) << c.json;
    }
    const auto empty = JapaneseInputOptions::fromJSON("{}");
    EXPECT_TRUE(empty.removeFillers && empty.enableVoiceCommands && empty.normalizeNumbers &&
                empty.normalizeAlphanumerics && empty.autoPunctuate && empty.enableHomophoneReranking);
    EXPECT_FALSE(empty.spokenToWrittenPolish);
    EXPECT_EQ(empty.punctuationStyle, Style::standard);
    EXPECT_EQ(empty.punctuationDensity, Density::balanced);
}

TEST(JapaneseInputOptions, DecodingRefusesWrongTypesAndUnknownCases) {
    const char* cases[] = {
        R"({"punctuationStyle": "spaceOnly"})",
        R"({"punctuationDensity": "Balanced"})",
        R"({"punctuationStyle": 1})",
        R"({"removeFillers": "true"})",
        R"({"autoPunctuate": 1})",
        R"({"enableHomophoneReranking": []})",
        "[]",
        "\"standard\"",
        "",
        "{\"removeFillers\": tru}",
    };
    for (const char* json : cases) {
        EXPECT_THROW(JapaneseInputOptions::fromJSON(json), RecordCodingError) << json;
    }
}

TEST(JapaneseInputOptions, EncodingWritesAllNineKeysInFieldOrder) {
    EXPECT_EQ(defaults().toJSON(),
              R"({"removeFillers":true,"enableVoiceCommands":true,"normalizeNumbers":true,)"
              R"("normalizeAlphanumerics":true,"autoPunctuate":true,"spokenToWrittenPolish":false,)"
              R"("enableHomophoneReranking":true,"punctuationStyle":"standard","punctuationDensity":"balanced"})");
}

TEST(JapaneseInputOptions, EveryValueSurvivesEncodingAndDecoding) {
    for (Style style : punctuation_style::allCases) {
        for (Density density : punctuation_density::allCases) {
            for (unsigned bits = 0; bits < 128; ++bits) {
                const JapaneseInputOptions options{(bits & 1) != 0,  (bits & 2) != 0,  (bits & 4) != 0,
                                                   (bits & 8) != 0,  (bits & 16) != 0, (bits & 32) != 0,
                                                   (bits & 64) != 0, style,            density};
                const std::string json = options.toJSON();
                ASSERT_EQ(JapaneseInputOptions::fromJSON(json), options) << json;
            }
        }
    }
}

}  // namespace
}  // namespace pelora
