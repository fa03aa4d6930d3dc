#include "engine/japanese/DefaultVocabulary.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/RunCommand.h"

namespace pelora {
namespace {

// When started with this variable set, the program only reads the default vocabulary
// from eight threads at once, prints the identifiers each thread saw, and exits: the
// tests below use it to watch a fresh process build the list.
const bool printsIdsInFreshProcess = [] {
    if (!std::getenv("PELORA_PRINT_DEFAULT_VOCABULARY_IDS")) return false;
    std::vector<std::string> seen(8);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < seen.size(); ++t) {
        threads.emplace_back([t, &seen] {
            for (const auto& entry : defaultVocabulary()) seen[t] += entry.id + " ";
        });
    }
    for (auto& thread : threads) thread.join();
    for (const auto& line : seen) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    std::_Exit(0);
}();

std::vector<std::string> idLinesOfFreshProcess() {
    const auto result = testing::runCommand({"/proc/self/exe"}, {{"PELORA_PRINT_DEFAULT_VOCABULARY_IDS", "1"}});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> lines;
    std::istringstream in(result.out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string idLine(const std::vector<CustomVocabularyEntry>& entries) {
    std::string line;
    for (const auto& entry : entries) line += entry.id + " ";
    return line;
}

TEST(DefaultVocabulary, HoldsTheTenBuiltInEntriesInOrder) {
    struct Case {
        const char* reading;
        const char* surface;
        std::size_t aliases;
        const char* firstAlias;
        const char* lastAlias;
        std::size_t hints;
    };
    const Case cases[] = {
        {"えんべでぃんぐじぇま", "EmbeddingGemma 2", 5, "エンベディングジェマ", "embeddinggemma", 4},
        {"こあえむえる", "Core ML", 3, "コアエムエル", "CoreML", 4},
        {"にゅーらるえんじん", "Apple Neural Engine", 3, "ニューラルエンジン", "ANE", 4},
        {"にほんごおんせいにゅうりょく", "日本語音声入力", 2, "日本音声入力", "日本語音声にゅうりょく", 4},
        {"ぺろらぼいすつー", "PeloraVoice2", 3, "ペロラボイス2", "PeloraVoice 2", 3},
        {"ぺろらぼいす", "PeloraVoice", 2, "ペロラボイス", "ペロラボイス", 3},
        {"すうぃふとゆーあい", "SwiftUI", 3, "スウィフトユーアイ", "Swift UI", 4},
        {"ぷっしゅとぅとーく", "Push-to-Talk", 2, "プッシュトゥトーク", "プッシュトゥートーク", 4},
        {"みるか", "MIRK", 14, "ミルカ", "mirk", 11},
        {"ぐーぐるこらぼ", "Google Colab", 3, "グーグルコラボ", "Google コラボ", 5},
    };
    const auto& entries = defaultVocabulary();
    ASSERT_EQ(entries.size(), std::size(cases));
    std::set<std::string> ids;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& entry = entries[i];
        const auto& c = cases[i];
        EXPECT_EQ(entry.reading, c.reading) << i;
        EXPECT_EQ(entry.surface, c.surface) << i;
        ASSERT_EQ(entry.aliases.size(), c.aliases) << c.surface;
        EXPECT_EQ(entry.aliases.front(), c.firstAlias) << c.surface;
        EXPECT_EQ(entry.aliases.back(), c.lastAlias) << c.surface;
        EXPECT_EQ(entry.contextHints.size(), c.hints) << c.surface;
        EXPECT_TRUE(entry.enabled) << c.surface;
        EXPECT_EQ(CustomVocabularyEntry::fromJSON(entry.toJSON()), entry) << c.surface;
        ids.insert(entry.id);
    }
    EXPECT_EQ(ids.size(), entries.size()) << "every entry has its own identifier";
    EXPECT_EQ(entries[4].aliases[0], entries[4].aliases[1]) << "the duplicated first alias stays";
    EXPECT_EQ(entries[5].aliases[0], entries[5].aliases[1]) << "the duplicated first alias stays";
}

TEST(DefaultVocabulary, IsBuiltOncePerProcessWithFreshIdentifiers) {
    const auto& first = defaultVocabulary();
    EXPECT_EQ(&first, &defaultVocabulary());
    EXPECT_EQ(idLine(first), idLine(defaultVocabulary()));

    // Eight threads reaching for the list at once in a new process all see one list,
    // and each new process gets identifiers of its own.
    const auto childA = idLinesOfFreshProcess();
    const auto childB = idLinesOfFreshProcess();
    ASSERT_EQ(childA.size(), 8u);
    ASSERT_EQ(childB.size(), 8u);
    for (const auto& line : childA) EXPECT_EQ(line, childA.front());
    for (const auto& line : childB) EXPECT_EQ(line, childB.front());
    EXPECT_NE(childA.front(), childB.front());
    EXPECT_NE(childA.front(), idLine(first));
}

}  // namespace
}  // namespace pelora
