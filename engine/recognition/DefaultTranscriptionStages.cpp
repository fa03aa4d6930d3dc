#include "engine/recognition/DefaultTranscriptionStages.h"

#include "engine/japanese/JapaneseEmbeddingReranker.h"
#include "engine/japanese/JapaneseInputProcessor.h"
#include "engine/recognition/EG2CoreMLTranscriber.h"
#include "engine/recognition/JapaneseTimelineSegmentationStage.h"
#include "engine/recognition/SpeechAnalyzerTranscription.h"

namespace pelora {

namespace {

std::unique_ptr<EG2Pipeline> makeEG2Pipeline(const std::optional<std::filesystem::path>& eg2Folder) {
    try {
        return std::make_unique<EG2CoreMLTranscriber>(eg2Folder, ml::ComputeUnits::all);
    } catch (...) {
        // No usable model folder: the transcriber runs without EG2 and says so itself.
        return nullptr;
    }
}

}  // namespace

TranscriptionStages makeDefaultTranscriptionStages(const std::optional<std::filesystem::path>& eg2Folder) {
    TranscriptionStages stages;
    stages.eg2 = makeEG2Pipeline(eg2Folder);
    stages.speech = std::make_shared<SpeechAnalyzerTranscription>();
    stages.reranker = std::make_shared<JapaneseEmbeddingReranker>();
    stages.inputProcessor = std::make_shared<JapaneseInputProcessor>();
    stages.segmenter = std::make_shared<JapaneseTimelineSegmentationStage>();
    return stages;
}

}  // namespace pelora
