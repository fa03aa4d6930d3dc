#pragma once

#include "PeloraVoiceApp/controller/settings/PersistedSettings.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pelora {

// The settings document on disk: one small JSON file that only this class writes, always
// by replacing it whole (a temporary file beside it, flushed, renamed over it), so a crash
// or power cut leaves either the old document or the new one.
class AppSettingsDocument {
public:
    // The name the document carries (the file adds ".json").
    static constexpr std::string_view defaultsKey = "PeloraVoice2.Settings.v2";
    static constexpr std::string_view folderName = "PeloraVoice2";

    // $XDG_CONFIG_HOME/PeloraVoice2/PeloraVoice2.Settings.v2.json, with ~/.config where
    // $XDG_CONFIG_HOME is unset, empty or relative.
    static std::filesystem::path defaultLocation();

    explicit AppSettingsDocument(std::filesystem::path file = defaultLocation());

    const std::filesystem::path& file() const { return file_; }

    // The stored settings; nothing when there is no document. A document that cannot be
    // read or decoded is moved aside to "<file>.unreadable-<UTC yyyyMMddTHHmmssZ>" (never
    // over an existing file), with one line on standard error, and reads as nothing; one
    // that can be neither read nor moved stays, and this object never replaces it.
    std::optional<PersistedSettings> load(std::chrono::system_clock::time_point now);

    // Replaces the document. False, with the previous document intact, when it could not be
    // written (read-only or full disk, a kept unreadable document); never throws.
    bool save(const PersistedSettings& settings) noexcept;
    bool saveBytes(std::string_view bytes) noexcept;

    // True once a document that could be neither read nor moved aside was found.
    bool isKeepingUnreadableDocument() const { return keepUnreadable_; }

    // The name a document unreadable at `now` is moved to (before any counter is added).
    std::filesystem::path asideLocation(std::chrono::system_clock::time_point now) const;

private:
    void setAside(const std::string& reason, std::chrono::system_clock::time_point now);
    void removeLeftoverTemporaries() const;

    std::filesystem::path file_;
    bool keepUnreadable_ = false;
};

}  // namespace pelora
