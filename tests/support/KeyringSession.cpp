#include "tests/support/KeyringSession.h"

namespace pelora::testing {

std::vector<std::string> keyringSessionLauncher() {
    // gnome-keyring-daemon reads the login password on stdin, creates and unlocks the
    // login collection, claims org.freedesktop.secrets on the session bus and forks
    // away; it leaves when the session bus goes. Its output goes to a log (an open pipe
    // would outlive the test) that is shown when it fails to start.
    static const std::string script =
        "mkdir -p -m 700 \"$XDG_RUNTIME_DIR\" \"$XDG_DATA_HOME\" || exit 1; "
        "log=\"$XDG_RUNTIME_DIR/gnome-keyring.log\"; "
        "printf %s pelora-test | gnome-keyring-daemon --unlock --components=secrets >\"$log\" 2>&1 "
        "|| { cat \"$log\" >&2; exit 1; }; "
        "exec \"$@\"";
    return {"dbus-run-session", "--", "sh", "-c", script, "sh"};
}

std::map<std::string, std::string> keyringSessionEnvironment(const std::filesystem::path& home) {
    return {{"HOME", home.string()},
            {"XDG_DATA_HOME", (home / "data").string()},
            {"XDG_CONFIG_HOME", (home / "config").string()},
            {"XDG_RUNTIME_DIR", (home / "run").string()}};
}

}  // namespace pelora::testing
