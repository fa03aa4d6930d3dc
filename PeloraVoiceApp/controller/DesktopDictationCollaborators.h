#pragma once

#include "PeloraVoiceApp/controller/AppViewModelCollaborators.h"

#include <memory>

namespace pelora {

// The controller's collaborators on the desktop: the sound server, the X11 keys, the
// microphone recorder, the overlay panel, the permission reads, the shared front-application
// tracker and insertion orchestrator, the engine, the key store and the Qt main loop.
// Needs a QApplication; made and destroyed on the main thread.
class DesktopDictationCollaborators final : public AppViewModelCollaboratorOwner {
public:
    // `engine` none: the engine itself (PeloraDictationEngine).
    explicit DesktopDictationCollaborators(std::shared_ptr<DictationEngine> engine = nullptr);
    ~DesktopDictationCollaborators() override;
    DesktopDictationCollaborators(const DesktopDictationCollaborators&) = delete;
    DesktopDictationCollaborators& operator=(const DesktopDictationCollaborators&) = delete;

    // Valid while this object lives.
    AppViewModelCollaborators collaborators();

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace pelora
