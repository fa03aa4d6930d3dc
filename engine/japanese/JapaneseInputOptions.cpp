#include "engine/japanese/JapaneseInputOptions.h"

#include <nlohmann/json.hpp>

#include "engine/recognition/RecordReader.h"
#include "engine/recognition/TranscriptionResult.h"

namespace pelora {

namespace punctuation_style {

std::string_view rawValue(JapanesePunctuationStyle style) {
    switch (style) {
        case JapanesePunctuationStyle::standard: return "standard";
        case JapanesePunctuationStyle::academic: return "academic";
        case JapanesePunctuationStyle::ascii: return "ascii";
        case JapanesePunctuationStyle::spaceOnly: return "space_only";
    }
    return "standard";
}

std::string_view displayName(JapanesePunctuationStyle style) {
    switch (style) {
        case JapanesePunctuationStyle::standard: return "標準和文（。、）";
        case JapanesePunctuationStyle::academic: return "技術・論文（．，）";
        case JapanesePunctuationStyle::ascii: return "半角欧文（. ,）";
        case JapanesePunctuationStyle::spaceOnly: return "チャット・空白区切り";
    }
    return "";
}

std::optional<JapanesePunctuationStyle> fromRawValue(std::string_view raw) {
    for (auto style : allCases) {
        if (rawValue(style) == raw) return style;
    }
    return std::nullopt;
}

}  // namespace punctuation_style

namespace punctuation_density {

std::string_view rawValue(JapanesePunctuationDensity density) {
    switch (density) {
        case JapanesePunctuationDensity::light: return "light";
        case JapanesePunctuationDensity::balanced: return "balanced";
        case JapanesePunctuationDensity::dense: return "dense";
    }
    return "balanced";
}

std::string_view displayName(JapanesePunctuationDensity density) {
    switch (density) {
        case JapanesePunctuationDensity::light: return "控えめ（文末中心・読点少なめ）";
        case JapanesePunctuationDensity::balanced: return "標準・Peloraバランス（推奨）";
        case JapanesePunctuationDensity::dense: return "多め（短いポーズも区切る）";
    }
    return "";
}

std::string_view shortBadge(JapanesePunctuationDensity density) {
    switch (density) {
        case JapanesePunctuationDensity::light: return "控えめ";
        case JapanesePunctuationDensity::balanced: return "標準(推奨)";
        case JapanesePunctuationDensity::dense: return "多め";
    }
    return "";
}

std::optional<JapanesePunctuationDensity> fromRawValue(std::string_view raw) {
    for (auto density : allCases) {
        if (rawValue(density) == raw) return density;
    }
    return std::nullopt;
}

}  // namespace punctuation_density

namespace {

using Json = nlohmann::ordered_json;

// Absent and null keep `value` at its default; anything but a JSON boolean is refused.
void readBool(const Json& object, const char* key, bool& value) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return;
    if (!it->is_boolean()) throw RecordCodingError(std::string("JapaneseInputOptions: \"") + key + "\" is not a boolean");
    value = it->get<bool>();
}

template <typename Enum, typename Parse>
void readEnum(const Json& object, const char* key, Enum& value, Parse parse) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) return;
    if (!it->is_string()) throw RecordCodingError(std::string("JapaneseInputOptions: \"") + key + "\" is not a string");
    const auto& raw = it->get_ref<const std::string&>();
    const auto parsed = parse(raw);
    if (!parsed) {
        throw RecordCodingError(std::string("JapaneseInputOptions: \"") + key + "\" has no case named \"" + raw + "\"");
    }
    value = *parsed;
}

}  // namespace

std::string JapaneseInputOptions::toJSON() const {
    Json json;
    json["removeFillers"] = removeFillers;
    json["enableVoiceCommands"] = enableVoiceCommands;
    json["normalizeNumbers"] = normalizeNumbers;
    json["normalizeAlphanumerics"] = normalizeAlphanumerics;
    json["autoPunctuate"] = autoPunctuate;
    json["spokenToWrittenPolish"] = spokenToWrittenPolish;
    json["enableHomophoneReranking"] = enableHomophoneReranking;
    json["punctuationStyle"] = std::string(punctuation_style::rawValue(punctuationStyle));
    json["punctuationDensity"] = std::string(punctuation_density::rawValue(punctuationDensity));
    return dumpRecord(json);
}

JapaneseInputOptions JapaneseInputOptions::fromJSON(std::string_view text) {
    const RecordReader reader(text, "JapaneseInputOptions");
    const Json& json = reader.object();

    JapaneseInputOptions options;  // member defaults are the decoding defaults
    readBool(json, "removeFillers", options.removeFillers);
    readBool(json, "enableVoiceCommands", options.enableVoiceCommands);
    readBool(json, "normalizeNumbers", options.normalizeNumbers);
    readBool(json, "normalizeAlphanumerics", options.normalizeAlphanumerics);
    readBool(json, "autoPunctuate", options.autoPunctuate);
    readBool(json, "spokenToWrittenPolish", options.spokenToWrittenPolish);
    readBool(json, "enableHomophoneReranking", options.enableHomophoneReranking);
    readEnum(json, "punctuationStyle", options.punctuationStyle, punctuation_style::fromRawValue);
    readEnum(json, "punctuationDensity", options.punctuationDensity, punctuation_density::fromRawValue);
    return options;
}

}  // namespace pelora
