#include "platform/audio/PulseAudioService.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace pelora::audio {

namespace {

constexpr std::uint32_t cueRate = 48000;

// A one-shot answer from the connection's thread; waited for with a time limit.
struct Answer {
    std::mutex mutex;
    std::condition_variable ready;
    bool done = false;
    std::optional<std::string> text;
    bool flag = false;

    void finish() {
        std::lock_guard lock(mutex);
        done = true;
        ready.notify_all();
    }
    bool wait(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex);
        return ready.wait_until(lock, deadline, [&] { return done; });
    }
};

std::vector<float> cueTone(Cue cue) {
    const double frequency = PulseAudioService::cueFrequency(cue);
    const int frames = static_cast<int>(cueRate) * PulseAudioService::cueMilliseconds(cue) / 1000;
    std::vector<float> tone(static_cast<std::size_t>(frames));
    const int fade = static_cast<int>(cueRate) / 200;  // 5 ms ramps: no clicks
    for (int i = 0; i < frames; ++i) {
        double envelope = 1.0;
        if (i < fade) envelope = double(i) / fade;
        if (frames - i < fade) envelope = double(frames - i) / fade;
        tone[std::size_t(i)] = float(0.5 * envelope * std::sin(2 * std::numbers::pi * frequency * i / cueRate));
    }
    return tone;
}

}  // namespace

struct PulseAudioService::Impl {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;  // loop lock
    bool stopping = false;          // loop lock
    pa_time_event* retry = nullptr; // loop lock

    std::mutex stateMutex;
    SourceState state;
    std::condition_variable stateChanged;
    pa_context_state_t contextState = PA_CONTEXT_UNCONNECTED;  // stateMutex

    void connect();
    void dropContext();
    void refreshState();
    void setState(SourceState next) {
        std::lock_guard lock(stateMutex);
        state = next;
    }
};

namespace {

void onContextState(pa_context* context, void* data);

void scheduleRetry(PulseAudioService::Impl* impl) {
    if (impl->stopping || impl->retry) return;
    auto* api = pa_threaded_mainloop_get_api(impl->loop);
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, 1000 * 1000);
    impl->retry = api->time_new(
        api, &when,
        [](pa_mainloop_api* api, pa_time_event* event, const timeval*, void* data) {
            auto* impl = static_cast<PulseAudioService::Impl*>(data);
            api->time_free(event);
            impl->retry = nullptr;
            if (!impl->stopping && !impl->context) impl->connect();
        },
        impl);
}

void onServerInfo(pa_context* context, const pa_server_info* info, void* data) {
    auto* impl = static_cast<PulseAudioService::Impl*>(data);
    if (!info || !info->default_source_name || !*info->default_source_name) {
        impl->setState({true, false});
        return;
    }
    pa_operation* op = pa_context_get_source_info_by_name(
        context, info->default_source_name,
        [](pa_context*, const pa_source_info* source, int eol, void* data) {
            auto* impl = static_cast<PulseAudioService::Impl*>(data);
            if (eol < 0) impl->setState({true, false});  // no such source
            if (!source) return;
            impl->setState({true, source->monitor_of_sink == PA_INVALID_INDEX});
        },
        impl);
    if (op) pa_operation_unref(op);
}

void onContextState(pa_context* context, void* data) {
    auto* impl = static_cast<PulseAudioService::Impl*>(data);
    const auto state = pa_context_get_state(context);
    {
        std::lock_guard lock(impl->stateMutex);
        impl->contextState = state;
        impl->stateChanged.notify_all();
    }
    switch (state) {
        case PA_CONTEXT_READY: {
            pa_context_set_subscribe_callback(
                context,
                [](pa_context*, pa_subscription_event_type_t, std::uint32_t, void* data) {
                    static_cast<PulseAudioService::Impl*>(data)->refreshState();
                },
                impl);
            if (auto* op = pa_context_subscribe(
                    context, pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SOURCE), nullptr,
                    nullptr))
                pa_operation_unref(op);
            impl->refreshState();
            break;
        }
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            impl->setState({false, false});
            impl->dropContext();
            scheduleRetry(impl);
            break;
        default:
            break;
    }
}

}  // namespace

void PulseAudioService::Impl::connect() {
    context = pa_context_new(pa_threaded_mainloop_get_api(loop), "PeloraVoice2");
    if (!context) return;
    pa_context_set_state_callback(context, onContextState, this);
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        dropContext();
        scheduleRetry(this);
    }
}

