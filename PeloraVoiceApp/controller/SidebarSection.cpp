#include "PeloraVoiceApp/controller/SidebarSection.h"

namespace pelora::sidebar_section {

namespace {
struct Row {
    std::string_view raw, title, subtitle, icon;
};
const Row& row(SidebarSection section) {
    static const std::array<Row, 3> rows{{
        {"studio", "音声入力", "録音・ファイル文字起こし", "waveform.badge.mic"},
        {"rules", "日本語ルール・辞書", "句読点・フィラー・用語登録", "character.book.closed.fill"},
        {"shortcuts", "ショートカット・設定", "キー設定・入力先・権限", "keyboard"},
    }};
    return rows[static_cast<std::size_t>(section)];
}
}  // namespace

std::string_view rawValue(SidebarSection section) { return row(section).raw; }
std::string_view title(SidebarSection section) { return row(section).title; }
std::string_view subtitle(SidebarSection section) { return row(section).subtitle; }
std::string_view icon(SidebarSection section) { return row(section).icon; }

std::optional<SidebarSection> fromRawValue(std::string_view raw) {
    for (auto section : allCases)
        if (rawValue(section) == raw) return section;
    return std::nullopt;
}

}  // namespace pelora::sidebar_section
