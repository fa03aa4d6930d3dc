// Saves the settings document at the given path over and over until it is killed,
// alternating a large and a small document.
#include "PeloraVoiceApp/controller/settings/AppSettingsDocument.h"
#include "engine/japanese/JapaneseEmbeddingReranker.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <settings document>\n", argv[0]);
        return 2;
    }
    pelora::AppSettingsDocument document(argv[1]);
    pelora::PersistedSettings large;
    large.doubleTapToggleEnabled = large.reinsertShortcutEnabled = large.soundFeedbackEnabled = true;
    large.enableMirkContextCorrection = true;
    large.allowExternalMirkTransmission = large.sendFocusedContextToMirk = false;
    large.reinsertShortcutPreset = pelora::ReinsertShortcutPreset::optionShiftP;
    large.vocabularySchemaVersion = 2;
    for (int i = 0; i < 50; ++i)
        for (const auto& entry : pelora::JapaneseEmbeddingReranker::defaultVocabulary())
            large.customVocabulary.push_back(entry);
    pelora::PersistedSettings small = large;
    small.customVocabulary.resize(1);
    small.engineMode = pelora::EngineMode::pureEG2English;
    for (unsigned long round = 0;; ++round) document.save(round % 2 ? small : large);
}
