#pragma once

#include "engine/injection/ActiveApplicationSnapshot.h"
#include "engine/injection/FocusedTextContext.h"

#include <optional>

namespace pelora {

// Where a dictation's text will go and what surrounds the caret there, read when recording
// starts. Main thread only.
class DictationTargetCapture {
public:
    virtual ~DictationTargetCapture() = default;
    virtual std::optional<ActiveApplicationSnapshot> captureTargetForRecordingStart(
        bool preferExternalWhenNotEditingSelf) = 0;
    // Where a reinsertion goes: from this application's own window (true) or from a hot key
    // or the pill (false).
    virtual std::optional<ActiveApplicationSnapshot> resolveTargetForReinsert(bool fromMainWindowButton) = 0;
    virtual FocusedTextContext captureFocusedContext(const std::optional<ActiveApplicationSnapshot>& target) = 0;
};

}  // namespace pelora
