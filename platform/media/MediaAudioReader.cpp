#include "platform/media/MediaAudioReader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <mutex>
#include <string>

namespace pelora::media {

namespace {

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct ResamplerFreer {
    void operator()(SwrContext* s) const { swr_free(&s); }
};

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

[[noreturn]] void fail(const std::string& what, int code) { throw MediaAudioReader::Error(what + ": " + errorText(code)); }

// Failures are reported through exceptions; the libraries' own console messages would
// only clutter the output of the programs that embed the engine.
void silenceLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

}  // namespace

struct MediaAudioReader::State {
    std::unique_ptr<AVFormatContext, FormatCloser> format;
    std::unique_ptr<AVCodecContext, CodecFreer> codec;
    std::unique_ptr<SwrContext, ResamplerFreer> resampler;
    std::unique_ptr<AVPacket, PacketFreer> packet{av_packet_alloc()};
    std::unique_ptr<AVFrame, FrameFreer> frame{av_frame_alloc()};
    Limits limits;
    int streamIndex = -1;
    std::vector<float> scratch;
    // What the resampler was set up for; a change mid-stream sets it up anew.
    AVChannelLayout resamplerLayout{};
    int resamplerRate = 0;
    int resamplerFormat = -1;
    bool draining = false;
    bool finished = false;

    ~State() { av_channel_layout_uninit(&resamplerLayout); }

    // Room left before the output limit.
    std::size_t roomIn(const std::vector<float>& out) const {
        return out.size() < limits.maxOutputSamples ? limits.maxOutputSamples - out.size() : 0;
    }

    // Converts into the scratch block and appends what was made: the output is never
    // cleared first only to be overwritten. A null input drains the resampler.
    int convertInto(std::vector<float>& out, int room, const uint8_t** input, int count) {
        if (scratch.size() < static_cast<std::size_t>(room)) scratch.resize(static_cast<std::size_t>(room));
        auto* dst = reinterpret_cast<uint8_t*>(scratch.data());
        const int made = swr_convert(resampler.get(), &dst, room, input, count);
        if (made < 0) fail("resampling failed", made);
        out.insert(out.end(), scratch.begin(), scratch.begin() + made);
        return made;
    }

    void flushResampler(std::vector<float>& out) {
        if (!resampler) return;
        for (;;) {
            const int room = static_cast<int>(std::min<std::size_t>(roomIn(out), 1024));
            if (room == 0 || convertInto(out, room, nullptr, 0) == 0) break;
        }
    }

    void setUpResampler(const AVFrame& f, std::vector<float>& out) {
        checkRate(f.sample_rate);
        const bool same = resampler && resamplerRate == f.sample_rate && resamplerFormat == f.format &&
                          av_channel_layout_compare(&resamplerLayout, &f.ch_layout) == 0;
        if (same) return;
        flushResampler(out);
        resampler.reset();
        av_channel_layout_uninit(&resamplerLayout);

        AVChannelLayout inLayout{};
        if (f.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || f.ch_layout.nb_channels < 1) {
            av_channel_layout_default(&inLayout, f.ch_layout.nb_channels > 0 ? f.ch_layout.nb_channels : 1);
        } else if (int rc = av_channel_layout_copy(&inLayout, &f.ch_layout); rc < 0) {
            fail("channel layout", rc);
        }
        AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
        SwrContext* raw = nullptr;
        int rc = swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_FLT, kOutputSampleRate, &inLayout,
                                     static_cast<AVSampleFormat>(f.format), f.sample_rate, 0, nullptr);
        std::unique_ptr<SwrContext, ResamplerFreer> made(raw);
        const int channels = inLayout.nb_channels;
        av_channel_layout_uninit(&inLayout);
        if (rc < 0) fail("cannot set up resampling", rc);
        if (channels > 1) {
            // Every channel weighs the same: mono is the plain average.
            std::vector<double> weights(static_cast<std::size_t>(channels), 1.0 / channels);
            if ((rc = swr_set_matrix(made.get(), weights.data(), channels)) < 0) fail("cannot set mix", rc);
        }
        if ((rc = swr_init(made.get())) < 0) fail("cannot start resampling", rc);
        resampler = std::move(made);
        if ((rc = av_channel_layout_copy(&resamplerLayout, &f.ch_layout)) < 0) fail("channel layout", rc);
        resamplerRate = f.sample_rate;
        resamplerFormat = f.format;
    }

