#include "engine/injection/FocusedTextContext.h"

#include <gtest/gtest.h>

#include "engine/recognition/TranscriptionResult.h"

namespace pelora {
namespace {

using Terms = std::vector<std::string>;

TEST(FocusedTextContext, EmptinessAndCombinedTextIgnoreTheApplicationFields) {
    struct Case {
        const char* what;
        FocusedTextContext context;
        bool empty;
        const char* combined;
    };
    const Case cases[] = {
        {"nothing", {}, true, ""},
        {"application only", {.appName = "Xcode", .bundleIdentifier = "com.apple.dt.Xcode"}, true, ""},
        {"empty strings", {.windowTitle = "", .selectedText = "", .preText = "", .postText = ""}, true, ""},
        {"selection and after",
         {.windowTitle = std::nullopt, .selectedText = "選択", .preText = "", .postText = "後ろ"},
         false,
         "選択 後ろ"},
        {"all four, in title-pre-selection-post order",
         {.windowTitle = "main.swift", .selectedText = "sel", .preText = "before", .postText = "after"},
         false,
         "main.swift before sel after"},
        {"no trimming", {.preText = " 前 ", .postText = "\n"}, false, " 前  \n"},
        {"white space counts as text", {.postText = " "}, false, " "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.context.isEmpty(), c.empty) << c.what;
        EXPECT_EQ(c.context.combinedContextText(), c.combined) << c.what;
    }
}

TEST(FocusedTextContext, ExtractedTermsAreDistinctLatinWordsInFirstSeenOrder) {
    struct Case {
        const char* text;
        Terms expected;
    };
    const Case cases[] = {
        {"README.md を開く", {"README.md", "README"}},
        {"Xcode で開いて、あとで xcode を閉じる", {"Xcode"}},
        {"return value and the result", {"value", "result"}},
        {"Swift と Swift.Package", {"Swift", "Swift.Package", "Package"}},
        {"self.view.frame", {"self.view.frame", "view", "frame"}},
        {"ab UI 3dModel _private x2y", {"x2y"}},
        {"com.example.App", {"com.example.App", "com", "example", "App"}},
        {"C++ と c++17 と A+B", {"c++17", "A+B"}},
        {"Node.js v18.2", {"Node.js", "Node", "v18.2", "v18"}},
        {"日本語だけの文", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        const FocusedTextContext context{.preText = c.text};
        EXPECT_EQ(context.extractedContextTerms(), c.expected) << c.text;
    }
    const FocusedTextContext spread{.windowTitle = "PeloraVoice", .selectedText = "pelora", .preText = "MIRK",
                                    .postText = "peloravoice Pelora"};
    EXPECT_EQ(spread.extractedContextTerms(), (Terms{"PeloraVoice", "MIRK", "pelora"}));
}

TEST(FocusedTextContext, TheElementConstructionStoresTheRoleAsWindowTitle) {
    const auto context = FocusedTextContext::fromElement("Editor", "org.example.editor", "AXTextArea", "before",
                                                         "selected", "after");
    const FocusedTextContext expected{.appName = "Editor", .bundleIdentifier = "org.example.editor",
                                      .windowTitle = "AXTextArea", .selectedText = "selected", .preText = "before",
                                      .postText = "after"};
    EXPECT_EQ(context, expected);
}

TEST(FocusedTextContext, JSONWritesOnlyPresentFieldsAndReadsMissingOrNullAsAbsent) {
    const FocusedTextContext partial{.appName = "Xcode", .preText = "", .postText = "後ろ\"の\"文"};
    EXPECT_EQ(partial.toJSON(), R"({"appName":"Xcode","preText":"","postText":"後ろ\"の\"文"})");
    EXPECT_EQ(FocusedTextContext{}.toJSON(), "{}");

    const FocusedTextContext full{.appName = "a", .bundleIdentifier = "b", .windowTitle = "c", .selectedText = "d",
                                  .preText = "e", .postText = "f"};
    for (const auto& context : {partial, full, FocusedTextContext{}}) {
        EXPECT_EQ(FocusedTextContext::fromJSON(context.toJSON()), context) << context.toJSON();
    }
    EXPECT_EQ(FocusedTextContext::fromJSON(R"({"appName":null,"windowTitle":"w","extra":1})"),
              (FocusedTextContext{.windowTitle = "w"}));

    for (const char* bad : {R"({"appName":1})", R"({"preText":["a"]})", "[]", "\"text\"", "{"}) {
        EXPECT_THROW(FocusedTextContext::fromJSON(bad), RecordCodingError) << bad;
    }
}

}  // namespace
}  // namespace pelora
