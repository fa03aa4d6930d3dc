#include "engine/japanese/DefaultVocabulary.h"

namespace pelora {

namespace {

CustomVocabularyEntry entry(std::string reading, std::string surface, std::vector<std::string> aliases,
                            std::vector<std::string> contextHints) {
    return {CustomVocabularyEntry::newID(), std::move(reading), std::move(surface), std::move(aliases),
            std::move(contextHints), true};
}

}  // namespace

const std::vector<CustomVocabularyEntry>& defaultVocabulary() {
    // Built once, safely against concurrent first use; identifiers are new in every process.
    // PeloraVoice2 and PeloraVoice list their first alias twice on purpose: the copy is harmless.
    static const std::vector<CustomVocabularyEntry> entries{
        entry("えんべでぃんぐじぇま", "EmbeddingGemma 2",
              {"エンベディングジェマ", "エンベッディングジェマ", "エンベディングジェマ2", "embedding gemma",
               "embeddinggemma"},
              {"モデル", "音声", "ベクトル", "Google"}),
        entry("こあえむえる", "Core ML",
              {"コアエムエル", "コアML", "CoreML"},
              {"推論", "モデル", "Apple", "Neural"}),
        entry("にゅーらるえんじん", "Apple Neural Engine",
              {"ニューラルエンジン", "アップルニューラルエンジン", "ANE"},
              {"高速", "Core ML", "推論", "Mac"}),
        entry("にほんごおんせいにゅうりょく", "日本語音声入力",
              {"日本音声入力", "日本語音声にゅうりょく"},
              {"ツール", "高速", "音声", "Mac"}),
        entry("ぺろらぼいすつー", "PeloraVoice2",
              {"ペロラボイス2", "ペロラボイス2", "PeloraVoice 2"},
              {"アプリ", "音声入力", "ツール"}),
        entry("ぺろらぼいす", "PeloraVoice",
              {"ペロラボイス", "ペロラボイス"},
              {"アプリ", "音声入力", "ツール"}),
        entry("すうぃふとゆーあい", "SwiftUI",
              {"スウィフトユーアイ", "スイフトUI", "Swift UI"},
              {"画面", "実装", "macOS", "AppKit"}),
        entry("ぷっしゅとぅとーく", "Push-to-Talk",
              {"プッシュトゥトーク", "プッシュトゥートーク"},
              {"キー", "右オプション", "録音", "音声入力"}),
        entry("みるか", "MIRK",
              {"ミルカ", "ミルヴァ", "ミルコ", "ミルヴォ", "ミルパ", "ミルポ", "ミルップ", "ミロップ", "ミルクブ",
               "ミルクヴ", "ミルクブイ", "エムアイアールケー", "Mirk", "mirk"},
              {"意図", "判断", "モデル", "文脈", "補正", "PeloraVoice", "変換", "直され", "誤変換", "候補",
               "リストアップ"}),
        entry("ぐーぐるこらぼ", "Google Colab",
              {"グーグルコラボ", "Googleコラボ", "Google コラボ"},
              {"ノートブック", "GPU", "Python", "実行", "環境"}),
    };
    return entries;
}

}  // namespace pelora
