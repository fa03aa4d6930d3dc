#include "platform/text/Transliteration.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace pelora::text {
namespace {

TEST(Transliteration, ConvertsScriptsAndWidths) {
    using D = Transliteration::Direction;
    struct Case {
        const char* id;
        D direction;
        const char* input;
        const char* expected;
    };
    const Case cases[] = {
        {"Fullwidth-Halfwidth", D::forward, "ＡＢＣ１２３！", "ABC123!"},
        {"Fullwidth-Halfwidth", D::reverse, "ABC", "ＡＢＣ"},
        {"Hiragana-Katakana", D::forward, "ぺろらぼいす、です", "ペロラボイス、デス"},
        {"Hiragana-Katakana", D::reverse, "ミルカとCore ML", "みるかとCore ML"},
        {"Latin-Hiragana", D::forward, "kyouto", "きょうと"},
        {"Hiragana-Latin", D::forward, "みるか", "miruka"},
        {"NFD; [:Nonspacing Mark:] Remove; NFC", D::forward, "tōkyō", "tokyo"},
        {"Hiragana-Katakana", D::forward, "", ""},
    };
    for (const auto& c : cases) {
        const Transliteration transform(c.id, c.direction);
        EXPECT_TRUE(transform.isValid()) << c.id;
        EXPECT_EQ(transform.apply(c.input), c.expected) << c.id << " on " << c.input;
    }
}

TEST(Transliteration, UnknownIdentifierLeavesTextUnchanged) {
    const Transliteration unknown("No-Such-Transform");
    EXPECT_FALSE(unknown.isValid());
    EXPECT_EQ(unknown.apply("ひらがな"), "ひらがな");
}

TEST(Transliteration, OneSharedTransformServesManyThreadsAtOnce) {
    static const Transliteration toKatakana("Hiragana-Katakana");
    std::vector<std::thread> threads;
    std::vector<int> wrong(8, 0);
    for (std::size_t t = 0; t < 8; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 200; ++i) {
                if (toKatakana.apply("こあえむえる") != "コアエムエル") ++wrong[t];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (std::size_t t = 0; t < 8; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace pelora::text
