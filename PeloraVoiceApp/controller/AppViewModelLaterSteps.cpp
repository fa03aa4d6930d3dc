// Steps of the construction and handlers whose work arrives with the settings, the
// playground, the earlier-edition check and reinsertion. Each flow replaces its step here
// with its own definition in its own file.
#include "PeloraVoiceApp/controller/AppViewModel.h"

namespace pelora {

void AppViewModel::checkConflictingLegacyApps() {}
void AppViewModel::performReinsertLastTranscription(bool /*fromMainWindowButton*/) {}
void AppViewModel::reinsertShortcutTriggered() {}

}  // namespace pelora
