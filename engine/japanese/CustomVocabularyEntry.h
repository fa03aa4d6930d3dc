#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pelora {

// One entry of the user's dictionary: how a term is read, how it is written, and the
// variants recognition produces for it.
struct CustomVocabularyEntry {
    std::string id;  // canonical UUID text
    std::string reading;
    std::string surface;
    std::vector<std::string> aliases;
    std::vector<std::string> contextHints;
    bool enabled = true;

    std::string toJSON() const;
    // All six keys are required; throws RecordCodingError otherwise.
    static CustomVocabularyEntry fromJSON(std::string_view json);

    friend bool operator==(const CustomVocabularyEntry& a, const CustomVocabularyEntry& b);
};

}  // namespace pelora
