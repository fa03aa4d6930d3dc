#include "PeloraVoiceApp/system/PasterPermissions.h"
#include "PeloraVoiceApp/system/SessionPermissionSources.h"
#include "platform/audio/PulseAudioService.h"
#include "platform/keymonitor/X11KeyMonitor.h"
#include "tests/support/RunCommand.h"
#include "tests/support/SessionAccessibility.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using pelora::PasterPermissions;
using pelora::PermissionHealthStatus;
using pelora::testing::accessibilityEnabled;
using pelora::testing::runCommand;
using pelora::testing::setAccessibilityEnabled;
using pelora::testing::ScopedEnvironment;
using pelora::testing::TempDir;
namespace fs = std::filesystem;

namespace {

std::string describe(const PermissionHealthStatus& s) {
    return std::string("accessibility ") + (s.accessibilityTrusted ? "yes" : "no") + ", post " +
           (s.postEventPermitted ? "yes" : "no") + ", listen " + (s.listenEventPermitted ? "yes" : "no") +
           ", microphone " + (s.microphoneAuthorized ? "yes" : "no");
}

bool pollUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

void setDefaultSource(const std::string& name) {
    const auto result = runCommand({"pactl", "set-default-source", name});
    ASSERT_EQ(result.exitCode, 0) << result.err;
}

// Every source of the session as it stands when built; the case changes the session first.
struct Session {
    pelora::keymonitor::X11KeyMonitor keys;
    pelora::audio::PulseAudioService audio;
    PasterPermissions permissions{pelora::sessionPermissionSources(keys, audio), 50ms};

    // What the reads settle on (the worker and the sound server's kept state catch up).
    PermissionHealthStatus settledOn(const PermissionHealthStatus& expected) {
        pollUntil([&] { return permissions.refreshNow() == expected && permissions.checkPermissionHealth() == expected; });
        return permissions.checkPermissionHealth();
    }
};

class SessionPermissions : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "runs in the private desktop"; }
    void TearDown() override {
        setAccessibilityEnabled(true);
        setDefaultSource("virtmic");
    }
};

TEST_F(SessionPermissions, EachFlagFollowsWhatTheSessionOffers) {
    struct Case {
        const char* name;
        std::function<void()> change;  // before the sources are made
        std::optional<std::pair<const char*, std::optional<std::string>>> environment;
        PermissionHealthStatus expected;
    };
    const Case cases[] = {
        {"the whole desktop", [] {}, std::nullopt, {true, true, true, true}},
        {"accessibility switched off", [] { setAccessibilityEnabled(false); }, std::nullopt, {false, true, true, true}},
        {"no DISPLAY", [] {}, std::pair{"DISPLAY", std::nullopt}, {true, false, false, true}},
        {"a Wayland session", [] {}, std::pair{"WAYLAND_DISPLAY", std::optional<std::string>("wayland-0")},
         {true, false, false, true}},
        {"no sound server", [] {}, std::pair{"PULSE_SERVER", std::optional<std::string>("unix:/nonexistent/native")},
         {true, true, true, false}},
        {"only a monitor to record", [] { setDefaultSource("speaker.monitor"); }, std::nullopt, {true, true, true, false}},
    };
    for (const auto& c : cases) {
        c.change();
        std::optional<ScopedEnvironment> variable;
        if (c.environment) variable.emplace(c.environment->first, c.environment->second);
        Session session;
        EXPECT_EQ(describe(session.settledOn(c.expected)), describe(c.expected)) << c.name;
        variable.reset();
        setAccessibilityEnabled(true);
        setDefaultSource("virtmic");
    }
}

TEST_F(SessionPermissions, RequestingAccessibilitySwitchesItOn) {
    setAccessibilityEnabled(false);
    Session session;
    ASSERT_FALSE(session.settledOn({false, true, true, true}).accessibilityTrusted);
    EXPECT_TRUE(session.permissions.requestAllInjectionPermissions().accessibilityTrusted);
    EXPECT_TRUE(accessibilityEnabled());
    EXPECT_TRUE(session.permissions.isAccessibilityTrusted(false));
}

