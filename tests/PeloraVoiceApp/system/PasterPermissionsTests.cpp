#include "PeloraVoiceApp/system/PasterPermissions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

using pelora::PasterPermissions;
using pelora::PermissionHealthStatus;
using namespace std::chrono_literals;

namespace {

// A session whose answers the test sets; records what the repairs did.
struct Session {
    std::atomic<bool> accessibility{false}, synthetic{true}, raw{true}, microphone{true};
    std::atomic<bool> acceptAccessibility{true};
    std::atomic<int> accessibilityDelayMs{0};
    std::map<std::string, std::string> environment;
    std::vector<std::string> installed{"gnome-control-center", "pavucontrol"};
    std::vector<std::vector<std::string>> started, ran;
    int requests = 0, reconnects = 0;
    bool fileManagerAnswers = true;

    PasterPermissions::Sources sources() {
        PasterPermissions::Sources s;
        s.accessibilityTrusted = [this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(accessibilityDelayMs.load()));
            return accessibility.load();
        };
        s.syntheticEventsReach = [this] { return synthetic.load(); };
        s.rawKeyEventsReach = [this] { return raw.load(); };
        s.microphoneAuthorized = [this] { return microphone.load(); };
        s.requestAccessibility = [this] {
            ++requests;
            if (acceptAccessibility) accessibility = true;
            return acceptAccessibility.load();
        };
        s.reconnectAudio = [this] { ++reconnects; };
        s.startDetached = [this](const std::vector<std::string>& argv) {
            started.push_back(argv);
            return true;
        };
        s.runBriefly = [this](const std::vector<std::string>& argv) {
            ran.push_back(argv);
            return fileManagerAnswers;
        };
        s.programInstalled = [this](const std::string& name) {
            return std::find(installed.begin(), installed.end(), name) != installed.end();
        };
        s.environment = [this](const char* name) -> std::optional<std::string> {
            auto it = environment.find(name);
            if (it == environment.end()) return std::nullopt;
            return it->second;
        };
        s.executablePath = "/opt/pelora/bin/PeloraVoice2";
        return s;
    }
};

TEST(PermissionHealthStatus, InsertionNeedsAccessibilityOrSyntheticKeys) {
    struct Case {
        PermissionHealthStatus status;
        bool canInject;
    };
    const Case cases[] = {
        {{true, false, false, false}, true},
        {{false, true, false, false}, true},
        {{false, false, true, true}, false},
        {{true, true, true, true}, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.status.canInjectReliably(), c.canInject);
        EXPECT_EQ(c.status.canInjectIntoExternalApps(), c.canInject);
        EXPECT_EQ(c.status.postEventAccess(), c.status.postEventPermitted);
        EXPECT_EQ(c.status.listenEventAccess(), c.status.listenEventPermitted);
    }
}

TEST(PasterPermissions, ReadsEachSourceAndWaylandHasNoGlobalKeys) {
    struct Case {
        const char* name;
        bool accessibility, synthetic, raw, microphone;
        const char* wayland;  // nullptr: unset
        PermissionHealthStatus expected;
    };
    const Case cases[] = {
        {"all there", true, true, true, true, nullptr, {true, true, true, true}},
        {"IsEnabled off", false, true, true, true, nullptr, {false, true, true, true}},
        {"no display", true, false, false, true, nullptr, {true, false, false, true}},
        {"Wayland session", true, true, true, true, "wayland-0", {true, false, false, true}},
        {"empty WAYLAND_DISPLAY", true, true, true, true, "", {true, true, true, true}},
        {"no sound server or only a monitor", true, true, true, false, nullptr, {true, true, true, false}},
    };
    for (const auto& c : cases) {
        Session session;
        session.accessibility = c.accessibility;
        session.synthetic = c.synthetic;
        session.raw = c.raw;
        session.microphone = c.microphone;
        if (c.wayland) session.environment["WAYLAND_DISPLAY"] = c.wayland;
        PasterPermissions permissions(session.sources(), 10ms);
        EXPECT_EQ(permissions.refreshNow(), c.expected) << c.name;
        EXPECT_EQ(permissions.checkPermissionHealth(), c.expected) << c.name;
    }
}

