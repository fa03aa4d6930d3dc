#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// What the insertion orchestrator asks of the engine's injector and the session's
// permissions. Accessibility calls run on the main thread (each bounded by its own
// time-out); key posting blocks for its pauses and runs on a worker. Errors are the
// engine's TextInjectionError.
class InjectionBackend {
public:
    virtual ~InjectionBackend() = default;

    virtual bool accessibilityTrusted() = 0;
    virtual bool mayPostEvents() = 0;
    // Switches the session's accessibility on, as the permission repair does.
    virtual void requestAccessibility() = 0;

    virtual void injectDirectAX(const std::string& text, std::optional<std::int32_t> targetPID,
                                bool allowDuplicates) = 0;
    virtual bool triggerMenuBarPaste(std::optional<std::int32_t> targetPID,
                                     const std::optional<std::string>& targetBundleIdentifier) = 0;
    virtual bool canSafelyReplaceViaKeyboard(const std::string& originalInsertedText, std::int32_t targetPID) = 0;
    virtual bool replaceRecentlyInsertedAX(const std::string& originalInsertedText,
                                           const std::string& correctedFullText,
                                           std::optional<std::int32_t> targetPID) = 0;

    virtual void simulateCommandVPaste(bool terminalLike) = 0;
    virtual void simulateShiftReturnKey() = 0;
    virtual void simulateUnicodeTyping(const std::string& text) = 0;
    virtual void simulateShiftLeftSelection(int count) = 0;
    virtual void simulateDeleteKey() = 0;
    // One Right key: a selection collapses to its end.
    virtual void simulateRightKey() = 0;
};

std::unique_ptr<InjectionBackend> makeEngineInjectionBackend();
