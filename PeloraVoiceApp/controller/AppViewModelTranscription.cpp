// A stopped recording's way to a delivered result: the transcriber, recognition on a worker,
// and the completion shared with file transcription and the benchmark.
#include "PeloraVoiceApp/controller/AppViewModel.h"

#include <exception>
#include <span>
#include <utility>

namespace pelora {

using P = AppViewModelProperty;

namespace {

// The text a failure shows after its prefix. Anything a worker throws ends here, so that no
// exception of any kind leaves it.
std::string describeCurrentException() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "不明なエラーが発生しました";
    }
}

}  // namespace

void AppViewModel::runTranscription(DictationJob job) {
    if (dictationJobObserver_) dictationJobObserver_(job);
    if (transcriber_) {
        transcribeWith(transcriber_, std::move(job));
        return;
    }
    // No boot has built the engine yet: this dictation builds one the same way. The boot's
    // status and isEngineLoaded are the boot's alone.
    const Liveness weak = liveness();
    MainThreadScheduler* scheduler = &c_.scheduler;
    c_.spawnWorker([engine = c_.engine, scheduler, weak, job = std::move(job)]() mutable {
        std::shared_ptr<const PeloraHybridTranscriber> built;
        std::string failure;
        try {
            built = engine->makeTranscriber();
            if (!built) failure = "音声認識エンジンを作成できませんでした";
        } catch (...) {
            failure = describeCurrentException();
        }
        scheduler->post([weak, built = std::move(built), failure = std::move(failure), job = std::move(job)]() mutable {
            auto self = weak.lock();
            if (!self) return;
            AppViewModel& model = **self;
            if (!built) {
                model.transcriptionFailed(failure);
                return;
            }
            // A boot that finished meanwhile keeps its own transcriber (the one isEngineLoaded
            // describes); this dictation then runs on it.
            if (!model.transcriber_) model.transcriber_ = std::move(built);
            model.transcribeWith(model.transcriber_, std::move(job));
        });
    });
}

void AppViewModel::transcribeWith(std::shared_ptr<const PeloraHybridTranscriber> transcriber, DictationJob job) {
    // The worker holds its own share of the transcriber and the samples: a boot that replaces
    // the transcriber meanwhile, or the controller's end, destroys neither mid-run.
    const Liveness weak = liveness();
    MainThreadScheduler* scheduler = &c_.scheduler;
    c_.spawnWorker([transcriber = std::move(transcriber), scheduler, weak, job = std::move(job)]() mutable {
        std::optional<TranscriptionResult> result;
        std::string failure;
        try {
            result = transcriber->transcribeSamples(std::span<const float>(*job.samples), std::nullopt, job.engineMode,
                                                    job.inputOptions, job.customVocabulary, job.focusedContext,
                                                    job.enableHomophoneReranking);
        } catch (...) {
            failure = describeCurrentException();
        }
        scheduler->post([weak, result = std::move(result), failure = std::move(failure), job = std::move(job)]() mutable {
            auto self = weak.lock();
            if (!self) return;
            if (!result) {
                (*self)->transcriptionFailed(failure);
                return;
            }
            (*self)->completeTranscription(std::move(*result), std::move(job.sourceName), std::move(job.targetApp),
                                           std::move(job.focusedContext), job.triggerAutoPaste);
        });
    });
}

void AppViewModel::transcriptionFailed(const std::string& description) {
    assign(isTranscribing_, false, P::isTranscribing);
    c_.overlay.hideHUD();
    playCue("Basso");
    assign(errorMessage_, std::optional<std::string>(std::string(recognitionErrorPrefix) + description),
           P::errorMessage);
}