TEST(PasterPermissions, ChecksNeverWaitForASlowSourceAndFollowChanges) {
    Session session;
    session.accessibilityDelayMs = 300;  // a stopped accessibility bus
    PasterPermissions permissions(session.sources(), 20ms);
    const auto begun = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) permissions.checkPermissionHealth();
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 250ms);
    session.accessibilityDelayMs = 0;
    session.accessibility = true;
    bool seen = false;
    for (int i = 0; i < 300 && !seen; ++i) {
        seen = permissions.checkPermissionHealth().accessibilityTrusted;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(seen) << "the worker keeps the answer current";
}

TEST(PasterPermissions, RequestsSwitchAccessibilityOnOnlyWhenOff) {
    Session session;
    PasterPermissions permissions(session.sources(), 1s);
    EXPECT_TRUE(permissions.requestAllInjectionPermissions().accessibilityTrusted);
    EXPECT_EQ(session.requests, 1);
    permissions.requestAllInjectionPermissions();
    EXPECT_EQ(session.requests, 1) << "already on: no second request";
    EXPECT_TRUE(permissions.isAccessibilityTrusted(false));
    EXPECT_EQ(session.reconnects, 0) << "the microphone is never asked";
}

TEST(PasterPermissions, RepairsDoTheirStepsAndOpenInstalledSettingsPrograms) {
    struct Case {
        const char* name;
        std::function<void(PasterPermissions&)> action;
        bool microphone;
        std::vector<std::string> installed;
        std::vector<std::vector<std::string>> expectedStarted;
        int expectedRequests;
        int expectedReconnects;
    };
    const Case cases[] = {
        {"accessibility settings", [](auto& p) { p.openAccessibilitySettings(); }, true, {"gnome-control-center"},
         {{"gnome-control-center", "universal-access"}}, 0, 0},
        {"accessibility settings, none installed", [](auto& p) { p.openAccessibilitySettings(); }, true, {}, {}, 0, 0},
        {"request and open", [](auto& p) { p.requestAccessibilityAndOpenSettings(); }, true, {"gnome-control-center"},
         {{"gnome-control-center", "universal-access"}}, 1, 0},
        {"microphone settings prefer pavucontrol", [](auto& p) { p.openMicrophoneSettings(); }, true,
         {"gnome-control-center", "pavucontrol"}, {{"pavucontrol", "--tab=4"}}, 0, 0},
        {"input monitoring has no program", [](auto& p) { p.openInputMonitoringSettings(); }, true,
         {"gnome-control-center", "pavucontrol"}, {}, 0, 0},
        {"accessibility reset, microphone fine", [](auto& p) { p.resetAccessibilityPermissionAndPrompt(); }, true,
         {"gnome-control-center"}, {{"gnome-control-center", "universal-access"}}, 1, 0},
        {"accessibility reset, microphone missing", [](auto& p) { p.resetAccessibilityPermissionAndPrompt(); }, false,
         {"gnome-control-center"}, {{"gnome-control-center", "universal-access"}}, 1, 1},
        {"microphone reset, usable", [](auto& p) { EXPECT_TRUE(p.resetMicrophonePermissionAndPrompt()); }, true,
         {"pavucontrol"}, {}, 0, 1},
        {"microphone reset, not usable", [](auto& p) { EXPECT_FALSE(p.resetMicrophonePermissionAndPrompt()); }, false,
         {"pavucontrol"}, {{"pavucontrol", "--tab=4"}}, 0, 1},
    };
    for (const auto& c : cases) {
        Session session;
        session.microphone = c.microphone;
        session.installed = c.installed;
        PasterPermissions permissions(session.sources(), 1s);
        c.action(permissions);
        EXPECT_EQ(session.started, c.expectedStarted) << c.name;
        EXPECT_EQ(session.requests, c.expectedRequests) << c.name;
        EXPECT_EQ(session.reconnects, c.expectedReconnects) << c.name;
    }
}

TEST(PasterPermissions, RevealShowsTheProgramOrOpensItsFolder) {
    for (bool fileManagerAnswers : {true, false}) {
        Session session;
        session.fileManagerAnswers = fileManagerAnswers;
        PasterPermissions permissions(session.sources(), 1s);
        permissions.revealAppInFinder();
        ASSERT_EQ(session.ran.size(), 1u);
        EXPECT_EQ(session.ran[0][9], "['file:///opt/pelora/bin/PeloraVoice2']");
        if (fileManagerAnswers) {
            EXPECT_TRUE(session.started.empty());
        } else {
            EXPECT_EQ(session.started, (std::vector<std::vector<std::string>>{{"xdg-open", "/opt/pelora/bin"}}));
        }
    }
}

}  // namespace
