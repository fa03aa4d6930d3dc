#pragma once

#include <string>

namespace pelora {

// The result of one insertion, shown to the user as `summaryBadge`.
class TextInjectionOutcome {
public:
    // In this order; the four `injectedVia` cases carry the target application's label,
    // the other two a reason of the caller's choosing.
    enum class Case {
        injectedViaAX,
        injectedViaMenuPaste,
        injectedViaCommandV,
        injectedViaUnicodeTyping,
        copiedToClipboardFallback,
        skipped
    };

    TextInjectionOutcome(Case outcomeCase, std::string payload)
        : case_(outcomeCase), payload_(std::move(payload)) {}

    static TextInjectionOutcome injectedViaAX(std::string targetApp) { return {Case::injectedViaAX, std::move(targetApp)}; }
    static TextInjectionOutcome injectedViaMenuPaste(std::string targetApp) {
        return {Case::injectedViaMenuPaste, std::move(targetApp)};
    }
    static TextInjectionOutcome injectedViaCommandV(std::string targetApp) {
        return {Case::injectedViaCommandV, std::move(targetApp)};
    }
    static TextInjectionOutcome injectedViaUnicodeTyping(std::string targetApp) {
        return {Case::injectedViaUnicodeTyping, std::move(targetApp)};
    }
    static TextInjectionOutcome copiedToClipboardFallback(std::string reason) {
        return {Case::copiedToClipboardFallback, std::move(reason)};
    }
    static TextInjectionOutcome skipped(std::string reason) { return {Case::skipped, std::move(reason)}; }

    Case outcomeCase() const { return case_; }
    const std::string& payload() const { return payload_; }

    // True for the four `injectedVia` cases.
    bool isDirectInsert() const;
    // One line for the user, built by plain concatenation (an empty payload leaves the
    // blanks around it side by side).
    std::string summaryBadge() const;

    friend bool operator==(const TextInjectionOutcome&, const TextInjectionOutcome&) = default;

private:
    Case case_;
    std::string payload_;
};

}  // namespace pelora
