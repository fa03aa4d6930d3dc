#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace pelora {

// The tabs of the output card; the raw value is also the tab's label.
enum class OutputTab { formatted, timestamps, srt };

namespace output_tab {
inline constexpr std::array<OutputTab, 3> allCases{OutputTab::formatted, OutputTab::timestamps, OutputTab::srt};
std::string_view rawValue(OutputTab tab);
inline std::string_view id(OutputTab tab) { return rawValue(tab); }
std::optional<OutputTab> fromRawValue(std::string_view raw);
}  // namespace output_tab

}  // namespace pelora
