#pragma once

#include <stdexcept>
#include <string>

namespace pelora {

// Why an insertion failed. what() and errorDescription() are the user-facing Japanese
// text: the carried message for injectionFailed, a fixed text for the others.
class TextInjectionError : public std::runtime_error {
public:
    enum class Case {
        injectionFailed,
        accessibilityNotEnabled,
        postEventNotPermitted,
        noActiveTextField,
        duplicateSuppressed,
        clipboardError
    };

    static TextInjectionError injectionFailed(std::string message) {
        return TextInjectionError(Case::injectionFailed, std::move(message));
    }
    static TextInjectionError accessibilityNotEnabled() { return TextInjectionError(Case::accessibilityNotEnabled); }
    static TextInjectionError postEventNotPermitted() { return TextInjectionError(Case::postEventNotPermitted); }
    static TextInjectionError noActiveTextField() { return TextInjectionError(Case::noActiveTextField); }
    static TextInjectionError duplicateSuppressed() { return TextInjectionError(Case::duplicateSuppressed); }
    // Never raised by the engine; it serves the caller's pasteboard handling.
    static TextInjectionError clipboardError() { return TextInjectionError(Case::clipboardError); }

    Case errorCase() const { return case_; }
    // The message of injectionFailed; empty for the other cases.
    const std::string& message() const { return message_; }
    std::string errorDescription() const { return what(); }

    // Case and, for injectionFailed, the message.
    friend bool operator==(const TextInjectionError& a, const TextInjectionError& b) {
        return a.case_ == b.case_ && a.message_ == b.message_;
    }

private:
    explicit TextInjectionError(Case errorCase, std::string message = {});

    Case case_;
    std::string message_;
};

}  // namespace pelora
