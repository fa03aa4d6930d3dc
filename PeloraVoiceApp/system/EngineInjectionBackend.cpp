#include "PeloraVoiceApp/system/InjectionBackend.h"

#include "engine/injection/AccessibilityTextInjector.h"

namespace {

using pelora::AccessibilityTextInjector;

class EngineInjectionBackend final : public InjectionBackend {
public:
    bool accessibilityTrusted() override { return AccessibilityTextInjector::isAccessibilityTrusted(); }
    bool mayPostEvents() override { return AccessibilityTextInjector::mayPostEvents(); }
    void requestAccessibility() override { AccessibilityTextInjector::requestAccessibilityAccess(); }

    void injectDirectAX(const std::string& text, std::optional<std::int32_t> targetPID, bool allowDuplicates) override {
        AccessibilityTextInjector::injectDirectAX(text, targetPID, allowDuplicates);
    }
    bool triggerMenuBarPaste(std::optional<std::int32_t> targetPID,
                             const std::optional<std::string>& targetBundleIdentifier) override {
        return AccessibilityTextInjector::triggerMenuBarPaste(targetPID, targetBundleIdentifier);
    }
    bool canSafelyReplaceViaKeyboard(const std::string& originalInsertedText, std::int32_t targetPID) override {
        return AccessibilityTextInjector::canSafelyReplaceViaKeyboard(originalInsertedText, targetPID);
    }
    bool replaceRecentlyInsertedAX(const std::string& originalInsertedText, const std::string& correctedFullText,
                                   std::optional<std::int32_t> targetPID) override {
        return AccessibilityTextInjector::replaceRecentlyInsertedAX(originalInsertedText, correctedFullText, targetPID);
    }

    void simulateCommandVPaste(bool terminalLike) override {
        AccessibilityTextInjector::simulateCommandVPaste(terminalLike);
    }
    void simulateShiftReturnKey() override { AccessibilityTextInjector::simulateShiftReturnKey(); }
    void simulateUnicodeTyping(const std::string& text) override {
        AccessibilityTextInjector::simulateUnicodeTyping(text);
    }
    void simulateShiftLeftSelection(int count) override {
        AccessibilityTextInjector::simulateShiftLeftSelection(count);
    }
    void simulateDeleteKey() override { AccessibilityTextInjector::simulateDeleteKey(); }
    void simulateRightKey() override { AccessibilityTextInjector::simulateRightKey(); }
};

}  // namespace

std::unique_ptr<InjectionBackend> makeEngineInjectionBackend() { return std::make_unique<EngineInjectionBackend>(); }
