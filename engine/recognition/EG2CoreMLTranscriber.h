#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/recognition/EG2CoreMLOutput.h"
#include "engine/recognition/HeadOnlyPunct.h"
#include "engine/recognition/LogMel.h"
#include "engine/recognition/MappedFile.h"
#include "engine/recognition/TranscriptionStages.h"
#include "platform/ml/Model.h"
#include "platform/ml/ModelRuntime.h"

namespace pelora {

// The EG2 acoustic pipeline: 16 kHz mono samples -> log-mel features per 20 s window ->
// encoder -> reader -> block scorer -> word rescoring against the half-precision word
// table -> blank decision per 40 ms frame -> stitched frame stream -> words, pauses,
// terms and a punctuated English text. Runs are serialised by the pipeline's own lock.
class EG2CoreMLTranscriber final : public EG2Pipeline {
public:
    static constexpr const char* encoderFile = "eg2_audio_l11.mlmodelc";
    static constexpr const char* readerFile = "reader_P6.mlmodelc";
    static constexpr const char* scorerFile = "scorer_blk_d128_k16_b4_t500.mlmodelc";
    static constexpr const char* readerDescriptionFile = "reader_P6.json";
    static constexpr const char* wordListFile = "reader_words.json";
    static constexpr const char* wordTableFile = "word_unit_f16.bin";

    // Without a folder, the shared model folder (never downloaded here). Errors of the
    // model store, the runtime and the file system propagate; a JSON file that does not
    // decode, an empty word list or a short word table is invalidModelAsset naming the
    // file. A punctuation head that fails to load is left out.
    EG2CoreMLTranscriber(const std::optional<std::filesystem::path>& folder, ml::ComputeUnits computeUnits,
                         const ml::ModelRuntime& runtime = ml::ModelRuntime::shared());

    // Throws the runtime's error when a model fails, and coreMLPredictionFailed when an
    // output is missing, of another element type or too short for the frames it must hold.
    EG2CoreMLOutput runCoreMLPipeline(std::span<const float> samples) override;

    const std::filesystem::path& folder() const { return folder_; }
    const LogMel& logMel() const { return *logMel_; }
    ml::Model& encoderL11() const { return *encoderL11_; }
    ml::Model& readerP6() const { return *readerP6_; }
    ml::Model& scorerBlk() const { return *scorerBlk_; }
    HeadOnlyPunct* punctHead() const { return punctHead_.get(); }
    const std::vector<std::string>& words() const { return words_; }
    const WordIndex& wordToIndex() const { return *wordToIndex_; }
    const MappedFile& wordTableData() const { return *wordTableData_; }
    float rScale() const { return rScale_; }
    float rBias() const { return rBias_; }

private:
    std::mutex lock_;
    std::filesystem::path folder_;
    std::unique_ptr<LogMel> logMel_;
    std::unique_ptr<ml::Model> encoderL11_;
    std::unique_ptr<ml::Model> readerP6_;
    std::unique_ptr<ml::Model> scorerBlk_;
    std::unique_ptr<HeadOnlyPunct> punctHead_;
    std::vector<std::string> words_;
    std::shared_ptr<const WordIndex> wordToIndex_;
    std::shared_ptr<const MappedFile> wordTableData_;
    float rScale_ = 0;
    float rBias_ = 0;
    std::unique_ptr<ml::MultiArray> featBuf_;
    std::unique_ptr<ml::MultiArray> fmaskBuf_;
    std::unique_ptr<ml::MultiArray> l11Buf_;
    std::unique_ptr<ml::MultiArray> rmaskBuf_;
};

}  // namespace pelora