    void checkRate(int rate) const {
        if (rate < limits.minInputRate || rate > limits.maxInputRate)
            throw RateOutOfRange("sample rate out of range: " + std::to_string(rate));
    }

    void convert(const AVFrame& f, std::vector<float>& out) {
        setUpResampler(f, out);
        int room = swr_get_out_samples(resampler.get(), f.nb_samples);
        if (room < 0) fail("resampling failed", room);
        // Beyond the limit the resampler keeps the rest; it is never asked for it.
        room = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(room), roomIn(out)));
        if (room == 0) return;
        convertInto(out, room, const_cast<const uint8_t**>(f.extended_data), f.nb_samples);
    }

    // Takes every frame the decoder has ready; true when the decoder has fully ended.
    bool receiveFrames(std::vector<float>& out) {
        for (;;) {
            const int rc = avcodec_receive_frame(codec.get(), frame.get());
            if (rc == AVERROR(EAGAIN)) return false;
            if (rc == AVERROR_EOF) return true;
            if (rc < 0) fail("decoding failed", rc);
            convert(*frame, out);
            av_frame_unref(frame.get());
        }
    }
};

MediaAudioReader::MediaAudioReader(const std::filesystem::path& path, Limits limits)
    : state_(std::make_unique<State>()) {
    silenceLibraryLog();
    state_->limits = limits;
    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (rc < 0) fail("cannot open " + path.filename().string(), rc);
    state_->format.reset(raw);
    if ((rc = avformat_find_stream_info(raw, nullptr)) < 0) fail("cannot read stream info", rc);

    const AVCodec* decoder = nullptr;
    rc = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (rc == AVERROR_STREAM_NOT_FOUND) return;
    if (rc < 0) fail("no usable audio stream", rc);
    state_->streamIndex = rc;
    // Only the audio stream is read; video and other streams are skipped by the demuxer.
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        if (static_cast<int>(i) != state_->streamIndex) raw->streams[i]->discard = AVDISCARD_ALL;
    }

    state_->codec.reset(avcodec_alloc_context3(decoder));
    if (!state_->codec) throw Error("cannot allocate decoder");
    AVStream* stream = raw->streams[state_->streamIndex];
    // A rate the header leaves open (0) is checked on the first decoded frame instead.
    if (stream->codecpar->sample_rate != 0) state_->checkRate(stream->codecpar->sample_rate);
    if ((rc = avcodec_parameters_to_context(state_->codec.get(), stream->codecpar)) < 0) fail("decoder setup", rc);
    state_->codec->pkt_timebase = stream->time_base;
    if ((rc = avcodec_open2(state_->codec.get(), decoder, nullptr)) < 0) fail("cannot open decoder", rc);
    if (!state_->packet || !state_->frame) throw Error("out of memory");
}

MediaAudioReader::MediaAudioReader(const std::filesystem::path& path) : MediaAudioReader(path, Limits{}) {}

MediaAudioReader::~MediaAudioReader() = default;

bool MediaAudioReader::hasAudioTrack() const { return state_->streamIndex >= 0; }

double MediaAudioReader::durationSeconds() const {
    if (!hasAudioTrack()) return 0;
    const AVStream* stream = state_->format->streams[state_->streamIndex];
    if (stream->duration > 0 && stream->time_base.den > 0) return static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    if (state_->format->duration > 0) return static_cast<double>(state_->format->duration) / AV_TIME_BASE;
    return 0;
}

bool MediaAudioReader::readNext(std::vector<float>& out) {
    State& s = *state_;
    if (s.finished || !hasAudioTrack()) return false;
    if (s.roomIn(out) == 0) {
        s.finished = true;
        return false;
    }
    if (s.draining) {
        s.receiveFrames(out);
        s.flushResampler(out);
        s.finished = true;
        return true;
    }
    for (;;) {
        const int rc = av_read_frame(s.format.get(), s.packet.get());
        if (rc == AVERROR_EOF) {
            const int sent = avcodec_send_packet(s.codec.get(), nullptr);
            if (sent < 0 && sent != AVERROR_EOF) fail("decoding failed", sent);
            s.draining = true;
            return readNext(out);
        }
        if (rc < 0) fail("reading failed", rc);
        if (s.packet->stream_index != s.streamIndex) {
            av_packet_unref(s.packet.get());
            continue;
        }
        const int sent = avcodec_send_packet(s.codec.get(), s.packet.get());
        av_packet_unref(s.packet.get());
        if (sent < 0) fail("decoding failed", sent);
        s.receiveFrames(out);
        return true;
    }
}

}  // namespace pelora::media
