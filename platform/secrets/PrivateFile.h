#pragma once

#include <filesystem>
#include <string_view>

// Files only the user may read, replaced whole or not at all.
namespace pelora::secrets {

// Creates the missing folders of `folder` with mode 0700; existing ones stay as they are.
bool makePrivateFolder(const std::filesystem::path& folder);

// Writes `bytes` to a new 0600 file named `file` + `temporaryInfix` + six random characters
// beside `file`, flushes it to disk and renames it over `file`, creating the folder first.
// On failure the temporary is removed, `file` keeps its previous content and errno tells why.
bool replacePrivateFile(const std::filesystem::path& file, std::string_view bytes, std::string_view temporaryInfix);

}  // namespace pelora::secrets
