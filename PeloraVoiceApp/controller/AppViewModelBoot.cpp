#include "PeloraVoiceApp/controller/AppViewModel.h"

#include "engine/recognition/PeloraVoiceError.h"

#include <exception>
#include <utility>

namespace pelora {

using P = AppViewModelProperty;

void AppViewModel::bootEngine() {
    // With the acoustic model loaded a boot has nothing left to do, unless the speech model
    // was missing: the user may have put one in place since.
    if ((isEngineLoaded_ && !speechModelMissingMessage_) || isLoadingEngine_) return;
    const std::uint64_t boot = ++bootGeneration_;
    assign(isLoadingEngine_, true, P::isLoadingEngine);
    assign(speechModelMissingMessage_, std::optional<std::string>(), P::speechModelMissingMessage);
    assign(engineStatusText_, std::string(bootStartedStatus), P::engineStatusText);
    assign(errorMessage_, std::optional<std::string>(), P::errorMessage);

    // The worker shares the engine and reaches the controller only through posts to the
    // main thread, which check that it still exists. Its progress lines and its end go
    // through the same FIFO queue, so they arrive in the order they were sent.
    const Liveness weak = liveness();
    MainThreadScheduler* scheduler = &c_.scheduler;
    c_.spawnWorker([engine = c_.engine, scheduler, weak, boot] {
        const DictationEngine::Progress progress = [scheduler, weak, boot](const std::string& line) {
            scheduler->post([weak, boot, line] {
                if (auto self = weak.lock()) (*self)->showBootProgress(boot, line);
            });
        };
        BootOutcome outcome;
        // A failed download is no error of the boot: the transcriber then works without
        // the acoustic model.
        try {
            if (!engine->resolveModelsDirectory()) engine->ensureOrDownloadModels(progress);
        } catch (...) {
        }
        // Without its speech assets Japanese recognition cannot work: the boot's end says
        // why, in the status line only (no banner, no sound).
        try {
            engine->ensureJapaneseSpeechAssets(progress);
        } catch (const PeloraVoiceError& error) {
            // No Japanese locale or no recogniser on this machine: no model file would help.
            outcome.failure = error.what();
        } catch (const std::exception& error) {
            // No usable model file, and none could be installed: the user can place one.
            outcome.failure = error.what();
            outcome.speechModelMissing = outcome.failure;
        } catch (...) {
        }
        try {
            outcome.transcriber = engine->makeTranscriber();
        } catch (const std::exception& error) {
            outcome.failure = error.what();
        } catch (...) {
        }
        scheduler->post([weak, boot, outcome = std::move(outcome)]() mutable {
            if (auto self = weak.lock()) (*self)->finishBoot(boot, std::move(outcome));
        });
    });
}

void AppViewModel::showBootProgress(std::uint64_t boot, std::string line) {
    // A line that arrives after its boot ended would hide the final status.
    if (boot != bootGeneration_ || !isLoadingEngine_) return;
    assign(engineStatusText_, std::move(line), P::engineStatusText);
}

void AppViewModel::finishBoot(std::uint64_t boot, BootOutcome outcome) {
    if (boot != bootGeneration_) return;
    if (outcome.transcriber) transcriber_ = std::move(outcome.transcriber);
    const bool eg2Loaded = transcriber_ && transcriber_->isEG2Loaded();
    assign(isEngineLoaded_, eg2Loaded, P::isEngineLoaded);
    assign(isLoadingEngine_, false, P::isLoadingEngine);
    assign(speechModelMissingMessage_, outcome.speechModelMissing, P::speechModelMissingMessage);
    std::string status;
    if (outcome.failure)
        status = *outcome.failure;
    else
        status = eg2Loaded ? readyStatus : japaneseOnlyReadyStatus;
    assign(engineStatusText_, std::move(status), P::engineStatusText);
    applyShortcutSettings();
}

}  // namespace pelora
