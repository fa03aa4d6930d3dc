#include "PeloraVoiceApp/controller/OutputTab.h"

namespace pelora::output_tab {

std::string_view rawValue(OutputTab tab) {
    switch (tab) {
    case OutputTab::formatted: return "テキスト";
    case OutputTab::timestamps: return "タイムスタンプ";
    case OutputTab::srt: return "SRT字幕";
    }
    return "テキスト";
}

std::optional<OutputTab> fromRawValue(std::string_view raw) {
    for (auto tab : allCases)
        if (rawValue(tab) == raw) return tab;
    return std::nullopt;
}

}  // namespace pelora::output_tab
