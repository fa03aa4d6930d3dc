#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace pelora {

// How text is put into a target application; stored by its raw value.
enum class TextInjectionRoute { axPrimary, clipboardPrimary, typingPrimary };

namespace text_injection_route {
inline constexpr std::array<TextInjectionRoute, 3> allCases{
    TextInjectionRoute::axPrimary, TextInjectionRoute::clipboardPrimary, TextInjectionRoute::typingPrimary};
std::string_view rawValue(TextInjectionRoute route);
std::string_view displayLabel(TextInjectionRoute route);
// Exact, case-sensitive match; an unknown raw value gives no route.
std::optional<TextInjectionRoute> fromRawValue(std::string_view raw);
}  // namespace text_injection_route

}  // namespace pelora
