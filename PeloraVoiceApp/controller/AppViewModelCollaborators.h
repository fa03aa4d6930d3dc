#pragma once

#include "PeloraVoiceApp/MainThreadScheduler.h"
#include "PeloraVoiceApp/controller/APIKeyStore.h"
#include "PeloraVoiceApp/controller/CuePlayer.h"
#include "PeloraVoiceApp/controller/DictationOverlay.h"
#include "PeloraVoiceApp/controller/DictationRecorder.h"
#include "PeloraVoiceApp/controller/DictationTargetCapture.h"
#include "PeloraVoiceApp/controller/DictationTranscription.h"
#include "PeloraVoiceApp/controller/PermissionAccess.h"
#include "PeloraVoiceApp/controller/PushToTalkWatcher.h"
#include "PeloraVoiceApp/controller/WallClock.h"

#include <functional>

namespace pelora {

// What the controller works through. Each must outlive the controller; the scheduler's
// now() is the uptime clock of recording durations.
struct AppViewModelCollaborators {
    MainThreadScheduler& scheduler;
    WallClock& wallClock;
    APIKeyStore& keyStore;
    DictationRecorder& recorder;
    PushToTalkWatcher& pushToTalk;
    DictationOverlay& overlay;
    DictationTargetCapture& targetCapture;
    PermissionAccess& permissions;
    CuePlayer& cues;
    DictationTranscription& transcription;
    // Whether the desktop offers an on-device language model (none on Linux).
    bool onDeviceLanguageModelAvailable = false;
};

}  // namespace pelora