void PulseAudioService::Impl::dropContext() {
    if (!context) return;
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
    context = nullptr;
    std::lock_guard lock(stateMutex);
    contextState = PA_CONTEXT_FAILED;
    stateChanged.notify_all();
}

void PulseAudioService::Impl::refreshState() {
    if (!context) return;
    if (auto* op = pa_context_get_server_info(context, onServerInfo, this)) pa_operation_unref(op);
}

PulseAudioService::PulseAudioService() : impl_(std::make_shared<Impl>()) {
    impl_->loop = pa_threaded_mainloop_new();
    if (!impl_->loop) return;
    pa_threaded_mainloop_set_name(impl_->loop, "pelora-audio");
    pa_threaded_mainloop_lock(impl_->loop);
    impl_->connect();
    pa_threaded_mainloop_unlock(impl_->loop);
    pa_threaded_mainloop_start(impl_->loop);
}

PulseAudioService::~PulseAudioService() {
    if (!impl_->loop) return;
    pa_threaded_mainloop_lock(impl_->loop);
    impl_->stopping = true;
    if (impl_->retry) {
        pa_threaded_mainloop_get_api(impl_->loop)->time_free(impl_->retry);
        impl_->retry = nullptr;
    }
    impl_->dropContext();
    pa_threaded_mainloop_unlock(impl_->loop);
    pa_threaded_mainloop_stop(impl_->loop);
    pa_threaded_mainloop_free(impl_->loop);
}

SourceState PulseAudioService::sourceState() {
    std::lock_guard lock(impl_->stateMutex);
    return impl_->state;
}

double PulseAudioService::cueFrequency(Cue cue) {
    static constexpr std::array<double, 3> frequencies{1760.0, 880.0, 220.0};
    return frequencies[std::size_t(cue)];
}

int PulseAudioService::cueMilliseconds(Cue cue) {
    static constexpr std::array<int, 3> lengths{90, 110, 260};
    return lengths[std::size_t(cue)];
}

namespace {

// One cue on its way out: a short low-latency playback stream that ends itself.
struct CuePlayback {
    const std::vector<float>* tone;
    std::size_t written = 0;
};

void onCueState(pa_stream* stream, void* data) {
    const auto state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        delete static_cast<CuePlayback*>(data);
        pa_stream_unref(stream);
    }
}

void onCueWritable(pa_stream* stream, std::size_t writable, void* data) {
    auto* cue = static_cast<CuePlayback*>(data);
    const std::size_t left = (cue->tone->size() - cue->written) * sizeof(float);
    const std::size_t bytes = std::min(left, writable / sizeof(float) * sizeof(float));
    if (bytes > 0) {
        pa_stream_write(stream, cue->tone->data() + cue->written, bytes, nullptr, 0, PA_SEEK_RELATIVE);
        cue->written += bytes / sizeof(float);
    }
    if (cue->written == cue->tone->size()) {
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_operation* op = pa_stream_drain(
            stream, [](pa_stream* stream, int, void*) { pa_stream_disconnect(stream); }, nullptr);
        if (op) pa_operation_unref(op);
        else pa_stream_disconnect(stream);
    }
}

}  // namespace

void PulseAudioService::playCue(Cue cue) {
    static const std::array<std::vector<float>, 3> tones{cueTone(Cue::tink), cueTone(Cue::pop), cueTone(Cue::basso)};
    if (!impl_->loop) return;
    pa_threaded_mainloop_lock(impl_->loop);
    if (impl_->context && pa_context_get_state(impl_->context) == PA_CONTEXT_READY) {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, cueRate, 1};
        if (pa_stream* stream = pa_stream_new(impl_->context, "PeloraVoice2 cue", &spec, nullptr)) {
            auto* playback = new CuePlayback{&tones[std::size_t(cue)]};
            pa_stream_set_state_callback(stream, onCueState, playback);
            pa_stream_set_write_callback(stream, onCueWritable, playback);
            // A short buffer: the cue sounds within a few tens of milliseconds.
            pa_buffer_attr attributes{};
            attributes.maxlength = std::uint32_t(-1);
            attributes.tlength = cueRate / 50 * sizeof(float);
            attributes.prebuf = std::uint32_t(-1);
            attributes.minreq = std::uint32_t(-1);
            attributes.fragsize = std::uint32_t(-1);
            if (pa_stream_connect_playback(stream, nullptr, &attributes, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0) {
                pa_stream_set_state_callback(stream, nullptr, nullptr);
                pa_stream_set_write_callback(stream, nullptr, nullptr);
                delete playback;
                pa_stream_unref(stream);
            }
        }
    }
    pa_threaded_mainloop_unlock(impl_->loop);
}

