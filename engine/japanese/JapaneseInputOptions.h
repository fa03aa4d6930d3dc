#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace pelora {

enum class JapanesePunctuationStyle { standard, academic, ascii, spaceOnly };
enum class JapanesePunctuationDensity { light, balanced, dense };

namespace punctuation_style {
inline constexpr std::array<JapanesePunctuationStyle, 4> allCases{
    JapanesePunctuationStyle::standard, JapanesePunctuationStyle::academic, JapanesePunctuationStyle::ascii,
    JapanesePunctuationStyle::spaceOnly};
std::string_view rawValue(JapanesePunctuationStyle style);
std::string_view displayName(JapanesePunctuationStyle style);
std::optional<JapanesePunctuationStyle> fromRawValue(std::string_view raw);
}  // namespace punctuation_style

namespace punctuation_density {
inline constexpr std::array<JapanesePunctuationDensity, 3> allCases{
    JapanesePunctuationDensity::light, JapanesePunctuationDensity::balanced, JapanesePunctuationDensity::dense};
std::string_view rawValue(JapanesePunctuationDensity density);
std::string_view displayName(JapanesePunctuationDensity density);
std::string_view shortBadge(JapanesePunctuationDensity density);
std::optional<JapanesePunctuationDensity> fromRawValue(std::string_view raw);
}  // namespace punctuation_density

// Switches of Japanese post-processing. Defaults apply only when decoding JSON.
struct JapaneseInputOptions {
    bool removeFillers = true;
    bool enableVoiceCommands = true;
    bool normalizeNumbers = true;
    bool normalizeAlphanumerics = true;
    bool autoPunctuate = true;
    bool spokenToWrittenPolish = false;
    bool enableHomophoneReranking = true;
    JapanesePunctuationStyle punctuationStyle = JapanesePunctuationStyle::standard;
    JapanesePunctuationDensity punctuationDensity = JapanesePunctuationDensity::balanced;

    std::string toJSON() const;
    // Absent or null keys take their defaults; a wrong type or unknown raw value throws RecordCodingError.
    static JapaneseInputOptions fromJSON(std::string_view json);

    friend bool operator==(const JapaneseInputOptions&, const JapaneseInputOptions&) = default;
};

}  // namespace pelora
