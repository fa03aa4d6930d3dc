#pragma once

#include <string_view>

namespace pelora {

// A menu item's key binding, as the toolkit writes it, is Control+V and nothing else:
// Qt writes the shortcut alone ("Ctrl+V"), ATK toolkits "mnemonic;sequence;shortcut"
// with the shortcut third ("<Control>v").
bool isPlainControlVBinding(std::string_view binding);

}  // namespace pelora
