#include "engine/japanese/VocabularyAliasReplacement.h"

#include <gtest/gtest.h>

namespace pelora {
namespace {

TEST(VocabularyAliasReplacement, ReplacesAliasesOnlyAtWordBoundaries) {
    struct Case {
        const char* text;
        const char* alias;
        const char* surface;
        const char* expected;
    };
    const Case cases[] = {
        // Katakana aliases: no katakana, ー or ・ may touch them.
        {"ミルカを使う", "ミルカ", "MIRK", "MIRKを使う"},
        {"ミルカ、ミルカ。", "ミルカ", "MIRK", "MIRK、MIRK。"},
        {"ミルカードで払う", "ミルカ", "MIRK", "ミルカードで払う"},
        {"ハミルカの話", "ミルカ", "MIRK", "ハミルカの話"},
        {"・ミルカ", "ミルカ", "MIRK", "・ミルカ"},
        {"ミルカー", "ミルカ", "MIRK", "ミルカー"},
        {"みるかとミルカ", "ミルカ", "MIRK", "みるかとMIRK"},
        {"ANEとニューラルエンジン", "ニューラルエンジン", "Apple Neural Engine", "ANEとApple Neural Engine"},
        // ASCII aliases: case-insensitive, no ASCII letter or digit may touch them.
        {"coreml と CoreML", "CoreML", "Core ML", "Core ML と Core ML"},
        {"CoreMLTools を入れる", "CoreML", "Core ML", "CoreMLTools を入れる"},
        {"ANE と PLANE", "ANE", "Apple Neural Engine", "Apple Neural Engine と PLANE"},
        {"日本語ANEです", "ANE", "Apple Neural Engine", "日本語Apple Neural Engineです"},
        {"mirk2 と mirk_", "mirk", "MIRK", "mirk2 と MIRK_"},
        // Mixed aliases: case-insensitive; Latin ends keep ASCII boundaries.
        {"Swift UIで作る", "Swift UI", "SwiftUI", "SwiftUIで作る"},
        {"Swift UIKit で作る", "Swift UI", "SwiftUI", "Swift UIKit で作る"},
        {"TaylorSwift UI", "Swift UI", "SwiftUI", "TaylorSwift UI"},
        {"swift ui と Swift UI", "Swift UI", "SwiftUI", "SwiftUI と SwiftUI"},
        {"googleコラボで実行", "Googleコラボ", "Google Colab", "Google Colabで実行"},
        {"MyGoogleコラボ", "Googleコラボ", "Google Colab", "MyGoogleコラボ"},
        {"スイフトUIKit", "スイフトUI", "SwiftUI", "スイフトUIKit"},
        {"スイフトUIの画面", "スイフトUI", "SwiftUI", "SwiftUIの画面"},
        {"ペロラボイス2です", "ペロラボイス2", "PeloraVoice2", "PeloraVoice2です"},
        {"ペロラボイス23", "ペロラボイス2", "PeloraVoice2", "ペロラボイス23"},
        {"日本音声入力ツール", "日本音声入力", "日本語音声入力", "日本語音声入力ツール"},
        {"embedding gemma と Embedding Gemma", "embedding gemma", "EmbeddingGemma 2",
         "EmbeddingGemma 2 と EmbeddingGemma 2"},
        // Pattern and template characters are taken literally.
        {"C++ と C", "C++", "CPP", "CPP と C"},
        {"a.b と axb", "a.b", "X", "X と axb"},
        {"ANE", "ANE", "$1\\0", "$1\\0"},
        {"(ミルカ)", "ミルカ", "$0", "($0)"},
        // Nothing to do.
        {"", "ミルカ", "MIRK", ""},
        {"ミルカ", "", "MIRK", "ミルカ"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(replaceAliasWithBoundary(c.text, c.alias, c.surface), c.expected)
            << "text " << c.text << ", alias " << c.alias;
    }
}

}  // namespace
}  // namespace pelora
