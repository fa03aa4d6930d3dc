#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/recognition/MappedFile.h"
#include "engine/recognition/Punct.h"
#include "engine/recognition/WordCase.h"
#include "platform/ml/Model.h"
#include "platform/ml/ModelRuntime.h"

namespace pelora {

// Word -> row of the word-vector table.
using WordIndex = std::unordered_map<std::string, std::int64_t>;

// The punctuation-and-case head: for each English word, the mark that follows it and its
// casing. A small model reads the words' rows of the word-vector table, 96 words at a
// time; "punct_case.json" forces the case of listed words.
class HeadOnlyPunct {
public:
    static constexpr const char* file = "punct_headonly.mlmodelc";
    static constexpr const char* caseFile = "punct_case.json";

    struct Decision {
        std::vector<Punct> punct;
        std::vector<WordCase> wordCase;
    };

    // True when the folder holds the model and, then, also the case file.
    static bool present(const std::filesystem::path& folder);

    // Loads the model and the case overrides. Errors of the runtime and of reading the
    // case file propagate; a case file that does not decode (a JSON object of integers
    // from 0 to 255) is invalidModelAsset naming it.
    HeadOnlyPunct(const std::filesystem::path& folder, std::shared_ptr<const MappedFile> wordTableData,
                  std::shared_ptr<const WordIndex> wordToIndex, ml::ComputeUnits computeUnits,
                  const ml::ModelRuntime& runtime = ml::ModelRuntime::shared());

    // One decision per word, in order. Prediction errors propagate; a missing output
    // gives class 0 for every word; a mis-typed or short output fails with
    // coreMLPredictionFailed.
    Decision decide(const std::vector<std::string>& words);

    const std::unordered_map<std::string, WordCase>& caseOverrides() const { return caseOverrides_; }

private:
    void decideChunk(const std::vector<std::string>& words, std::size_t begin, std::size_t end, Decision& out);

    std::mutex lock_;
    std::unique_ptr<ml::Model> model_;
    std::shared_ptr<const MappedFile> wordTableData_;
    std::shared_ptr<const WordIndex> wordToIndex_;
    std::unordered_map<std::string, WordCase> caseOverrides_;
    ml::MultiArray vecBuf_;
    ml::MultiArray maskBuf_;
};

}  // namespace pelora
