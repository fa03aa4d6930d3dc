#pragma once

#include "engine/injection/ActiveApplicationSnapshot.h"
#include "engine/injection/TextInjectionOutcome.h"
#include "engine/japanese/InsertedTextCorrection.h"

#include <functional>
#include <optional>
#include <string>

namespace pelora {

// The insertion orchestrator as the controller uses it. Main thread only.
class DictationPaster {
public:
    virtual ~DictationPaster() = default;
    // Leaves a non-empty text on the clipboard for the user (cancelling a pending restore);
    // an empty text changes nothing.
    virtual void copyOnly(const std::string& text) = 0;
    // Inserts `text` into the field the user was working in (the target captured when the
    // recording started), by whatever route works; never fails: `done` receives the
    // outcome on the main thread, later or at once.
    virtual void injectIntoFocusedField(std::string text, std::optional<ActiveApplicationSnapshot> targetApp,
                                        bool restoreClipboard, bool allowDuplicates,
                                        std::function<void(TextInjectionOutcome)> done) = 0;
    // Turns the text inserted earlier into the corrected text where it stands; `done`
    // receives whether the field was fixed, on the main thread, later or at once.
    virtual void applyInPlaceCorrection(InsertedTextCorrection correction, std::string originalInsertedText,
                                        std::string correctedFullText,
                                        std::optional<ActiveApplicationSnapshot> targetApp, bool restoreClipboard,
                                        std::function<void(bool applied)> done) = 0;
};

}  // namespace pelora
