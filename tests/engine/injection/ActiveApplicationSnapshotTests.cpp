#include "engine/injection/ActiveApplicationSnapshot.h"

#include <gtest/gtest.h>

#include "engine/recognition/TranscriptionResult.h"

namespace pelora {
namespace {

TEST(ActiveApplicationSnapshot, DisplayLabelFallsBackFromNameToIdentifierToProcess) {
    struct Case {
        const char* what;
        ActiveApplicationSnapshot snapshot;
        const char* label;
    };
    const Case cases[] = {
        {"name wins", {42, "org.mozilla.firefox", "Firefox"}, "Firefox"},
        {"empty name gives the identifier", {42, "org.mozilla.firefox", ""}, "org.mozilla.firefox"},
        {"absent name gives the identifier", {42, "com.apple.terminal", std::nullopt}, "com.apple.terminal"},
        {"a blank is a name", {42, "org.mozilla.firefox", " "}, " "},
        {"neither gives the process", {42, "", ""}, "PID 42"},
        {"both absent", {7, std::nullopt, std::nullopt}, "PID 7"},
        {"negative process keeps its sign", {-3, std::nullopt, ""}, "PID -3"},
        {"zero", {0, std::nullopt, std::nullopt}, "PID 0"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.snapshot.displayLabel(), c.label) << c.what;
}

TEST(ActiveApplicationSnapshot, JsonWritesOnlyPresentStringsAndReadsThemBack) {
    struct Case {
        const char* what;
        ActiveApplicationSnapshot snapshot;
        const char* json;
    };
    const Case cases[] = {
        {"all three", {1234, "org.gnome.gedit", "テキストエディター"},
         R"({"processIdentifier":1234,"bundleIdentifier":"org.gnome.gedit","appName":"テキストエディター"})"},
        {"process only", {99, std::nullopt, std::nullopt}, R"({"processIdentifier":99})"},
        {"empty strings are present", {5, "", ""}, R"({"processIdentifier":5,"bundleIdentifier":"","appName":""})"},
        {"extremes of the process range", {-2147483647 - 1, std::nullopt, "x"},
         R"({"processIdentifier":-2147483648,"appName":"x"})"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.snapshot.toJSON(), c.json) << c.what;
        EXPECT_EQ(ActiveApplicationSnapshot::fromJSON(c.json), c.snapshot) << c.what;
    }
}

TEST(ActiveApplicationSnapshot, DecodingRefusesDocumentsWithoutAUsableProcessIdentifier) {
    const char* documents[] = {
        R"({"bundleIdentifier":"org.mozilla.firefox","appName":"Firefox"})",
        R"({"processIdentifier":null})",
        R"({"processIdentifier":"12"})",
        R"({"processIdentifier":1.5})",
        R"({"processIdentifier":2147483648})",
        R"({"processIdentifier":1,"appName":3})",
        R"([1])",
        "",
    };
    for (const char* document : documents) {
        EXPECT_THROW(ActiveApplicationSnapshot::fromJSON(document), RecordCodingError) << document;
    }
    // Missing and null strings read as absent.
    EXPECT_EQ(ActiveApplicationSnapshot::fromJSON(R"({"processIdentifier":3,"appName":null})"),
              (ActiveApplicationSnapshot{3, std::nullopt, std::nullopt}));
}

TEST(ActiveApplicationSnapshot, EqualityComparesAllThreeFields) {
    const ActiveApplicationSnapshot base{1, "a", "b"};
    EXPECT_EQ(base, (ActiveApplicationSnapshot{1, "a", "b"}));
    EXPECT_NE(base, (ActiveApplicationSnapshot{2, "a", "b"}));
    EXPECT_NE(base, (ActiveApplicationSnapshot{1, std::nullopt, "b"}));
    EXPECT_NE(base, (ActiveApplicationSnapshot{1, "a", ""}));
}

}  // namespace
}  // namespace pelora
