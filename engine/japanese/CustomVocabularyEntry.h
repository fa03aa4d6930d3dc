#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pelora {

// One entry of the user's dictionary: how a term is read, how it is written, and the
// variants recognition produces for it.
struct CustomVocabularyEntry {
    std::string id;  // UUID text, upper-case 8-4-4-4-12 (newID() makes one)
    std::string reading;
    std::string surface;
    std::vector<std::string> aliases;
    std::vector<std::string> contextHints;
    bool enabled = true;

    // Keys in field order: "id", "reading", "surface", "aliases", "contextHints", "enabled".
    std::string toJSON() const;
    // All six keys are required, none may be null, each must have its JSON type and
    // "id" must be a UUID; throws RecordCodingError otherwise. Unknown keys are ignored.
    static CustomVocabularyEntry fromJSON(std::string_view json);

    // A fresh random (version 4) UUID text for a new entry.
    static std::string newID();

    // All six fields equal: ids as UUIDs (letter case aside), texts under canonical
    // equivalence, lists element by element.
    friend bool operator==(const CustomVocabularyEntry& a, const CustomVocabularyEntry& b);
};

}  // namespace pelora
