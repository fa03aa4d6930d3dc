#include "engine/recognition/HeadOnlyPunct.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>

#include "engine/recognition/EG2Constants.h"
#include "engine/recognition/ModelAssetJSON.h"
#include "engine/recognition/PeloraVoiceError.h"
#include "platform/ml/Float16.h"

namespace pelora {

namespace {

using EG2Constants::embeddingDim;
using EG2Constants::punctChunkSize;
constexpr std::int64_t kRowBytes = embeddingDim * 2;

std::unordered_map<std::string, WordCase> readCaseOverrides(const std::filesystem::path& file) {
    auto bytes = MappedFile::open(file);
    return ModelAssetJSON::caseOverrides(
        std::string_view(reinterpret_cast<const char*>(bytes->bytes().data()), bytes->size()));
}

// Index of the highest of `classes` scores of word i, starting from class 0 at -inf;
// only a strictly greater score replaces the best, so ties keep the lower class and NaN
// never wins. Nothing when the output is absent.
struct ScoreReader {
    const ml::MultiArray* array;
    std::int64_t ws, cs;

    std::int64_t best(std::int64_t i, std::int64_t classes) const {
        if (!array) return 0;
        float bestScore = -std::numeric_limits<float>::infinity();
        std::int64_t bestClass = 0;
        for (std::int64_t c = 0; c < classes; ++c) {
            float score = array->floatValue(i * ws + c * cs);
            if (score > bestScore) {
                bestScore = score;
                bestClass = c;
            }
        }
        return bestClass;
    }
};

ScoreReader scores(const ml::Prediction& prediction, const char* name, std::int64_t classes, std::int64_t words) {
    const ml::MultiArray* array = prediction.featureValue(name);
    if (!array) return {nullptr, 0, 0};
    const auto& strides = array->strides();
    const std::int64_t ws = strides.size() >= 2 ? strides[1] : classes;
    const std::int64_t cs = strides.size() >= 3 ? strides[2] : 1;
    // The furthest element read must exist, in the element type the model declares, and
    // a class axis must hold every class.
    std::int64_t last = 0, a = 0, b = 0;
    bool fits = !__builtin_mul_overflow(words - 1, ws, &a) && !__builtin_mul_overflow(classes - 1, cs, &b) &&
                !__builtin_add_overflow(a, b, &last) && last < array->count() &&
                (array->shape().size() < 3 || array->shape()[2] >= classes);
    if (!fits || array->dataType() != ml::ElementType::float16) {
        throw PeloraVoiceError::coreMLPredictionFailed("Unexpected " + std::string(name) +
                                                       " shape/count from punct_headonly: " +
                                                       std::to_string(array->count()));
    }
    return {array, ws, cs};
}

bool isFirstPersonI(const std::string& word) { return word == "i" || word.starts_with("i'"); }

}  // namespace

bool HeadOnlyPunct::present(const std::filesystem::path& folder) {
    std::error_code ec;
    return std::filesystem::exists(folder / file, ec) && std::filesystem::exists(folder / caseFile, ec);
}

HeadOnlyPunct::HeadOnlyPunct(const std::filesystem::path& folder, std::shared_ptr<const MappedFile> wordTableData,
                             std::shared_ptr<const WordIndex> wordToIndex, ml::ComputeUnits computeUnits,
                             const ml::ModelRuntime& runtime)
    : model_(runtime.loadModel(folder / file, computeUnits)),
      wordTableData_(std::move(wordTableData)),
      wordToIndex_(std::move(wordToIndex)),
      caseOverrides_(readCaseOverrides(folder / caseFile)),
      vecBuf_({1, punctChunkSize, embeddingDim}, ml::ElementType::float16),
      maskBuf_({1, punctChunkSize}, ml::ElementType::float16) {}

HeadOnlyPunct::Decision HeadOnlyPunct::decide(const std::vector<std::string>& words) {
    Decision decision;
    if (words.empty()) return decision;
    std::lock_guard lock(lock_);
    decision.punct.reserve(words.size());
    decision.wordCase.reserve(words.size());
    for (std::size_t begin = 0; begin < words.size(); begin += punctChunkSize) {
        decideChunk(words, begin, std::min(words.size(), begin + static_cast<std::size_t>(punctChunkSize)), decision);
    }
    return decision;
}

void HeadOnlyPunct::decideChunk(const std::vector<std::string>& words, std::size_t begin, std::size_t end,
                                Decision& out) {
    const auto m = static_cast<std::int64_t>(end - begin);
    std::uint16_t* vec = vecBuf_.halves();
    std::uint16_t* mask = maskBuf_.halves();
    std::fill_n(vec, punctChunkSize * embeddingDim, std::uint16_t{0});
    const std::uint16_t one = ml::floatToHalf(1.0f);
    for (std::int64_t i = 0; i < punctChunkSize; ++i) mask[i] = i < m ? one : std::uint16_t{0};

    const std::size_t tableBytes = wordTableData_ ? wordTableData_->size() : 0;
    for (std::int64_t i = 0; i < m; ++i) {
        auto it = wordToIndex_->find(words[begin + static_cast<std::size_t>(i)]);
        if (it == wordToIndex_->end()) continue;  // unknown: a zero vector, still masked in
        const std::int64_t row = it->second;
        if (row < 0 || static_cast<std::uint64_t>(row + 1) * kRowBytes > tableBytes) continue;
        std::memcpy(vec + i * embeddingDim, wordTableData_->data() + row * kRowBytes, kRowBytes);
    }

    ml::Prediction prediction = model_->prediction({{"vec", &vecBuf_}, {"mask", &maskBuf_}});
    const ScoreReader punct = scores(prediction, "punct", 4, m);
    const ScoreReader wordCase = scores(prediction, "case", 3, m);

    for (std::int64_t i = 0; i < m; ++i) {
        const std::string& word = words[begin + static_cast<std::size_t>(i)];
        out.punct.push_back(static_cast<Punct>(punct.best(i, 4)));
        std::optional<WordCase> forced;
        if (!caseOverrides_.empty()) {
            if (auto it = caseOverrides_.find(word); it != caseOverrides_.end()) forced = it->second;
        }
        if (!forced && isFirstPersonI(word)) forced = WordCase::cap;
        if (forced) {
            out.wordCase.push_back(*forced);
        } else {
            std::int64_t c = wordCase.best(i, 3);
            out.wordCase.push_back(c == 2 ? WordCase::upper : c == 1 ? WordCase::cap : WordCase::lower);
        }
    }
}

}  // namespace pelora
