#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/recognition/WordCase.h"

namespace pelora {

// The JSON files of the model folder, decoded from their bytes. Every fault, including
// text that is not JSON at all, is PeloraVoiceError::invalidModelAsset whose payload
// names the file and what is wrong with it.
namespace ModelAssetJSON {

// "reader_P6.json": an object whose "scale" and "bias", when present and not null, are
// numbers a 32-bit float holds; absent or null members keep the given defaults.
struct ReaderCalibration {
    float scale;
    float bias;
};
ReaderCalibration readerDescription(std::string_view bytes, ReaderCalibration defaults);

// "reader_words.json": an array of strings (possibly empty; the caller decides).
std::vector<std::string> wordList(std::string_view bytes);

// "punct_case.json": an object of integers from 0 to 255; entries that name no case class
// are left out.
std::unordered_map<std::string, WordCase> caseOverrides(std::string_view bytes);

}  // namespace ModelAssetJSON

}  // namespace pelora
