#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace pelora::testing {

// A launcher for rerunCurrentTestIn: a private D-Bus session (dbus-run-session) whose
// Secret Service is a new gnome-keyring with an unlocked login collection. The session
// and the keyring end with the test process.
std::vector<std::string> keyringSessionLauncher();

// The environment for that session: HOME and the XDG folders inside `home`, so the
// keyring's files and any configuration stay in the test's temporary folder.
std::map<std::string, std::string> keyringSessionEnvironment(const std::filesystem::path& home);

}  // namespace pelora::testing
