#include "PeloraVoiceApp/controller/settings/PersistedSettings.h"

#include "engine/recognition/RecordReader.h"
#include "engine/recognition/TranscriptionResult.h"

#include <nlohmann/json.hpp>

namespace pelora {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* recordName = "PeloraVoice2.Settings.v2";

// An optional key: absent and null both mean "no value".
const Json* present(const RecordReader& reader, const char* key) {
    const auto it = reader.object().find(key);
    if (it == reader.object().end() || it->is_null()) return nullptr;
    return &*it;
}

std::optional<bool> optionalBoolean(const RecordReader& reader, const char* key) {
    if (!present(reader, key)) return std::nullopt;
    return reader.boolean(key);
}

template <class Enum, class Parse>
Enum enumerated(const RecordReader& reader, const char* key, Parse parse) {
    const std::string raw = reader.string(key);
    const auto value = parse(raw);
    if (!value) reader.fail(std::string("\"") + key + "\" has no case named \"" + raw + "\"");
    return *value;
}

// The nested records read their own JSON text; a re-dump of the parsed value hands it over.
std::string nestedText(const Json& value) { return value.dump(); }

}  // namespace

std::string PersistedSettings::toJSON() const {
    Json json = Json::object();
    json["engineMode"] = std::string(engine_mode::rawValue(engineMode));
    json["pushToTalkEnabled"] = pushToTalkEnabled;
    json["pushToTalkKey"] = std::string(ptt_shortcut_key::rawValue(pushToTalkKey));
    if (doubleTapToggleEnabled) json["doubleTapToggleEnabled"] = *doubleTapToggleEnabled;
    if (reinsertShortcutEnabled) json["reinsertShortcutEnabled"] = *reinsertShortcutEnabled;
    if (reinsertShortcutPreset)
        json["reinsertShortcutPreset"] = std::string(reinsert_shortcut_preset::rawValue(*reinsertShortcutPreset));
    json["autoPasteEnabled"] = autoPasteEnabled;
    json["copyToClipboardOnComplete"] = copyToClipboardOnComplete;
    if (soundFeedbackEnabled) json["soundFeedbackEnabled"] = *soundFeedbackEnabled;
    json["enableHomophoneReranking"] = enableHomophoneReranking;
    if (enableMirkContextCorrection) json["enableMirkContextCorrection"] = *enableMirkContextCorrection;
    if (allowExternalMirkTransmission) json["allowExternalMirkTransmission"] = *allowExternalMirkTransmission;
    if (sendFocusedContextToMirk) json["sendFocusedContextToMirk"] = *sendFocusedContextToMirk;
    json["inputOptions"] = Json::parse(inputOptions.toJSON());
    Json vocabulary = Json::array();
    for (const CustomVocabularyEntry& entry : customVocabulary) vocabulary.push_back(Json::parse(entry.toJSON()));
    json["customVocabulary"] = std::move(vocabulary);
    if (vocabularySchemaVersion) json["vocabularySchemaVersion"] = *vocabularySchemaVersion;
    return dumpRecord(json);
}

PersistedSettings PersistedSettings::fromJSON(std::string_view text) {
    try {
        const RecordReader reader(text, recordName);
        PersistedSettings settings;
        settings.engineMode = enumerated<EngineMode>(reader, "engineMode", engine_mode::fromRawValue);
        settings.pushToTalkEnabled = reader.boolean("pushToTalkEnabled");
        settings.pushToTalkKey = enumerated<PTTShortcutKey>(reader, "pushToTalkKey", ptt_shortcut_key::fromRawValue);
        settings.doubleTapToggleEnabled = optionalBoolean(reader, "doubleTapToggleEnabled");
        settings.reinsertShortcutEnabled = optionalBoolean(reader, "reinsertShortcutEnabled");
        if (present(reader, "reinsertShortcutPreset"))
            settings.reinsertShortcutPreset = enumerated<ReinsertShortcutPreset>(
                reader, "reinsertShortcutPreset", reinsert_shortcut_preset::fromRawValue);
        settings.autoPasteEnabled = reader.boolean("autoPasteEnabled");
        settings.copyToClipboardOnComplete = reader.boolean("copyToClipboardOnComplete");
        settings.soundFeedbackEnabled = optionalBoolean(reader, "soundFeedbackEnabled");
        settings.enableHomophoneReranking = reader.boolean("enableHomophoneReranking");
        settings.enableMirkContextCorrection = optionalBoolean(reader, "enableMirkContextCorrection");
        settings.allowExternalMirkTransmission = optionalBoolean(reader, "allowExternalMirkTransmission");
        settings.sendFocusedContextToMirk = optionalBoolean(reader, "sendFocusedContextToMirk");

        const Json& options = reader.require("inputOptions");
        if (!options.is_object()) reader.fail("\"inputOptions\" is not an object");
        settings.inputOptions = JapaneseInputOptions::fromJSON(nestedText(options));

        const Json& vocabulary = reader.require("customVocabulary");
        if (!vocabulary.is_array()) reader.fail("\"customVocabulary\" is not an array");
        settings.customVocabulary.reserve(vocabulary.size());
        for (const Json& entry : vocabulary) {
            if (!entry.is_object()) reader.fail("an entry of \"customVocabulary\" is not an object");
            settings.customVocabulary.push_back(CustomVocabularyEntry::fromJSON(nestedText(entry)));
        }

        if (present(reader, "vocabularySchemaVersion"))
            settings.vocabularySchemaVersion = reader.integer("vocabularySchemaVersion");
        return settings;
    } catch (const RecordCodingError& error) {
        throw SettingsDecodingError(error.what());
    }
}

}  // namespace pelora
