#pragma once

#include <QString>

namespace pelora::pages {

// What the main window keeps of the rules page while it exists, and nowhere else: whether
// the key editor is open, the key being typed (never saved by the view), and the two
// fields of the dictionary's add form.
struct RulesPageLocalState {
    bool showMirkKeyEditor = false;
    QString mirkKeyDraft;
    QString newVocabReading;
    QString newVocabSurface;
};

}  // namespace pelora::pages
