#pragma once

#include "PeloraVoiceApp/system/PasterPermissions.h"
#include "platform/audio/AudioService.h"
#include "platform/keymonitor/X11KeyMonitor.h"

namespace pelora {

// Where the permission reads and repairs come from in a desktop session: the
// accessibility bus, the X server (XTest, XInput 2.2), the sound server's kept state,
// settings programs started in a session of their own.
PasterPermissions::Sources sessionPermissionSources(keymonitor::X11KeyMonitor& keys, audio::AudioService& audio);

}  // namespace pelora
