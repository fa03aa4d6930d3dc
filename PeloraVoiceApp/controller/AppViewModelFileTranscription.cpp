// Audio and video files picked or dropped by the user: decoded and transcribed on a
// worker, then completed like a dictation, never inserted anywhere.
#include "PeloraVoiceApp/controller/AppViewModel.h"

#include "engine/recognition/AudioDecoder.h"
#include "engine/recognition/PeloraVoiceError.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

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

// Carries a worker's progress reports to the main thread: the latest report waits here,
// and at most one post is on its way, so a decoder that reports every few milliseconds
// cannot flood the main loop. Any thread.
class ProgressRelay : public std::enable_shared_from_this<ProgressRelay> {
public:
    using Deliver = std::function<void(FileTranscriptionProgress)>;
    ProgressRelay(MainThreadScheduler& scheduler, Deliver deliver) : scheduler_(scheduler), deliver_(std::move(deliver)) {}

    void report(FileTranscriptionProgress value) {
        {
            std::lock_guard lock(mutex_);
            waiting_ = value;
            if (posted_) return;
            posted_ = true;
        }
        scheduler_.post([self = shared_from_this()] {
            std::optional<FileTranscriptionProgress> value;
            {
                std::lock_guard lock(self->mutex_);
                value = std::exchange(self->waiting_, std::nullopt);
                self->posted_ = false;
            }
            if (value) self->deliver_(*value);
        });
    }

private:
    MainThreadScheduler& scheduler_;
    Deliver deliver_;  // runs on the main thread
    std::mutex mutex_;
    std::optional<FileTranscriptionProgress> waiting_;
    bool posted_ = false;
};

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
    job.reportsProgress = true;
    startFileProgress();
    runSampleJob(std::move(job), fileTranscriptionErrorPrefix,
                 [sourceName](AppViewModel& model, TranscriptionResult result) {
                     model.completeTranscription(std::move(result), sourceName, std::nullopt, std::nullopt, false);
                 });
}

void AppViewModel::startFileProgress() {
    fileProgressTimer_.cancel();
    ++fileProgressJob_;
    const FileTranscriptionProgress first =
        fileProgressThrottle_.start({FileTranscriptionProgress::Phase::decoding, std::nullopt}, c_.scheduler.now());
    assign(fileTranscriptionProgress_, std::optional<FileTranscriptionProgress>(first), P::fileTranscriptionProgress);
}

void AppViewModel::reportFileProgress(std::uint64_t job, FileTranscriptionProgress value) {
    if (job != fileProgressJob_ || !fileTranscriptionProgress_) return;
    applyFileProgress(job, fileProgressThrottle_.report(value, c_.scheduler.now()));
}

void AppViewModel::applyFileProgress(std::uint64_t job, FileTranscriptionProgressThrottle::Step step) {
    if (step.publish)
        assign(fileTranscriptionProgress_, std::optional<FileTranscriptionProgress>(step.publish),
               P::fileTranscriptionProgress);
    if (!step.wakeAt) return;
    const Liveness weak = liveness();
    const auto delay = std::max(*step.wakeAt - c_.scheduler.now(), MainThreadScheduler::Duration::zero());
    fileProgressTimer_ = c_.scheduler.postAfter(delay, [weak, job] {
        auto self = weak.lock();
        if (!self) return;
        AppViewModel& model = **self;
        if (job != model.fileProgressJob_ || !model.fileTranscriptionProgress_) return;
        model.applyFileProgress(job, model.fileProgressThrottle_.wake(model.c_.scheduler.now()));
    });
}

void AppViewModel::endFileProgress() {
    fileProgressTimer_.cancel();
    ++fileProgressJob_;  // reports still on their way change nothing
    assign(fileTranscriptionProgress_, std::optional<FileTranscriptionProgress>(), P::fileTranscriptionProgress);
}

void AppViewModel::failLongOperation(std::string_view prefix, const std::string& description) {
    endFileProgress();
    assign(isTranscribing_, false, P::isTranscribing);
    assign(errorMessage_, std::optional<std::string>(std::string(prefix) + description), P::errorMessage);
}

void AppViewModel::runSampleJob(SampleJob job, std::string_view errorPrefix,
                                std::function<void(AppViewModel&, TranscriptionResult)> complete) {
    const Liveness weak = liveness();
    MainThreadScheduler* scheduler = &c_.scheduler;
    const std::string prefix(errorPrefix);
    // The stages' progress, when the job publishes it: relayed to the main thread for this job only.
    std::shared_ptr<ProgressRelay> relay;
    if (job.reportsProgress) {
        relay = std::make_shared<ProgressRelay>(*scheduler, [weak, progressJob = fileProgressJob_](FileTranscriptionProgress value) {
            if (auto self = weak.lock()) (*self)->reportFileProgress(progressJob, value);
        });
    }
    // The engine first, when neither the boot nor an earlier run has built it.
    auto transcribe = [weak, scheduler, spawn = c_.spawnWorker, prefix, complete, relay](
                          std::shared_ptr<const PeloraHybridTranscriber> transcriber, SampleJob job) {
        spawn([weak, scheduler, prefix, complete, relay, transcriber, job = std::move(job)] {
            using Phase = FileTranscriptionProgress::Phase;
            std::optional<TranscriptionResult> result;
            std::string failure;
            try {
                const fs::path file = job.source();
                AudioDecoder::Progress decoded;
                RecognitionProgress recognised;
                if (relay) {
                    decoded = [relay](double fraction) { relay->report({Phase::decoding, fraction}); };
                    recognised = [relay](double fraction) { relay->report({Phase::recognizing, fraction}); };
                }
                const std::vector<float> samples = AudioDecoder::decode16kMono(file, decoded);
                // Recognition begins; a recogniser that cannot tell how far it is leaves it at that.
                if (relay) relay->report({Phase::recognizing, std::nullopt});
                result = transcriber->transcribeSamples(samples, file, job.engineMode, job.inputOptions,
                                                        job.customVocabulary, std::nullopt,
                                                        job.enableHomophoneReranking, recognised);
            } catch (const std::exception& error) {
                failure = error.what();
            } catch (...) {
                failure = "不明なエラー";
            }
            scheduler->post([weak, prefix, complete, result = std::move(result), failure]() mutable {
                auto self = weak.lock();
                if (!self) return;
                if (result) {
                    (*self)->endFileProgress();
                    complete(**self, std::move(*result));
                } else {
                    (*self)->failLongOperation(prefix, failure);
                }
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