void AppViewModel::completeTranscription(TranscriptionResult result, std::string sourceName,
                                         std::optional<ActiveApplicationSnapshot> target,
                                         std::optional<FocusedTextContext> focusedContext, bool triggerAutoPaste,
                                         std::function<void()> done) {
    invalidateTranscriptionSession();
    Delivery delivery;
    delivery.sessionID = activeTranscriptionSessionID_;
    assign(isTranscribing_, false, P::isTranscribing);
    assign(currentResult_, std::optional<TranscriptionResult>(result), P::currentResult);
    assign(currentSourceName_, sourceName, P::currentSourceName);
    assign(lastMirkAutoReplaceSummary_, std::optional<std::string>(), P::lastMirkAutoReplaceSummary);
    // An empty result keeps the previous text available for reinsertion.
    if (!result.text.empty()) assign(lastTranscribedText_, result.text, P::lastTranscribedText);
    const HistoryEntry entry = addHistoryEntry(result, sourceName, target);
    delivery.historyEntryID = entry.id;
    delivery.historyCreatedAt = entry.createdAt;

    const bool insert = triggerAutoPaste && autoPasteEnabled_ && !result.text.empty();
    const std::string text = result.text;
    delivery.result = std::move(result);
    delivery.sourceName = std::move(sourceName);
    delivery.target = target;
    delivery.focusedContext = std::move(focusedContext);
    delivery.triggerAutoPaste = triggerAutoPaste;
    if (!insert) {
        finishDelivery(std::move(delivery), std::move(done));
        return;
    }
    const Liveness weak = liveness();
    c_.paster.injectIntoFocusedField(
        text, std::move(target), !copyToClipboardOnComplete_, false,
        [weak, delivery = std::move(delivery), done = std::move(done)](TextInjectionOutcome outcome) mutable {
            auto self = weak.lock();
            if (!self) return;
            delivery.outcome = std::move(outcome);
            (*self)->finishDelivery(std::move(delivery), std::move(done));
        });
}

void AppViewModel::finishDelivery(Delivery delivery, std::function<void()> done) {
    const TranscriptionResult& result = delivery.result;
    std::string summary;
    bool directInsert = false;
    if (delivery.outcome) {
        assign(lastInjectionOutcome_, delivery.outcome, P::lastInjectionOutcome);
        refreshPermissions();
        summary = delivery.outcome->summaryBadge();
        directInsert = delivery.outcome->isDirectInsert();
    } else {
        // Only a text actually left on the clipboard is reported as copied.
        const bool copied = copyToClipboardOnComplete_ && !result.text.empty();
        if (copied) c_.paster.copyOnly(result.text);
        summary = copied ? copiedToClipboardSummary : transcriptionCompletedSummary;
    }
    playCue("Pop");
    c_.overlay.showCompleted(result.text, result.telemetry.totalProcessingMs, result.telemetry.rtfx(),
                             std::move(summary), directInsert, reinsertBadge());

    // The contextual pass, by the settings as they are now and the mode the result came from.
    const bool runPass = enableMirkContextCorrection_ && enableHomophoneReranking_ &&
                         result.engineMode != EngineMode::pureEG2English && !result.text.empty();
    if (!runPass) {
        if (done) done();
        return;
    }
    ContextualPassRequest request;
    request.result = std::move(delivery.result);
    request.customVocabulary = customVocabulary_;
    request.sourceName = std::move(delivery.sourceName);
    request.target = std::move(delivery.target);
    request.historyEntryID = std::move(delivery.historyEntryID);
    request.historyCreatedAt = delivery.historyCreatedAt;
    request.sessionID = std::move(delivery.sessionID);
    request.triggerAutoPaste = delivery.triggerAutoPaste;
    request.insertedDirectly = directInsert;
    request.insertionOutcome = std::move(delivery.outcome);
    request.enableMirkNetwork = allowExternalMirkTransmission_ && isMirkAPIKeyConfigured_;
    // With the network allowed, the focused field's text leaves the device only when the
    // user said so; on the device it is always used.
    if (!request.enableMirkNetwork || sendFocusedContextToMirk_) request.focusedContext = std::move(delivery.focusedContext);
    if (contextualPassObserver_) contextualPassObserver_(request);
    activeMirkTask_ = runMirkAutoReplacePass(std::move(request), std::move(done));
}

}  // namespace pelora
