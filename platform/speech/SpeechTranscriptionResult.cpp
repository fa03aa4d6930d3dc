#include "platform/speech/SpeechTranscriptionResult.h"

namespace pelora::speech {

std::string SpeechTranscriptionResult::text() const {
    std::string joined;
    for (const TranscriptionRun& run : runs) joined += run.text;
    return joined;
}

}  // namespace pelora::speech
