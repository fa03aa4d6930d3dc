// Audio and video files picked or dropped by the user: decoded and transcribed on a
// worker, then completed like a dictation, never inserted anywhere.
#include "PeloraVoiceApp/controller/AppViewModel.h"

#include "engine/recognition/AudioDecoder.h"
#include "engine/recognition/PeloraVoiceError.h"

#include <sys/stat.h>
#include <unistd.h>

#include <exception>

namespace pelora {

namespace fs = std::filesystem;
using P = AppViewModelProperty;

namespace {

// Whether the decoder can be handed `path` without blocking on it: a readable regular
// file (a FIFO or a device would hold the worker, and the transcribing state, for good).
bool isReadableRegularFile(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), R_OK) == 0;
}

}  // namespace

bool AppViewModel::isBusyTranscribingOrRecording() const {
    return isRecording_ || isTranscribing_ || pendingRecordingRequestID_.has_value();
}

void AppViewModel::openFilePicker() {
    if (isBusyTranscribingOrRecording() || !c_.filePicker) return;
    // The dialog runs its own event loop: the guards are checked again for its answer.
    if (const auto chosen = c_.filePicker->pickAudioOrVideoFile()) transcribeAudioFile(*chosen);
}

void AppViewModel::transcribeAudioFile(const fs::path& path) {
    if (isBusyTranscribingOrRecording()) return;
    invalidateTranscriptionSession();
    const fs::path resolved = fs::absolute(path).lexically_normal();
    const std::string sourceName = resolved.filename().string();
    assign(isTranscribing_, true, P::isTranscribing);
    assign(errorMessage_, std::optional<std::string>(), P::errorMessage);
    assign(currentSourceName_, sourceName, P::currentSourceName);
    if (!isReadableRegularFile(resolved)) {
        failLongOperation(fileTranscriptionErrorPrefix, PeloraVoiceError::audioDecodeFailed(sourceName).what());
        return;
    }

    SampleJob job;
    job.source = [resolved] { return resolved; };
    job.engineMode = engineMode_;
    job.inputOptions = effectiveInputOptions();
    job.enableHomophoneReranking = enableHomophoneReranking_;
    job.customVocabulary = customVocabulary_;
    runSampleJob(std::move(job), fileTranscriptionErrorPrefix,
                 [sourceName](AppViewModel& model, TranscriptionResult result) {
                     model.completeTranscription(std::move(result), sourceName, std::nullopt, std::nullopt, false);
                 });
}

void AppViewModel::failLongOperation(std::string_view prefix, const std::string& description) {
    assign(isTranscribing_, false, P::isTranscribing);
    assign(errorMessage_, std::optional<std::string>(std::string(prefix) + description), P::errorMessage);
}

void AppViewModel::runSampleJob(SampleJob job, std::string_view errorPrefix,
                                std::function<void(AppViewModel&, TranscriptionResult)> complete) {
    const Liveness weak = liveness();
    MainThreadScheduler* scheduler = &c_.scheduler;
    const std::string prefix(errorPrefix);
    // The engine first, when neither the boot nor an earlier run has built it.
    auto transcribe = [weak, scheduler, spawn = c_.spawnWorker, prefix, complete](
                          std::shared_ptr<const PeloraHybridTranscriber> transcriber, SampleJob job) {
        spawn([weak, scheduler, prefix, complete, transcriber, job = std::move(job)] {
            std::optional<TranscriptionResult> result;
            std::string failure;
            try {
                const fs::path file = job.source();
                const std::vector<float> samples = AudioDecoder::decode16kMono(file, {});
                result = transcriber->transcribeSamples(samples, file, job.engineMode, job.inputOptions,
                                                        job.customVocabulary, std::nullopt,
                                                        job.enableHomophoneReranking);
            } catch (const std::exception& error) {
                failure = error.what();
            } catch (...) {
                failure = "不明なエラー";
            }
            scheduler->post([weak, prefix, complete, result = std::move(result), failure]() mutable {
                auto self = weak.lock();
                if (!self) return;
                if (result)
                    complete(**self, std::move(*result));
                else
                    (*self)->failLongOperation(prefix, failure);
            });
        });
    };
    if (transcriber_) {
        transcribe(transcriber_, std::move(job));
        return;
    }
    c_.spawnWorker([weak, scheduler, engine = c_.engine, prefix, transcribe, job = std::move(job)]() mutable {
        std::shared_ptr<const PeloraHybridTranscriber> built;
        std::string failure;
        try {
            built = engine->makeTranscriber();
        } catch (const std::exception& error) {
            failure = error.what();
        }
        scheduler->post([weak, prefix, transcribe, built, failure, job = std::move(job)]() mutable {
            auto self = weak.lock();
            if (!self) return;
            AppViewModel& model = **self;
            if (!built) {
                model.failLongOperation(prefix, failure);
                return;
            }
            model.transcriber_ = built;
            model.assign(model.isEngineLoaded_, built->isEG2Loaded(), P::isEngineLoaded);
            transcribe(built, std::move(job));
        });
    });
}

}  // namespace pelora
