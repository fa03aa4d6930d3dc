// The speech recogniser over whisper.cpp: Japanese only, one ggml model file as the
// language assets, every segment a final result and every text token a run.

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sched.h>
#include <whisper.h>

#include "platform/audiofile/AudioFile.h"
#include "platform/cpu/CpuFeatures.h"
#include "platform/speech/SpeechAssetStore.h"
#include "platform/speech/SpeechModelCheck.h"
#include "platform/speech/SpeechRecognition.h"
#include "platform/speech/TokenRuns.h"

namespace pelora::speech {

namespace fs = std::filesystem;

namespace {

constexpr int kSampleRate = 16000;
constexpr const char* kJapaneseLocale = "ja_JP";
constexpr const char* kWhisperLanguage = "ja";
// The library skips input shorter than 100 ms; so does this adapter, without asking it.
constexpr std::size_t kShortestInput = kSampleRate / 10;

void discardLog(ggml_log_level, const char*, void*) {}

// The library writes its own progress and diagnostics to standard error; the system
// reports failures through its errors instead.
void silenceLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] { whisper_log_set(discardLog, nullptr); });
}

// The build targets x86-64 with AVX2, FMA and F16C; elsewhere the library cannot run.
bool processorSupportsRecogniser() {
#if defined(__x86_64__) || defined(__i386__)
    const cpu::CpuFeatures& features = cpu::CpuFeatures::current();
    return features.avx2 && features.fma && features.f16c;
#else
    return true;
#endif
}

// Half the processor's threads, at most 4: in the hybrid mode the EG2 pipeline runs
// beside the recogniser, and the library's workers wait for each other by spinning, so
// more workers than free cores slow every run down instead of speeding it up.
int threadCount() {
    int cores = static_cast<int>(std::thread::hardware_concurrency());
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) cores = CPU_COUNT(&allowed);  // cores this process may use
    return std::clamp(cores / 2, 1, 4);
}

bool isJapaneseLocale(std::string_view identifier) {
    const std::string_view language = identifier.substr(0, identifier.find_first_of("_-"));
    return language == "ja";
}

struct ContextDeleter {
    void operator()(whisper_context* context) const { whisper_free(context); }
};
struct StateDeleter {
    void operator()(whisper_state* state) const { whisper_free_state(state); }
};
using Context = std::shared_ptr<whisper_context>;
using State = std::unique_ptr<whisper_state, StateDeleter>;

// Loading a model takes much longer than a short dictation, so a loaded model is kept
// for as long as its file is unchanged. Each run has its own decoding state, so runs
// may overlap on one model. A file that failed to load is not tried again until it
// changes: the library does not free what a failed load allocated.
class LoadedModel {
public:
    static LoadedModel& shared() {
        static LoadedModel instance;
        return instance;
    }

    Context get(const fs::path& file) {
        const Version version = versionOf(file);
        std::lock_guard lock(mutex_);
        if (context_ && version == loaded_) return context_;
        if (failure_ && version == failed_) throw SpeechRecognitionError(*failure_);

        whisper_context_params params = whisper_context_default_params();
        params.use_gpu = false;
        Context context(whisper_init_from_file_with_params_no_state(file.c_str(), params), ContextDeleter());
        std::optional<std::string> fault;
        // The library accepts a header with no layers as an empty test model; it is no model here.
        if (!context || whisper_model_n_audio_layer(context.get()) < 1 || whisper_model_n_text_layer(context.get()) < 1) {
            fault = "日本語音声認識モデルを読み込めませんでした: " + file.string();
        } else if (!whisper_is_multilingual(context.get())) {
            fault = "日本語音声認識モデルが日本語に対応していません (英語専用モデル): " + file.string();
        }
        if (fault) {
            failed_ = version;
            failure_ = fault;
            throw SpeechRecognitionError(*fault);
        }
        context_ = context;
        loaded_ = version;
        return context;
    }

private:
    struct Version {
        fs::path file;
        std::uintmax_t size = 0;
        fs::file_time_type modified{};
        bool operator==(const Version&) const = default;
    };

    static Version versionOf(const fs::path& file) {
        std::error_code error;
        Version version{file, fs::file_size(file, error), fs::last_write_time(file, error)};
        return version;
    }

    std::mutex mutex_;
    Context context_;
    Version loaded_;
    std::optional<std::string> failure_;
    Version failed_;
};

// Samples to analyse: read from a WAV file into memory, or the caller's, in place.
class SampleInput final : public AudioInputFile {
public:
    explicit SampleInput(std::span<const float> samples) : samples_(samples) {}

