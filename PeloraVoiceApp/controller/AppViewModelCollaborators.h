#pragma once

#include "PeloraVoiceApp/MainThreadAsync.h"
#include "PeloraVoiceApp/MainThreadScheduler.h"
#include "PeloraVoiceApp/controller/APIKeyStore.h"
#include "PeloraVoiceApp/controller/AudioFilePicker.h"
#include "PeloraVoiceApp/controller/BenchmarkSpeechSynthesizer.h"
#include "PeloraVoiceApp/controller/ContextualAutoReplacer.h"
#include "PeloraVoiceApp/controller/CuePlayer.h"
#include "PeloraVoiceApp/controller/DictationEngine.h"
#include "PeloraVoiceApp/controller/DictationOverlay.h"
#include "PeloraVoiceApp/controller/DictationPaster.h"
#include "PeloraVoiceApp/controller/DictationRecorder.h"
#include "PeloraVoiceApp/controller/DictationTargetCapture.h"
#include "PeloraVoiceApp/controller/LastExternalAppSource.h"
#include "PeloraVoiceApp/controller/PermissionAccess.h"
#include "PeloraVoiceApp/controller/PushToTalkWatcher.h"
#include "PeloraVoiceApp/controller/ReinsertShortcutWatcher.h"
#include "PeloraVoiceApp/controller/WallClock.h"

#include <functional>
#include <memory>

namespace pelora {

// What the controller works through. Each reference must outlive the controller, the
// scheduler also every worker the controller started; the scheduler's now() is the
// uptime clock of recording durations.
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
    DictationPaster& paster;
    ReinsertShortcutWatcher& reinsertShortcut;
    LastExternalAppSource& lastExternalApp;
    // Shared with the workers that call it, which may outlive the controller.
    std::shared_ptr<DictationEngine> engine;
    // Where blocking engine work runs (building the transcriber, recognition, the boot's
    // downloads): a thread of its own per job by default.
    mainthread::WorkerSpawner spawnWorker = mainthread::spawnThread;
    // The dialog that picks a file to transcribe; none: the picker does nothing.
    AudioFilePicker* filePicker = nullptr;
    // The benchmark's speech synthesiser and its time limit.
    BenchmarkSpeechSynthesizer::Tool speechSynthesizer{};
    // The contextual correction run after a completion (shared with its workers).
    std::shared_ptr<const ContextualAutoReplacer> contextualAutoReplacer = ContextualAutoReplacer::engineShared();
    // Whether the desktop offers an on-device language model (none on Linux).
    bool onDeviceLanguageModelAvailable = false;
};

// Keeps alive what a controller's collaborators are made of, when the controller made
// them itself.
class AppViewModelCollaboratorOwner {
public:
    virtual ~AppViewModelCollaboratorOwner() = default;
};

}  // namespace pelora