// The process id of the accessibility bus's launcher, asked of the session bus.
std::optional<pid_t> accessibilityLauncher() {
    const auto result = runCommand({"gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                                    "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.GetConnectionUnixProcessID",
                                    "org.a11y.Bus"});
    const auto at = result.out.find("uint32 ");
    if (result.exitCode != 0 || at == std::string::npos) return std::nullopt;
    return static_cast<pid_t>(std::stol(result.out.substr(at + 7)));
}

TEST_F(SessionPermissions, ReadsNeverWaitForASleepingAccessibilityBus) {
    Session session;
    const PermissionHealthStatus all{true, true, true, true};
    ASSERT_EQ(describe(session.settledOn(all)), describe(all));
    const auto launcher = accessibilityLauncher();
    ASSERT_TRUE(launcher.has_value());
    ASSERT_EQ(::kill(*launcher, SIGSTOP), 0);
    struct Wake {
        pid_t pid;
        ~Wake() { ::kill(pid, SIGCONT); }
    } wake{*launcher};
    std::this_thread::sleep_for(200ms);  // the worker is now stuck in a call
    const auto begun = std::chrono::steady_clock::now();
    PermissionHealthStatus read;
    for (int i = 0; i < 1000; ++i) read = session.permissions.checkPermissionHealth();
    const auto took = std::chrono::steady_clock::now() - begun;
    EXPECT_LT(took, 500ms) << "a thousand reads";
    EXPECT_TRUE(read.postEventPermitted && read.listenEventPermitted && read.microphoneAuthorized);
}

// A settings program that falls asleep as soon as it starts, recording its arguments.
class SleepingSettingsProgram {
public:
    explicit SleepingSettingsProgram(const std::string& name)
        : marker_(folder_ / (name + ".started")),
          path_("PATH", folder_.path().string() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin")) {
        const auto program = folder_ / name;
        pelora::testing::writeFile(program, "#!/bin/sh\necho \"$$ $*\" > '" + marker_.string() + ".part'\nmv '" +
                                                marker_.string() + ".part' '" + marker_.string() + "'\nkill -STOP $$\n");
        fs::permissions(program, fs::perms::owner_all);
    }
    ~SleepingSettingsProgram() {
        if (const auto pid = startedPid()) {
            ::kill(*pid, SIGKILL);
            ::kill(*pid, SIGCONT);
        }
    }
    // "PID arguments" once it ran.
    std::optional<std::string> started() const {
        if (!fs::exists(marker_)) return std::nullopt;
        auto text = pelora::testing::readFile(marker_);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }
    // Still there and asleep: whoever started it did not wait for it, nor end it.
    bool asleep() const {
        const auto pid = startedPid();
        if (!pid) return false;
        const std::string stat = pelora::testing::readFile("/proc/" + std::to_string(*pid) + "/stat");
        const auto close = stat.rfind(')');
        return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'T';
    }
    std::optional<pid_t> startedPid() const {
        const auto text = started();
        if (!text) return std::nullopt;
        return static_cast<pid_t>(std::stol(*text));
    }

private:
    TempDir folder_;
    fs::path marker_;
    ScopedEnvironment path_;
};

TEST_F(SessionPermissions, RepairsStartTheSettingsProgramAndNeverWaitForIt) {
    struct Case {
        const char* name;
        const char* program;
        std::function<void(PasterPermissions&)> repair;
        const char* arguments;
    };
    const Case cases[] = {
        {"microphone reset with only a monitor to record", "pavucontrol",
         [](PasterPermissions& p) { EXPECT_FALSE(p.resetMicrophonePermissionAndPrompt()); }, "--tab=4"},
        {"accessibility request and settings", "gnome-control-center",
         [](PasterPermissions& p) { p.requestAccessibilityAndOpenSettings(); }, "universal-access"},
    };
    setDefaultSource("speaker.monitor");
    for (const auto& c : cases) {
        SleepingSettingsProgram program(c.program);
        Session session;
        session.settledOn({true, true, true, false});
        c.repair(session.permissions);
        ASSERT_TRUE(pollUntil([&] { return program.asleep(); })) << c.name << ": started, and left running";
        const std::string started = *program.started();
        EXPECT_EQ(started.substr(started.find(' ') + 1), c.arguments) << c.name;
    }
}

}  // namespace