// ---- capture ---------------------------------------------------------------------------

namespace {

// Everything the stream's callbacks touch; they run with the loop locked.
struct Recording {
    pa_threaded_mainloop* loop = nullptr;
    pa_stream* stream = nullptr;
    CaptureHandlers handlers;
    Answer started;        // ready or failed
    bool failed = false;   // loop lock
    bool ended = false;    // loop lock: no more samples are handed on
    bool checkingMove = false;  // loop lock: samples wait until the new source is known
    std::vector<float> held;    // loop lock
    pa_operation* moveCheck = nullptr;  // loop lock: cancelled with the capture

    void end() {
        if (ended) return;
        ended = true;
        held.clear();
        if (handlers.onInterrupted) handlers.onInterrupted();
    }
};

class PulseCapture final : public Capture {
public:
    explicit PulseCapture(std::unique_ptr<Recording> recording) : recording_(std::move(recording)) {}
    Recording& recording() { return *recording_; }
    ~PulseCapture() override {
        pa_threaded_mainloop_lock(recording_->loop);
        pa_stream* stream = recording_->stream;
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_set_moved_callback(stream, nullptr, nullptr);
        recording_->ended = true;
        if (recording_->moveCheck) {
            pa_operation_cancel(recording_->moveCheck);
            pa_operation_unref(recording_->moveCheck);
            recording_->moveCheck = nullptr;
        }
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        pa_threaded_mainloop_unlock(recording_->loop);
    }

private:
    std::unique_ptr<Recording> recording_;
};

void onStreamRead(pa_stream* stream, std::size_t, void* data) {
    auto* recording = static_cast<Recording*>(data);
    const void* bytes = nullptr;
    std::size_t length = 0;
    while (pa_stream_readable_size(stream) > 0) {
        if (pa_stream_peek(stream, &bytes, &length) < 0 || length == 0) return;
        if (bytes && !recording->ended) {
            std::span<const float> fragment(static_cast<const float*>(bytes), length / sizeof(float));
            if (recording->checkingMove) recording->held.insert(recording->held.end(), fragment.begin(), fragment.end());
            else if (recording->handlers.onSamples) recording->handlers.onSamples(fragment);
        }
        pa_stream_drop(stream);
    }
}

void onStreamState(pa_stream* stream, void* data) {
    auto* recording = static_cast<Recording*>(data);
    switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            recording->started.finish();
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            recording->failed = true;
            recording->started.finish();
            recording->end();
            break;
        default:
            break;
    }
}

void onStreamMoved(pa_stream* stream, void* data) {
    // The server moves a stream whose source went away; onto a monitor it would record
    // what the desktop plays, so samples wait until the new source is known.
    auto* recording = static_cast<Recording*>(data);
    recording->checkingMove = true;
    if (recording->moveCheck) {
        pa_operation_cancel(recording->moveCheck);
        pa_operation_unref(recording->moveCheck);
    }
    recording->moveCheck = pa_context_get_source_info_by_index(
        pa_stream_get_context(stream), pa_stream_get_device_index(stream),
        [](pa_context*, const pa_source_info* source, int eol, void* data) {
            auto* recording = static_cast<Recording*>(data);
            if (!source) {
                if (eol < 0) recording->end();
                return;
            }
            recording->checkingMove = false;
            if (source->monitor_of_sink != PA_INVALID_INDEX) {
                recording->end();
            } else if (!recording->ended && !recording->held.empty() && recording->handlers.onSamples) {
                recording->handlers.onSamples(recording->held);
                recording->held.clear();
            }
        },
        recording);
    if (!recording->moveCheck) recording->end();
}

}  // namespace

