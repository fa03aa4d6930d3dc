#include "PeloraVoiceApp/controller/FileTranscriptionProgress.h"

#include <algorithm>
#include <cmath>

namespace pelora {

namespace {

std::optional<double> sanitized(std::optional<double> fraction) {
    if (!fraction || std::isnan(*fraction)) return std::nullopt;
    return std::clamp(*fraction, 0.0, 1.0);
}

}  // namespace

FileTranscriptionProgress FileTranscriptionProgressThrottle::start(FileTranscriptionProgress first, Duration now) {
    first.fraction = sanitized(first.fraction);
    latest_ = first;
    published_ = first;
    publishedAt_ = now;
    waking_ = false;
    return first;
}

FileTranscriptionProgressThrottle::Step FileTranscriptionProgressThrottle::report(FileTranscriptionProgress value,
                                                                                 Duration now) {
    if (value.phase < latest_.phase) return {};
    value.fraction = sanitized(value.fraction);
    // Within a phase a stage may start over (the decoder trying its next route); what was
    // shown stays until it is passed.
    if (value.phase == latest_.phase && latest_.fraction && (!value.fraction || *value.fraction < *latest_.fraction))
        value.fraction = latest_.fraction;
    latest_ = value;
    if (waking_) return {};  // the waiting value is now this one
    return publishOrWait(now);
}

FileTranscriptionProgressThrottle::Step FileTranscriptionProgressThrottle::wake(Duration now) {
    waking_ = false;
    return publishOrWait(now);
}

FileTranscriptionProgressThrottle::Step FileTranscriptionProgressThrottle::publishOrWait(Duration now) {
    if (latest_ == published_) return {};
    if (!publishedAt_ || now - *publishedAt_ >= interval) {
        published_ = latest_;
        publishedAt_ = now;
        return {published_, std::nullopt};
    }
    waking_ = true;
    return {std::nullopt, *publishedAt_ + interval};
}

}  // namespace pelora
