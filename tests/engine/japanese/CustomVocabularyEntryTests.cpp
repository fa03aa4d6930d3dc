#include "engine/japanese/CustomVocabularyEntry.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "engine/recognition/TranscriptionResult.h"

namespace pelora {
namespace {

using Json = nlohmann::ordered_json;

CustomVocabularyEntry sample() {
    return {"E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "こあえむえる", "Core ML", {"コアエムエル", "CoreML"},
            {"推論", "Apple"}, true};
}

Json sampleJSON() { return Json::parse(sample().toJSON()); }

TEST(CustomVocabularyEntry, EncodesSixKeysInFieldOrder) {
    EXPECT_EQ(sample().toJSON(),
              R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","reading":"こあえむえる","surface":"Core ML",)"
              R"("aliases":["コアエムエル","CoreML"],"contextHints":["推論","Apple"],"enabled":true})");
}

TEST(CustomVocabularyEntry, EncodingAndDecodingKeepsEveryFieldIncludingTheId) {
    CustomVocabularyEntry disabled = sample();
    disabled.enabled = false;
    disabled.aliases = {"", "a\"b\\c", "改行\n"};
    disabled.contextHints = {};
    for (const auto& entry : {sample(), disabled}) {
        const auto decoded = CustomVocabularyEntry::fromJSON(entry.toJSON());
        EXPECT_EQ(decoded, entry) << entry.toJSON();
        EXPECT_EQ(decoded.id, entry.id);
    }
}

TEST(CustomVocabularyEntry, DecodingRequiresEverySixKeysWithTheirTypes) {
    struct Case {
        const char* what;
        void (*change)(Json&);
    };
    const Case cases[] = {
        {"no id", [](Json& j) { j.erase("id"); }},
        {"no reading", [](Json& j) { j.erase("reading"); }},
        {"no surface", [](Json& j) { j.erase("surface"); }},
        {"no aliases", [](Json& j) { j.erase("aliases"); }},
        {"no contextHints", [](Json& j) { j.erase("contextHints"); }},
        {"no enabled", [](Json& j) { j.erase("enabled"); }},
        {"null id", [](Json& j) { j["id"] = nullptr; }},
        {"null aliases", [](Json& j) { j["aliases"] = nullptr; }},
        {"null enabled", [](Json& j) { j["enabled"] = nullptr; }},
        {"id not a UUID", [](Json& j) { j["id"] = "core-ml"; }},
        {"id with braces", [](Json& j) { j["id"] = "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}"; }},
        {"id as number", [](Json& j) { j["id"] = 7; }},
        {"reading as array", [](Json& j) { j["reading"] = Json::array({"こあ"}); }},
        {"aliases as string", [](Json& j) { j["aliases"] = "CoreML"; }},
        {"alias as number", [](Json& j) { j["aliases"] = Json::array({"CoreML", 1}); }},
        {"contextHints with null", [](Json& j) { j["contextHints"] = Json::array({nullptr}); }},
        {"enabled as string", [](Json& j) { j["enabled"] = "true"; }},
        {"enabled as number", [](Json& j) { j["enabled"] = 1; }},
        {"not an object", [](Json& j) { j = Json::array({j}); }},
    };
    for (const auto& c : cases) {
        Json json = sampleJSON();
        c.change(json);
        EXPECT_THROW(CustomVocabularyEntry::fromJSON(json.dump()), RecordCodingError) << c.what << ": " << json.dump();
    }
    EXPECT_THROW(CustomVocabularyEntry::fromJSON("{"), RecordCodingError);
}

TEST(CustomVocabularyEntry, DecodingIgnoresUnknownKeysAndReadsIdsInEitherCase) {
    Json json = sampleJSON();
    json["weight"] = 3;
    json["id"] = "e621e1f8-c36c-495a-93fc-0c247a3e6e5f";
    const auto decoded = CustomVocabularyEntry::fromJSON(json.dump());
    EXPECT_EQ(decoded, sample());
    EXPECT_EQ(decoded.id, sample().id);
}

TEST(CustomVocabularyEntry, EqualityComparesAllSixFields) {
    struct Case {
        const char* what;
        void (*change)(CustomVocabularyEntry&);
        bool equal;
    };
    const Case cases[] = {
        {"nothing changed", [](CustomVocabularyEntry&) {}, true},
        {"id letter case", [](CustomVocabularyEntry& e) { e.id = "e621e1f8-c36c-495a-93fc-0c247a3e6e5f"; }, true},
        {"enabled", [](CustomVocabularyEntry& e) { e.enabled = false; }, false},
        {"id", [](CustomVocabularyEntry& e) { e.id = "E621E1F8-C36C-495A-93FC-0C247A3E6E60"; }, false},
        {"reading", [](CustomVocabularyEntry& e) { e.reading = "こあ"; }, false},
        {"surface", [](CustomVocabularyEntry& e) { e.surface = "CoreML"; }, false},
        {"alias order", [](CustomVocabularyEntry& e) { std::swap(e.aliases[0], e.aliases[1]); }, false},
        {"extra alias", [](CustomVocabularyEntry& e) { e.aliases.push_back(""); }, false},
        {"context hint", [](CustomVocabularyEntry& e) { e.contextHints.pop_back(); }, false},
    };
    for (const auto& c : cases) {
        CustomVocabularyEntry changed = sample();
        c.change(changed);
        EXPECT_EQ(changed == sample(), c.equal) << c.what;
    }
    CustomVocabularyEntry voiced = sample();
    voiced.reading = "ぺろら";
    voiced.aliases[0] = "ペロラ";
    CustomVocabularyEntry voicedDecomposed = sample();
    voicedDecomposed.reading = "へ\u309Aろら";
    voicedDecomposed.aliases[0] = "ヘ\u309Aロラ";
    EXPECT_EQ(voiced, voicedDecomposed) << "canonically equivalent texts are equal";
}

TEST(CustomVocabularyEntry, NewIdsAreDistinctVersionFourUUIDs) {
    const std::string a = CustomVocabularyEntry::newID();
    const std::string b = CustomVocabularyEntry::newID();
    EXPECT_NE(a, b);
    for (const auto& id : {a, b}) {
        ASSERT_EQ(id.size(), 36u) << id;
        EXPECT_EQ(id[14], '4') << id;
        EXPECT_NE(std::string("89AB").find(id[19]), std::string::npos) << id;
        CustomVocabularyEntry entry = sample();
        entry.id = id;
        EXPECT_EQ(CustomVocabularyEntry::fromJSON(entry.toJSON()).id, id);
    }
}

}  // namespace
}  // namespace pelora