CaptureStart PulseAudioService::startCapture(CaptureHandlers handlers, std::chrono::milliseconds timeLimit) {
    const auto deadline = std::chrono::steady_clock::now() + timeLimit;
    auto noDevice = [] { return CaptureStart{nullptr, CaptureStart::Failure::noInputDevice, {}}; };
    if (!impl_->loop) return noDevice();
    {
        // A connection still being made may finish within the limit; a failed one will not.
        std::unique_lock lock(impl_->stateMutex);
        impl_->stateChanged.wait_until(lock, deadline, [&] {
            return impl_->contextState == PA_CONTEXT_READY || impl_->contextState == PA_CONTEXT_FAILED ||
                   impl_->contextState == PA_CONTEXT_TERMINATED;
        });
        if (impl_->contextState != PA_CONTEXT_READY) return noDevice();
    }

    // The default source, asked afresh: it must exist and be no monitor. The answer lives
    // on the heap: the second question may still be answered after a time-out (a server
    // that stopped answering), and then it is left behind rather than freed under it.
    auto* pendingAnswer = new Answer;
    Answer& sourceAnswer = *pendingAnswer;
    pa_threaded_mainloop_lock(impl_->loop);
    pa_operation* op = impl_->context ? pa_context_get_server_info(
                                            impl_->context,
                                            [](pa_context* context, const pa_server_info* info, void* data) {
                                                auto* answer = static_cast<Answer*>(data);
                                                if (!info || !info->default_source_name || !*info->default_source_name) {
                                                    answer->finish();
                                                    return;
                                                }
                                                std::string name = info->default_source_name;
                                                pa_operation* next = pa_context_get_source_info_by_name(
                                                    context, name.c_str(),
                                                    [](pa_context*, const pa_source_info* source, int, void* data) {
                                                        auto* answer = static_cast<Answer*>(data);
                                                        if (source) {
                                                            if (source->monitor_of_sink == PA_INVALID_INDEX)
                                                                answer->text = source->name;
                                                            return;
                                                        }
                                                        answer->finish();
                                                    },
                                                    answer);
                                                if (next) pa_operation_unref(next);
                                                else answer->finish();
                                            },
                                            pendingAnswer)
                                      : nullptr;
    pa_threaded_mainloop_unlock(impl_->loop);
    if (!op) {
        delete pendingAnswer;
        return noDevice();
    }
    const bool answered = sourceAnswer.wait(deadline);
    pa_threaded_mainloop_lock(impl_->loop);
    if (!answered) pa_operation_cancel(op);
    pa_operation_unref(op);
    pa_threaded_mainloop_unlock(impl_->loop);
    // A server that does not answer in time counts as none.
    if (!answered) return noDevice();
    const std::optional<std::string> sourceName = sourceAnswer.text;
    delete pendingAnswer;
    if (!sourceName) return noDevice();

    auto recording = std::make_unique<Recording>();
    recording->loop = impl_->loop;
    recording->handlers = std::move(handlers);
    pa_threaded_mainloop_lock(impl_->loop);
    if (!impl_->context) {
        pa_threaded_mainloop_unlock(impl_->loop);
        return noDevice();
    }
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 16000, 1};
    recording->stream = pa_stream_new(impl_->context, "PeloraVoice2 dictation", &spec, nullptr);
    if (!recording->stream) {
        std::string text = pa_strerror(pa_context_errno(impl_->context));
        pa_threaded_mainloop_unlock(impl_->loop);
        return {nullptr, CaptureStart::Failure::refused, text};
    }
    pa_stream_set_state_callback(recording->stream, onStreamState, recording.get());
    pa_stream_set_read_callback(recording->stream, onStreamRead, recording.get());
    pa_stream_set_moved_callback(recording->stream, onStreamMoved, recording.get());
    // About 20 ms per fragment: the level meter moves smoothly and samples arrive soon.
    pa_buffer_attr attributes{};
    attributes.maxlength = std::uint32_t(-1);
    attributes.fragsize = 320 * sizeof(float);
    int result = pa_stream_connect_record(recording->stream, sourceName->c_str(), &attributes,
                                          PA_STREAM_ADJUST_LATENCY);
    std::string failure;
    if (result < 0) failure = pa_strerror(pa_context_errno(impl_->context));
    pa_threaded_mainloop_unlock(impl_->loop);

    auto capture = std::make_unique<PulseCapture>(std::move(recording));
    if (!failure.empty()) return {nullptr, CaptureStart::Failure::refused, failure};
    Recording& live = capture->recording();
    if (!live.started.wait(deadline)) return noDevice();  // a server that stopped answering
    pa_threaded_mainloop_lock(impl_->loop);
    const bool failed = live.failed;
    if (failed && impl_->context) failure = pa_strerror(pa_context_errno(impl_->context));
    pa_threaded_mainloop_unlock(impl_->loop);
    if (failed) return {nullptr, CaptureStart::Failure::refused, failure.empty() ? "the recording stream failed" : failure};
    return {std::move(capture), CaptureStart::Failure::none, {}};
}

}  // namespace pelora::audio
