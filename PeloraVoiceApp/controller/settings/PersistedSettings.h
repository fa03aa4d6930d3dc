#pragma once

#include "PeloraVoiceApp/system/PTTShortcutKey.h"
#include "engine/injection/ReinsertShortcutPreset.h"
#include "engine/japanese/CustomVocabularyEntry.h"
#include "engine/japanese/JapaneseInputOptions.h"
#include "engine/recognition/EngineMode.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pelora {

// Why a settings document was refused as a whole.
class SettingsDecodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The content of the settings document: sixteen keys, written in this order. The optional
// ones may be missing from documents of earlier versions; the controller's saves always
// fill them in.
struct PersistedSettings {
    // The vocabulary schema that a document of this version carries; older documents get
    // the built-in vocabulary merged in when loaded.
    static constexpr std::int64_t currentVocabularySchemaVersion = 2;

    EngineMode engineMode = EngineMode::hybridJaEn;
    bool pushToTalkEnabled = true;
    PTTShortcutKey pushToTalkKey = PTTShortcutKey::rightOption;
    std::optional<bool> doubleTapToggleEnabled;
    std::optional<bool> reinsertShortcutEnabled;
    std::optional<ReinsertShortcutPreset> reinsertShortcutPreset;
    bool autoPasteEnabled = true;
    bool copyToClipboardOnComplete = true;
    std::optional<bool> soundFeedbackEnabled;
    bool enableHomophoneReranking = true;
    std::optional<bool> enableMirkContextCorrection;
    std::optional<bool> allowExternalMirkTransmission;
    std::optional<bool> sendFocusedContextToMirk;
    JapaneseInputOptions inputOptions;
    std::vector<CustomVocabularyEntry> customVocabulary;
    std::optional<std::int64_t> vocabularySchemaVersion;

    // Compact UTF-8 JSON, keys in field order; an optional field without a value is left out.
    std::string toJSON() const;
    // Strict reading: a required key missing or null, a value of another JSON type, an
    // enumerated string that names no case, or a vocabulary entry lacking one of its keys
    // refuses the whole document with SettingsDecodingError. Absent or null optional keys
    // read as no value; unknown keys are ignored.
    static PersistedSettings fromJSON(std::string_view json);

    friend bool operator==(const PersistedSettings&, const PersistedSettings&) = default;
};

}  // namespace pelora
