#include "engine/injection/MenuKeyBinding.h"

#include <string>
#include <vector>

namespace pelora {

namespace {

std::string lowered(std::string_view s) {
    std::string out(s);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return std::string(s.substr(first, last - first + 1));
}

}  // namespace

bool isPlainControlVBinding(std::string_view binding) {
    // ATK writes "mnemonic;sequence;shortcut"; Qt writes the shortcut alone ("Ctrl+V").
    std::vector<std::string> fields;
    std::size_t from = 0;
    while (true) {
        const auto semicolon = binding.find(';', from);
        fields.emplace_back(binding.substr(from, semicolon == std::string_view::npos ? std::string_view::npos
                                                                                      : semicolon - from));
        if (semicolon == std::string_view::npos) break;
        from = semicolon + 1;
    }
    const std::string shortcut = trimmed(fields.size() >= 3 ? fields[2] : fields.back());
    if (shortcut.empty()) return false;
    std::vector<std::string> modifiers;
    std::string key;
    if (shortcut.front() == '<') {
        std::size_t at = 0;
        while (at < shortcut.size() && shortcut[at] == '<') {
            const auto close = shortcut.find('>', at);
            if (close == std::string::npos) return false;
            modifiers.push_back(lowered(shortcut.substr(at + 1, close - at - 1)));
            at = close + 1;
        }
        key = shortcut.substr(at);
    } else {
        std::size_t at = 0;
        while (true) {
            const auto plus = shortcut.find('+', at);
            if (plus == std::string::npos || plus + 1 >= shortcut.size()) {
                key = shortcut.substr(at);
                break;
            }
            modifiers.push_back(lowered(trimmed(shortcut.substr(at, plus - at))));
            at = plus + 1;
        }
    }
    if (lowered(trimmed(key)) != "v" || modifiers.size() != 1) return false;
    const auto& m = modifiers.front();
    return m == "ctrl" || m == "control" || m == "primary";
}

}  // namespace pelora
