// The contextual correction pass, the completion's last step: the auto-replacer on a
// worker, then, while the user has not moved on, the corrected text everywhere it shows.
#include "PeloraVoiceApp/controller/AppViewModel.h"

#include "engine/recognition/JapaneseTimelineSegmenter.h"

#include <algorithm>
#include <stop_token>

namespace pelora {

using P = AppViewModelProperty;

namespace {

// One pass: cancelled by the session's end, which also stops the worker's network calls.
struct PassRun {
    std::stop_source stop;
    bool cancelled = false;
};

std::string joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out += separator;
        out += parts[i];
    }
    return out;
}

}  // namespace

MainThreadScheduler::Task AppViewModel::runMirkAutoReplacePass(ContextualPassRequest request,
                                                               std::function<void()> done) {
    auto run = std::make_shared<PassRun>();
    MainThreadScheduler::Task handle([run] {
        run->cancelled = true;
        run->stop.request_stop();
    });
    const Liveness weak = liveness();
    MainThreadScheduler* scheduler = &c_.scheduler;
    const JapaneseInputOptions options = effectiveInputOptions();
    auto shared = std::make_shared<ContextualPassRequest>(std::move(request));
    c_.spawnWorker([replacer = c_.contextualAutoReplacer, shared, options, run, weak, scheduler,
                    done = std::move(done)]() mutable {
        auto replacement = replacer->autoReplaceHighConfidence(
            shared->result.text, shared->result.rawText, shared->customVocabulary, shared->focusedContext,
            shared->enableMirkNetwork, options, run->stop.get_token());
        scheduler->post([weak, shared, run, replacement = std::move(replacement), done = std::move(done)]() mutable {
            auto self = weak.lock();
            if (!self) return;
            (*self)->continueMirkAutoReplacePass(*shared, std::move(replacement), [run] { return run->cancelled; },
                                                 std::move(done));
        });
    });
    return handle;
}

void AppViewModel::continueMirkAutoReplacePass(const ContextualPassRequest& request,
                                               MirkContextualAutoReplacer::Replacement replacement,
                                               std::function<bool()> isCancelled, std::function<void()> done) {
    auto finish = [&done] {
        if (done) done();
    };
    const std::string& text = request.result.text;
    if (isCancelled() || replacement.text == text || !replacement.correction) return finish();

    TranscriptionResult corrected = request.result;
    corrected.text = replacement.text;
    corrected.words = JapaneseTimelineSegmenter::segment(
        corrected.text, request.result.words, request.result.pauseTimestamps,
        request.result.telemetry.audioDurationSeconds,
        request.result.engineMode == EngineMode::appleSpeechJa ? "JA-ANE" : "EG2+JA");
    auto& annotations = corrected.telemetry.appliedRuleAnnotations;
    for (const std::string& annotation : replacement.annotations)
        if (std::find(annotations.begin(), annotations.end(), annotation) == annotations.end())
            annotations.push_back(annotation);
    replaceHistoryEntry(request.historyEntryID, request.historyCreatedAt, request.sourceName, request.target,
                        corrected);

    if (activeTranscriptionSessionID_ != request.sessionID || isRecording_ || isTranscribing_ ||
        pendingRecordingRequestID_ || !enableMirkContextCorrection_ || !enableHomophoneReranking_)
        return finish();

    auto show = [this, weak = liveness(), request, corrected, annotations = replacement.annotations, isCancelled,
                 done](bool applied) mutable {
        // (Called at once or after the in-place fix; `this` is checked through `weak` first.)
        if (!weak.lock()) return;
        if (activeTranscriptionSessionID_ != request.sessionID || isCancelled() || isRecording_ || isTranscribing_) {
            if (done) done();
            return;
        }
        if (copyToClipboardOnComplete_) c_.paster.copyOnly(corrected.text);
        assign(currentResult_, std::optional<TranscriptionResult>(corrected), P::currentResult);
        assign(lastTranscribedText_, corrected.text, P::lastTranscribedText);
        assign(lastMirkAutoReplaceSummary_, std::optional<std::string>(joined(annotations, " / ")),
               P::lastMirkAutoReplaceSummary);
        std::string summary(mirkCorrectedSummary);
        if (request.triggerAutoPaste && autoPasteEnabled_) {
            if (applied) {
                const std::string name = request.target && !request.target->appName.value_or("").empty()
                                             ? *request.target->appName
                                             : std::string("入力欄");
                summary = "⚡ " + name + " へMIRK高確度自動置換完了";
            } else if (request.insertionOutcome) {
                summary = request.insertionOutcome->summaryBadge();
            }
        }
        const auto& telemetry = corrected.telemetry;
        c_.overlay.showCompleted(corrected.text, telemetry.totalProcessingMs, telemetry.rtfx(), summary,
                                 applied || request.insertedDirectly, reinsertBadge());
        if (done) done();
    };

    if (request.triggerAutoPaste && autoPasteEnabled_ && request.insertedDirectly) {
        c_.paster.applyInPlaceCorrection(*replacement.correction, text, corrected.text, request.target,
                                         !copyToClipboardOnComplete_, std::move(show));
        return;
    }
    show(false);
}

}  // namespace pelora
