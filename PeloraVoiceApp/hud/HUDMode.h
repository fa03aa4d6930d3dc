#pragma once
#include <optional>
#include <string>
#include <variant>

// What the overlay shows: one of four cases with its payload, compared by value.
class HUDMode {
public:
    struct Recording {
        double seconds = 0;
        float level = 0;
        std::string engineBadge;
        std::optional<std::string> targetAppName;
        bool isHandsFreeLocked = false;
        bool operator==(const Recording&) const = default;
    };
    struct Transcribing {
        std::string engineBadge;
        std::optional<std::string> targetAppName;
        bool operator==(const Transcribing&) const = default;
    };
    struct Completed {
        std::string text;
        double latencyMs = 0;
        double rtfx = 0;
        std::string outcomeSummary;
        bool isDirectInsert = false;
        std::string reinsertBadge;
        bool operator==(const Completed&) const = default;
    };
    struct Hidden {
        bool operator==(const Hidden&) const = default;
    };
    using Value = std::variant<Recording, Transcribing, Completed, Hidden>;

    HUDMode() : value_(Hidden{}) {}
    HUDMode(Recording v) : value_(std::move(v)) {}
    HUDMode(Transcribing v) : value_(std::move(v)) {}
    HUDMode(Completed v) : value_(std::move(v)) {}
    HUDMode(Hidden v) : value_(v) {}

    const Value& value() const { return value_; }
    template <class Case> const Case* as() const { return std::get_if<Case>(&value_); }
    bool isHidden() const { return std::holds_alternative<Hidden>(value_); }
    // The case's name as the logs and tests spell it: "recording", "transcribing", ...
    const char* caseName() const;

    bool operator==(const HUDMode&) const = default;

private:
    Value value_;
};
