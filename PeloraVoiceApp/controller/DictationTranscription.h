#pragma once

#include "PeloraVoiceApp/controller/DictationJob.h"

namespace pelora {

// Runs a dictation's transcription and completion. Main thread only.
class DictationTranscription {
public:
    virtual ~DictationTranscription() = default;
    virtual void start(DictationJob job) = 0;
};

}  // namespace pelora