    explicit SampleInput(const fs::path& file) {
        try {
            audiofile::AudioFile audio(file);
            if (audio.format().sampleRate != kSampleRate) {
                throw SpeechRecognitionError("音声認識の入力が 16 kHz ではありません: " + file.string());
            }
            std::vector<float> block(32768);
            while (const std::size_t n = audio.readMono(block)) owned_.insert(owned_.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
        } catch (const audiofile::AudioFile::Error& error) {
            throw SpeechRecognitionError(std::string("音声認識の入力を読めませんでした: ") + error.what());
        }
        samples_ = owned_;
    }

    std::span<const float> samples() const { return samples_; }

private:
    std::vector<float> owned_;
    std::span<const float> samples_;
};

// Whisper times are in units of 10 ms.
double seconds(std::int64_t centiseconds) { return static_cast<double>(centiseconds) / 100.0; }

// A time range from whisper's start and end, kept inside the audio.
std::optional<AudioTimeRange> rangeWithin(std::int64_t t0, std::int64_t t1, double audioSeconds) {
    if (t0 < 0 || t1 < t0) return std::nullopt;
    const double start = std::min(seconds(t0), audioSeconds);
    const double end = std::min(seconds(t1), audioSeconds);
    return AudioTimeRange{start, end - start};
}

class WhisperAnalyzer final : public SpeechAnalyzer {
public:
    explicit WhisperAnalyzer(std::shared_ptr<SpeechAssetStore> store) : store_(std::move(store)) {}

    ResultSequence& results() override { return results_; }
    void setProgressHandler(ProgressHandler handler) override { progress_ = std::move(handler); }

    void start(AudioInputFile& file, bool finishAfterFile) override {
        auto* input = dynamic_cast<SampleInput*>(&file);
        if (!input) throw SpeechRecognitionError("音声認識の入力ファイルが開かれていません");
        if (input->samples().size() >= kShortestInput) run(input->samples());
        if (finishAfterFile) results_.finish();
    }

private:
    struct Run {
        WhisperAnalyzer* analyzer;
        whisper_context* context;
        double audioSeconds;
        std::exception_ptr error;
        int lastPercent = -1;  // the last progress passed on
    };

    void run(std::span<const float> samples) {
        const std::optional<fs::path> model = store_->installedModel();
        if (!model) {
            if (const auto damaged = store_->damagedModel()) {
                throw SpeechRecognitionError("日本語音声認識モデルを読み込めませんでした (" + damaged->second +
                                             "): " + damaged->first.string());
            }
            throw SpeechRecognitionError("日本語音声認識モデルがインストールされていません。" + store_->placementHint());
        }
        // The library aborts on a damaged file instead of failing; it only ever sees checked ones.
        if (const SpeechModelCheck::Result checked = store_->check(*model); !checked) {
            throw SpeechRecognitionError("日本語音声認識モデルを読み込めませんでした (" + checked.fault + "): " +
                                         model->string());
        }
        silenceLibraryLog();
        const Context context = LoadedModel::shared().get(*model);
        const State state(whisper_init_state(context.get()));
        if (!state) throw SpeechRecognitionError("日本語音声認識を開始できませんでした (メモリ不足)");

        Run run{this, context.get(), static_cast<double>(samples.size()) / kSampleRate, nullptr};
        whisper_full_params params = whisper_full_default_params(WHISPER_SAMPLING_GREEDY);
        params.n_threads = threadCount();
        params.language = kWhisperLanguage;
        params.detect_language = false;
        params.translate = false;
        params.token_timestamps = true;
        params.print_progress = false;
        params.print_realtime = false;
        params.print_special = false;
        params.print_timestamps = false;
        params.new_segment_callback = &WhisperAnalyzer::onNewSegments;
        params.new_segment_callback_user_data = &run;
        if (progress_) {
            params.progress_callback = &WhisperAnalyzer::onProgress;
            params.progress_callback_user_data = &run;
        }

        const int status = whisper_full_with_state(context.get(), state.get(), params, samples.data(),
                                                   static_cast<int>(samples.size()));
        if (run.error) std::rethrow_exception(run.error);
        if (status != 0) {
            throw SpeechRecognitionError("日本語音声認識に失敗しました (whisper_full: " + std::to_string(status) + ")");
        }
        // The library's last report may be that of the last window's start.
        if (progress_ && run.lastPercent < 100) progress_(1.0);
    }

