#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace pelora {

// The pages of the main window's sidebar; icon names are symbol names the views look up.
enum class SidebarSection { studio, rules, shortcuts };

namespace sidebar_section {
inline constexpr std::array<SidebarSection, 3> allCases{SidebarSection::studio, SidebarSection::rules,
                                                        SidebarSection::shortcuts};
std::string_view rawValue(SidebarSection section);
inline std::string_view id(SidebarSection section) { return rawValue(section); }
std::string_view title(SidebarSection section);
std::string_view subtitle(SidebarSection section);
std::string_view icon(SidebarSection section);
std::optional<SidebarSection> fromRawValue(std::string_view raw);
}  // namespace sidebar_section

}  // namespace pelora
