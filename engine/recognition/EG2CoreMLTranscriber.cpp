#include "engine/recognition/EG2CoreMLTranscriber.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "engine/recognition/EG2Constants.h"
#include "engine/recognition/EG2WordDecoding.h"
#include "engine/recognition/ModelAssetJSON.h"
#include "engine/recognition/ModelManager.h"
#include "engine/recognition/PeloraVoiceError.h"
#include "engine/recognition/Rerank.h"
#include "platform/ml/Float16.h"

namespace pelora {

namespace {

using namespace EG2Constants;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t kL11Elements = outputFramesPerWindow * l11HiddenDim;

double millisecondsBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

std::string_view textOf(const MappedFile& file) {
    return {reinterpret_cast<const char*>(file.bytes().data()), file.size()};
}

// A stride from the array's list, or `fallback` when it has no such stride; a stride
// below 1 counts as 1 (as the rescoring kernel reads them).
std::int64_t strideOr(const ml::MultiArray& array, std::size_t position, std::int64_t fallback) {
    const auto& strides = array.strides();
    if (strides.size() <= position) return fallback;
    return std::max<std::int64_t>(strides[position], 1);
}

// Whether `array` can be read for `frames` frames: the element type the pipeline reads,
// at least (frames - 1) x frameStride + tail elements (in 64 bits, overflow counting as
// too short) and, for a [1, frames, values] layout, at least `values` per frame.
bool holdsFrames(const ml::MultiArray& array, ml::ElementType type, std::int64_t frames, std::int64_t frameStride,
                 std::int64_t tail, std::int64_t values) {
    if (array.dataType() != type) return false;
    if (array.shape().size() >= 3 && array.shape()[2] < values) return false;
    if (frames < 1) return true;
    std::int64_t needed = 0;
    if (__builtin_mul_overflow(frames - 1, frameStride, &needed) || __builtin_add_overflow(needed, tail, &needed)) {
        return false;
    }
    return array.count() >= needed;
}

// The frame carries a word when its calibrated score beats the blank score strictly.
// Product and sum are rounded separately, as two float operations: a fused
// multiply-add would skip the product's rounding and could tip a score that ties the
// blank score. (The float product is exact in double, so one rounding to float gives
// the IEEE single product; the sum is then a plain float addition, nothing to fuse.)
bool isWordFrame(float maxDot, float scale, float bias, float blank) {
    const auto scaled = static_cast<float>(static_cast<double>(maxDot) * static_cast<double>(scale));
    return scaled + bias > blank;
}

struct Window {
    std::int64_t start;
    std::int64_t end;
};

std::vector<Window> windowsFor(std::int64_t n) {
    std::vector<Window> windows;
    if (n <= windowSamples) {
        windows.push_back({0, n});
        return windows;
    }
    for (std::int64_t start = 0;; start += stepSamples) {
        windows.push_back({start, std::min(start + windowSamples, n)});
        if (start + windowSamples >= n) break;
    }
    return windows;
}

}  // namespace

EG2CoreMLTranscriber::EG2CoreMLTranscriber(const std::optional<std::filesystem::path>& folder,
                                           ml::ComputeUnits computeUnits, const ml::ModelRuntime& runtime) {
    folder_ = folder ? *folder : ModelManager::ensureSharedModelsDirectory();
    logMel_ = std::make_unique<LogMel>(folder_);

    encoderL11_ = runtime.loadModel(folder_ / encoderFile, computeUnits);
    readerP6_ = runtime.loadModel(folder_ / readerFile, computeUnits);
    scorerBlk_ = runtime.loadModel(folder_ / scorerFile, computeUnits);

    const ModelAssetJSON::ReaderCalibration calibration = ModelAssetJSON::readerDescription(
        textOf(*MappedFile::open(folder_ / readerDescriptionFile)), {defaultReaderScale, defaultReaderBias});
    rScale_ = calibration.scale;
    rBias_ = calibration.bias;

    words_ = ModelAssetJSON::wordList(textOf(*MappedFile::open(folder_ / wordListFile)));
    if (words_.empty()) throw PeloraVoiceError::invalidModelAsset("reader_words.json is empty");

    auto index = std::make_shared<WordIndex>();
    index->reserve(words_.size());
    for (std::size_t i = 0; i < words_.size(); ++i) (*index)[words_[i]] = static_cast<std::int64_t>(i);
    wordToIndex_ = std::move(index);

    wordTableData_ = MappedFile::open(folder_ / wordTableFile);
    const std::uint64_t expected = static_cast<std::uint64_t>(words_.size()) * embeddingDim * 2;
    if (wordTableData_->size() < expected) {
        throw PeloraVoiceError::invalidModelAsset("word_unit_f16.bin size mismatch: expected >= " +
                                                  std::to_string(expected) + " bytes for " +
                                                  std::to_string(words_.size()) + " words, got " +
                                                  std::to_string(wordTableData_->size()));
    }

    if (HeadOnlyPunct::present(folder_)) {
        try {
            punctHead_ = std::make_unique<HeadOnlyPunct>(folder_, wordTableData_, wordToIndex_,
                                                         ml::ComputeUnits::cpuOnly, runtime);
        } catch (...) {
            // The head is optional: without it words are rendered unpunctuated.
            punctHead_.reset();
        }
    }

    featBuf_ = std::make_unique<ml::MultiArray>(std::vector<std::int64_t>{1, melFramesPerWindow, melBins},
                                                ml::ElementType::float32);
    fmaskBuf_ = std::make_unique<ml::MultiArray>(std::vector<std::int64_t>{1, melFramesPerWindow},
                                                 ml::ElementType::float32);
    l11Buf_ = std::make_unique<ml::MultiArray>(std::vector<std::int64_t>{1, outputFramesPerWindow, l11HiddenDim},
                                               ml::ElementType::float32);
    rmaskBuf_ = std::make_unique<ml::MultiArray>(std::vector<std::int64_t>{1, outputFramesPerWindow},
                                                 ml::ElementType::float32);
}

EG2CoreMLOutput EG2CoreMLTranscriber::runCoreMLPipeline(std::span<const float> samples) {
    EG2CoreMLOutput output;
    const auto n = static_cast<std::int64_t>(samples.size());
    if (n == 0) return output;

    std::lock_guard lock(lock_);
    const std::vector<Window> windows = windowsFor(n);
    output.windowCount = static_cast<std::int64_t>(windows.size());

    std::vector<EG2WordDecoding::Frame> frames;
    frames.reserve(static_cast<std::size_t>(n / 640 + 16));
    const std::uint16_t* table = wordTableData_->data() ? reinterpret_cast<const std::uint16_t*>(wordTableData_->data())
                                                        : nullptr;

    for (std::size_t w = 0; w < windows.size(); ++w) {
        const Window& window = windows[w];
        const bool isFirst = w == 0;
        const bool isLast = w + 1 == windows.size();

        const auto melStart = Clock::now();
        LogMel::Features features = (*logMel_)(samples.subspan(static_cast<std::size_t>(window.start),
                                                               static_cast<std::size_t>(window.end - window.start)));
        output.logMelMs += millisecondsBetween(melStart, Clock::now());

        const std::int64_t validFrames = features.validFrames;
        const std::int64_t outFrames = std::min((validFrames + 3) / 4, outputFramesPerWindow);
        if (validFrames == 0) continue;

        std::memcpy(featBuf_->floats(), features.mel.data(), features.mel.size() * sizeof(float));
        const double windowStartTime = static_cast<double>(window.start) / static_cast<double>(sampleRate);
        float* fmask = fmaskBuf_->floats();
        for (std::int64_t f = 0; f < melFramesPerWindow; ++f) fmask[f] = f < validFrames ? 1.0f : 0.0f;

        // Encoder.
        const auto encoderStart = Clock::now();
        ml::Prediction encoded = encoderL11_->prediction({{"input_features", featBuf_.get()},
                                                          {"feature_mask", fmaskBuf_.get()}});
        const ml::MultiArray* l11 = encoded.featureValue("l11");
        if (!l11) throw PeloraVoiceError::coreMLPredictionFailed("Missing l11 output from eg2_audio_l11");
        // Read as 500 contiguous frames of 1024 half-precision values.
        if (l11->count() < kL11Elements || l11->dataType() != ml::ElementType::float16 || !l11->isContiguous()) {
            throw PeloraVoiceError::coreMLPredictionFailed("Unexpected l11 shape/count from eg2_audio_l11: " +
                                                           std::to_string(l11->count()));
        }
        ml::convertHalfToFloat(l11->halves(), l11Buf_->floats(), static_cast<std::size_t>(kL11Elements));
        float* rmask = rmaskBuf_->floats();
        for (std::int64_t j = 0; j < outputFramesPerWindow; ++j) rmask[j] = j < outFrames ? 1.0f : 0.0f;
        const auto encoderEnd = Clock::now();

        // Reader.
        ml::Prediction read = readerP6_->prediction({{"l11", l11Buf_.get()}, {"mask", rmaskBuf_.get()}});
        const ml::MultiArray* vec = read.featureValue("vec");
        const ml::MultiArray* blank = read.featureValue("blank");
        if (!vec || !blank) throw PeloraVoiceError::coreMLPredictionFailed("Missing vec/blank output from reader_P6");
        const std::int64_t blankStride = strideOr(*blank, 1, 1);
        // Each frame's vector is read as 768 consecutive values.
        const bool vecInnerContiguous = vec->strides().empty() || vec->strides().back() == 1;
        if (!vecInnerContiguous ||
            !holdsFrames(*vec, ml::ElementType::float16, outFrames, strideOr(*vec, 1, embeddingDim), embeddingDim,
                         embeddingDim) ||
            !holdsFrames(*blank, ml::ElementType::float16, outFrames, blankStride, 1, 1)) {
            throw PeloraVoiceError::coreMLPredictionFailed("Missing vec/blank output from reader_P6");
        }
        const auto readerEnd = Clock::now();

        // Block scorer, fed the reader's vectors as they came.
        ml::Prediction scored = scorerBlk_->prediction({{"vec", vec}});
        const ml::MultiArray* bidx = scored.featureValue("bidx");
        if (!bidx) throw PeloraVoiceError::coreMLPredictionFailed("Missing bidx output from scorer_blk");
        std::int64_t lastBlock = 0;
        if (__builtin_mul_overflow(scorerTopKBlocks - 1, strideOr(*bidx, 2, 1), &lastBlock) ||
            !holdsFrames(*bidx, ml::ElementType::int32, outFrames, strideOr(*bidx, 1, scorerTopKBlocks),
                         lastBlock + 1, scorerTopKBlocks)) {
            throw PeloraVoiceError::coreMLPredictionFailed("Missing bidx output from scorer_blk");
        }

        std::vector<Rerank::Result> rescored;
        if (table) {
            rescored = Rerank::run(table, static_cast<std::int64_t>(words_.size()), outFrames, *vec, *bidx);
        }

        // Stitching: drop the 25 frames on each side of every overlap between windows.
        const std::int64_t count = std::min(static_cast<std::int64_t>(rescored.size()), outFrames);
        const std::int64_t keepFrom = isFirst ? 0 : keepStartFrame;
        const std::int64_t keepTo = isLast ? count : std::min(count, keepEndFrame);
        for (std::int64_t j = keepFrom; j < keepTo; ++j) {
            const std::int64_t at = j * blankStride;
            if (at >= blank->count()) break;
            const Rerank::Result& best = rescored[static_cast<std::size_t>(j)];
            const float blankScore = ml::halfToFloat(blank->halves()[at]);
            const std::int64_t decision =
                isWordFrame(best.maxDot, rScale_, rBias_, blankScore) ? best.wordIndex : -1;
            if (decision >= 0) ++output.activeFrameCount;
            frames.push_back({decision, best.maxDot, windowStartTime + static_cast<double>(j) * frameSeconds});
        }
        const auto scorerEnd = Clock::now();

        output.encoderL11Ms += millisecondsBetween(encoderStart, encoderEnd);
        output.readerP6Ms += millisecondsBetween(encoderEnd, readerEnd);
        output.scorerAndRerankMs += millisecondsBetween(readerEnd, scorerEnd);
    }

    EG2WordDecoding::Decoded decoded = EG2WordDecoding::decode(frames, words_);
    output.text = EG2WordDecoding::render(decoded.words, punctHead_.get());
    output.words = std::move(decoded.words);
    output.pauseTimestamps = std::move(decoded.pauseTimestamps);
    output.highConfidenceTerms = std::move(decoded.highConfidenceTerms);
    return output;
}

}  // namespace pelora
