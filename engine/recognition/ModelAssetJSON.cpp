#include "engine/recognition/ModelAssetJSON.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include <nlohmann/json.hpp>

#include "engine/recognition/PeloraVoiceError.h"

namespace pelora::ModelAssetJSON {

namespace {

using json = nlohmann::json;

[[noreturn]] void damaged(const char* file, const std::string& what) {
    throw PeloraVoiceError::invalidModelAsset(std::string(file) + ": " + what);
}

json parse(std::string_view bytes, const char* file) {
    try {
        return json::parse(bytes.begin(), bytes.end());
    } catch (const json::exception& error) {
        // Parse errors, and numbers beyond any double, which the library reports apart.
        damaged(file, std::string("not valid JSON (") + error.what() + ")");
    }
}

float calibration(const json& description, const char* key, float fallback) {
    const auto it = description.find(key);
    if (it == description.end() || it->is_null()) return fallback;
    if (!it->is_number()) damaged("reader_P6.json", std::string("\"") + key + "\" is not a number");
    const double value = it->get<double>();
    if (std::fabs(value) > std::numeric_limits<float>::max())
        damaged("reader_P6.json", std::string("\"") + key + "\" does not fit in a 32-bit float");
    return static_cast<float>(value);
}

}  // namespace

ReaderCalibration readerDescription(std::string_view bytes, ReaderCalibration defaults) {
    const json description = parse(bytes, "reader_P6.json");
    if (!description.is_object()) damaged("reader_P6.json", "not a JSON object");
    return {calibration(description, "scale", defaults.scale), calibration(description, "bias", defaults.bias)};
}

std::vector<std::string> wordList(std::string_view bytes) {
    const json list = parse(bytes, "reader_words.json");
    if (!list.is_array()) damaged("reader_words.json", "not a JSON array");
    std::vector<std::string> words;
    words.reserve(list.size());
    for (const json& word : list) {
        if (!word.is_string()) damaged("reader_words.json", "entry " + std::to_string(words.size()) + " is not a string");
        words.push_back(word.get<std::string>());
    }
    return words;
}

std::unordered_map<std::string, WordCase> caseOverrides(std::string_view bytes) {
    const json object = parse(bytes, "punct_case.json");
    if (!object.is_object()) damaged("punct_case.json", "not a JSON object");
    std::unordered_map<std::string, WordCase> overrides;
    for (const auto& [word, value] : object.items()) {
        const bool isByte = value.is_number_integer() &&
                            (value.is_number_unsigned() ? value.get<std::uint64_t>() <= 255
                                                        : value.get<std::int64_t>() >= 0 && value.get<std::int64_t>() <= 255);
        if (!isByte) damaged("punct_case.json", "\"" + word + "\" is not an integer from 0 to 255");
        // Values other than the three classes are allowed and mean nothing.
        if (auto wordCase = word_case::fromRawValue(value.get<std::int64_t>())) overrides.emplace(word, *wordCase);
    }
    return overrides;
}

}  // namespace pelora::ModelAssetJSON
