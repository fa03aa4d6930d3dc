// The playground: the correction rules tried on typed text, and the current result
// recomputed when the rules change.
#include "PeloraVoiceApp/controller/AppViewModel.h"

#include "engine/japanese/MirkContextualAutoReplacer.h"
#include "engine/recognition/JapaneseTimelineSegmenter.h"

#include <algorithm>
#include <exception>

namespace pelora {

using P = AppViewModelProperty;

void AppViewModel::refreshPlaygroundPreview() {
    settingsEffect("refreshPlaygroundPreview");
    CorrectedText reranked{playgroundInput_, {}};
    if (enableHomophoneReranking_)
        reranked = reranker_.rerank(playgroundInput_, {}, customVocabulary_, capturedFocusedContext_);
    auto [output, rules] = processor_.process(reranked.first, effectiveInputOptions(), 0);
    std::vector<std::string> applied = std::move(reranked.second);
    applied.insert(applied.end(), rules.begin(), rules.end());
    assign(playgroundOutput_, std::move(output), P::playgroundOutput);
    assign(playgroundAppliedRules_, std::move(applied), P::playgroundAppliedRules);
}

void AppViewModel::runPlaygroundMirkAutoReplace() {
    refreshPlaygroundPreview();
    if (playgroundOutput_.empty()) return;

    const bool network = enableMirkContextCorrection_ && allowExternalMirkTransmission_ && isMirkAPIKeyConfigured_;
    std::optional<FocusedTextContext> context = capturedFocusedContext_;
    if (network && !sendFocusedContextToMirk_) context.reset();
    const std::string given = playgroundOutput_;

    struct Run {
        std::string text;
        std::string rawText;
        std::vector<CustomVocabularyEntry> vocabulary;
        std::optional<FocusedTextContext> context;
        bool network = false;
        JapaneseInputOptions options;
        MirkContextualAutoReplacer::Replacement result;
    };
    auto run = std::make_shared<Run>(
        Run{given, playgroundInput_, customVocabulary_, std::move(context), network, effectiveInputOptions(), {}});

    // The pass may block for its whole budget (and a network call), so it runs on a worker.
    const Liveness weak = liveness();
    MainThreadScheduler* scheduler = &c_.scheduler;
    c_.spawnWorker([run, weak, scheduler] {
        try {
            run->result = MirkContextualAutoReplacer::shared().autoReplaceHighConfidence(
                run->text, run->rawText, {}, run->vocabulary, run->context, run->network, run->options);
        } catch (const std::exception&) {
            run->result = {run->text, {}, std::nullopt};  // the pass does not fail; nothing to show if it did
        }
        scheduler->post([run, weak] {
            auto self = weak.lock();
            if (!self) return;
            AppViewModel& model = **self;
            const auto& [corrected, annotations, correction] = run->result;
            if (corrected == run->text && annotations.empty()) return;
            // A preview recomputed meanwhile is newer than this run's result.
            if (model.playgroundOutput_ != run->text) return;
            std::vector<std::string> rules = model.playgroundAppliedRules_;
            for (const std::string& annotation : annotations)
                if (std::find(rules.begin(), rules.end(), annotation) == rules.end()) rules.push_back(annotation);
            std::string summary;
            for (const std::string& annotation : annotations) {
                if (!summary.empty()) summary += " / ";
                summary += annotation;
            }
            model.assign(model.playgroundOutput_, corrected, P::playgroundOutput);
            model.assign(model.playgroundAppliedRules_, std::move(rules), P::playgroundAppliedRules);
            model.assign(model.lastMirkAutoReplaceSummary_, std::optional<std::string>(std::move(summary)),
                         P::lastMirkAutoReplaceSummary);
        });
    });
}

void AppViewModel::reprocessCurrentResultIfAvailable() {
    settingsEffect("reprocessCurrentResultIfAvailable");
    if (!currentResult_ || currentResult_->engineMode == EngineMode::pureEG2English) return;
    const TranscriptionResult& result = *currentResult_;

    CorrectedText reranked{result.rawText, {}};
    if (enableHomophoneReranking_)
        reranked = reranker_.rerank(result.rawText, {}, customVocabulary_, capturedFocusedContext_);
    auto [finalText, rules] =
        processor_.process(reranked.first, effectiveInputOptions(), static_cast<int>(result.pauseTimestamps.size()));
    const char* source = result.engineMode == EngineMode::appleSpeechJa ? "JA-ANE" : "EG2+JA";
    std::vector<TranscribedWord> words = JapaneseTimelineSegmenter::segment(
        finalText, result.words, result.pauseTimestamps, result.telemetry.audioDurationSeconds, source);
    const std::vector<double> boundaries =
        JapaneseTimelineSegmenter::detectPauseBoundaries(words, result.pauseTimestamps);

    TranscriptionResult updated = result;
    updated.text = finalText;
    updated.words = std::move(words);
    updated.telemetry.appliedRuleAnnotations = std::move(reranked.second);
    updated.telemetry.appliedRuleAnnotations.insert(updated.telemetry.appliedRuleAnnotations.end(), rules.begin(),
                                                    rules.end());
    updated.telemetry.pauseSegmentCount = static_cast<std::int64_t>(boundaries.size());
    assign(currentResult_, std::optional<TranscriptionResult>(std::move(updated)), P::currentResult);
    if (!finalText.empty()) assign(lastTranscribedText_, finalText, P::lastTranscribedText);
}

}  // namespace pelora
