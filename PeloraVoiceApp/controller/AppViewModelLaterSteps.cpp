// Steps of the construction and handlers whose work arrives with the earlier-edition check,
// reinsertion and the contextual correction pass. Each flow replaces its step here with its
// own definition in its own file.
#include "PeloraVoiceApp/controller/AppViewModel.h"

namespace pelora {

void AppViewModel::performReinsertLastTranscription(bool /*fromMainWindowButton*/) {}
void AppViewModel::reinsertShortcutTriggered() {}
MainThreadScheduler::Task AppViewModel::runMirkAutoReplacePass(ContextualPassRequest /*request*/,
                                                               std::function<void()> done) {
    if (done) done();
    return {};
}

}  // namespace pelora
