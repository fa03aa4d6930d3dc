#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/accessibility/AccessibleNode.h"
#include "platform/accessibility/ScreenBox.h"
#include "platform/accessibility/TextElement.h"

// Other applications' user interface as the accessibility bus shows it. Offsets are UTF-16
// code units whatever the toolkit counts; rectangles are screen pixels. No operation
// throws: what cannot be read is absent. A call that the target leaves unanswered for
// 800 ms ends the operation it belongs to as "absent", and no call is ever made to this
// process itself (its own bridge would wait for the caller's blocked thread).
namespace pelora::accessibility {

class AccessibilityDesktop {
public:
    virtual ~AccessibilityDesktop() = default;

    // Assistive access is on: org.a11y.Status IsEnabled is true and the accessibility
    // bus answers.
    virtual bool isTrusted() = 0;
    // Turns assistive access on (IsEnabled true); the bus launcher starts on demand.
    // True when the setting was accepted.
    virtual bool requestAccess() = 0;

    // The focused element of a process (none: of the process whose window is active). An
    // element of another process is never returned for a target.
    virtual std::unique_ptr<TextElement> focusedElement(std::optional<std::int32_t> processIdentifier) = 0;
    // The title of the process's active window (none: of the active window).
    virtual std::optional<std::string> activeWindowTitle(std::optional<std::int32_t> processIdentifier) = 0;
    // The menu bar of the process's active window (none: of the active window).
    virtual std::unique_ptr<AccessibleNode> menuBar(std::optional<std::int32_t> processIdentifier) = 0;
};

// The desktop over libatspi, one per process; safe to call from any thread (calls are
// serialised).
std::shared_ptr<AccessibilityDesktop> atspiDesktop();

}  // namespace pelora::accessibility
