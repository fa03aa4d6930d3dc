#pragma once
#include <optional>
#include <string>

// The pill's texts, byte for byte, and their number formats, which never follow the
// desktop's locale (a German desktop still reads "12.3s").
namespace HUDPillText {

inline constexpr const char* transcribing = "文字起こし中…";
inline constexpr const char* targetPrefix = "入力先: ";
inline constexpr const char* handsFreeBadge = "ハンズフリー";
inline constexpr const char* emptyResult = "↵ 改行";
inline constexpr const char* lineBreakMark = " ↵ ";
inline constexpr const char* reinsertPrefix = "再挿入 ";

// "%.1fs": 12.34 → "12.3s".
std::string elapsed(double seconds);
// "%.0fms · %.0f×": 1234.4 and 12.6 → "1234ms · 13×".
std::string latency(double latencyMs, double rtfx);
// The result on one line: "↵ 改行" when only white space, else every line feed as " ↵ ".
std::string resultLine(const std::string& text);
// The reinsert button's help text.
std::string reinsertTooltip(const std::string& reinsertBadge);
// A target name worth showing: present and not empty.
bool showsTarget(const std::optional<std::string>& targetAppName);

} // namespace HUDPillText