    // Called by the library on its decoding thread before each 30 s window, with the
    // percentage of the input behind it.
    static void onProgress(whisper_context*, whisper_state*, int percent, void* user) {
        auto& run = *static_cast<Run*>(user);
        if (run.error || percent <= run.lastPercent) return;
        run.lastPercent = percent;
        try {
            run.analyzer->progress_(std::clamp(percent, 0, 100) / 100.0);
        } catch (...) {
            // No exception may cross the library's frames; it is rethrown after the run.
            run.error = std::current_exception();
        }
    }

    // Called by the library on its decoding thread for each batch of new segments.
    static void onNewSegments(whisper_context* context, whisper_state* state, int newCount, void* user) {
        auto& run = *static_cast<Run*>(user);
        if (run.error) return;
        try {
            const int total = whisper_full_n_segments_from_state(state);
            for (int segment = std::max(0, total - newCount); segment < total; ++segment) {
                run.analyzer->results_.yield(result(context, state, segment, run.audioSeconds));
            }
        } catch (...) {
            // No exception may cross the library's frames; it is rethrown after the run.
            run.error = std::current_exception();
        }
    }

    static SpeechTranscriptionResult result(whisper_context* context, whisper_state* state, int segment,
                                            double audioSeconds) {
        const whisper_token endOfText = whisper_token_eot(context);
        std::vector<RecognizedToken> tokens;
        const int count = whisper_full_n_tokens_from_state(state, segment);
        for (int i = 0; i < count; ++i) {
            const whisper_token_data data = whisper_full_get_token_data_from_state(state, segment, i);
            if (data.id >= endOfText) continue;  // start, language, task and timestamp tokens
            const char* text = whisper_token_to_str(context, data.id);
            tokens.push_back({text ? text : "", data.p, rangeWithin(data.t0, data.t1, audioSeconds)});
        }
        SpeechTranscriptionResult result;
        result.isFinal = true;
        result.runs = runsFromTokens(tokens);
        const std::optional<AudioTimeRange> range =
            rangeWithin(whisper_full_get_segment_t0_from_state(state, segment),
                        whisper_full_get_segment_t1_from_state(state, segment), audioSeconds);
        result.range = range.value_or(AudioTimeRange{});
        return result;
    }

    std::shared_ptr<SpeechAssetStore> store_;
    ResultSequence results_;
    ProgressHandler progress_;
};

class StoreInstallation final : public AssetInstallationRequest {
public:
    explicit StoreInstallation(std::shared_ptr<SpeechAssetStore> store) : store_(std::move(store)) {}
    void downloadAndInstall(const AssetProgressCallback& onProgress) override { store_->install(onProgress); }

private:
    std::shared_ptr<SpeechAssetStore> store_;
};

class WhisperSpeechRecognition final : public SpeechRecognition {
public:
    explicit WhisperSpeechRecognition(SpeechAssetConfiguration configuration)
        : store_(std::make_shared<SpeechAssetStore>(std::move(configuration))) {}

    std::optional<std::string> supportedLocale(std::string_view identifier) override {
        if (!isJapaneseLocale(identifier)) return std::nullopt;
        return std::string(kJapaneseLocale);
    }

    AssetStatus assetStatus(const std::string& locale) override {
        if (!isJapaneseLocale(locale) || !processorSupportsRecogniser()) return AssetStatus::unsupported;
        if (store_->installedModel()) return AssetStatus::installed;
        return store_->isInstalling() ? AssetStatus::downloading : AssetStatus::supported;
    }

    std::unique_ptr<AssetInstallationRequest> assetInstallationRequest(const std::string& locale) override {
        if (!isJapaneseLocale(locale)) {
            throw SpeechRecognitionError("この言語の音声認識アセットはありません: " + locale);
        }
        if (store_->installedModel()) return nullptr;
        return std::make_unique<StoreInstallation>(store_);
    }

    std::unique_ptr<AudioInputFile> openAudioFile(const fs::path& file) override {
        return std::make_unique<SampleInput>(file);
    }

    std::unique_ptr<AudioInputFile> openSamples(std::span<const float> samples) override {
        return std::make_unique<SampleInput>(samples);
    }

    std::unique_ptr<SpeechAnalyzer> makeAnalyzer(const std::string& locale) override {
        if (!isJapaneseLocale(locale)) throw SpeechRecognitionError("この言語の音声認識はできません: " + locale);
        return std::make_unique<WhisperAnalyzer>(store_);
    }

private:
    std::shared_ptr<SpeechAssetStore> store_;
};

}  // namespace

std::shared_ptr<SpeechRecognition> makeSpeechRecognition(SpeechAssetConfiguration configuration) {
    return std::make_shared<WhisperSpeechRecognition>(std::move(configuration));
}

}  // namespace pelora::speech
