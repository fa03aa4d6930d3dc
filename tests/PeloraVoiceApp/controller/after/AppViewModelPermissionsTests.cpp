// Permission monitoring, its notices and repairs, and the earlier editions beside this one:
// on a manual clock over fakes, and once against real stand-in processes.
#include "tests/PeloraVoiceApp/controller/ControllerFakes.h"

#include "PeloraVoiceApp/controller/DesktopPermissionAccess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>

using namespace pelora;
using namespace pelora::controller_testing;
using namespace std::chrono_literals;
using pelora::testing::TempDir;

namespace {

const std::string axNotice = "✓ アクセシビリティ権限が有効になりました！すべてのアプリへの直接テキスト挿入が利用可能です。";
const std::string micNotice = "✓ マイク音声取得の権限が有効になりました！音声入力が利用可能です。";
const std::string legacyNotice =
    "⚠️ 旧バージョンの PeloraVoice が同時起動しています。ショートカット競合を防ぐため、必要に応じてバナーから終了できます。";
const std::string axResetNotice =
    "アクセシビリティとマイクの接続をやり直しました。反映されない場合は「状態を再確認」を押してください。";
const std::string micRegrantNotice = "✓ マイク権限キャッシュをリセットして再許可しました！音声入力が利用可能です。";
const std::string micReregisteredNotice = "✓ マイク権限を再登録し、音声取得が有効になりました！";
const std::string micResetPendingNotice =
    "マイクへの接続をやり直しました。サウンドサーバーと入力デバイスを確認してください。";
const std::string micError = "マイク音声を取得できません。サウンドサーバーと入力デバイスを確認するか、「マイク権限をリセットして再許可」を押してください。";
const std::string otherError = "音声認識エラー: 何か";

PermissionHealthStatus health(bool ax, bool post, bool listen, bool mic) { return {ax, post, listen, mic}; }

LegacyPeloraAppInfo legacy(int pid, std::string name = "PeloraVoice") {
    return {pid, std::move(name), std::nullopt, std::string("/opt/PeloraVoice/PeloraVoice")};
}

class PermissionMonitor : public ControllerFixture {
protected:
    // Counts the shortcut settings applied from the moment it is called.
    int& followShortcutApplications(AppViewModel& vm) {
        applied_ = 0;
        vm.setSettingsEffectObserverForTesting([this](std::string_view effect) {
            if (effect == "applyShortcutSettings") ++applied_;
        });
        return applied_;
    }
    // Puts an error into the banner the way the controller does (a refused microphone).
    void refuseMicrophone(AppViewModel& vm) {
        recorder.status = MicrophoneAuthorizationStatus::denied;
        vm.toggleManualRecording();
        scheduler.runPosted();
        ASSERT_FALSE(permissions.resetAnswers.empty());
        auto answer = std::move(permissions.resetAnswers.back());
        permissions.resetAnswers.clear();
        answer(false);
        ASSERT_EQ(vm.errorMessage(), micError);
    }
    int applied_ = 0;
};

TEST_F(PermissionMonitor, FlagTransitionsGiveTheirNoticeOnceWithinOneTick) {
    // Two banners about the microphone (a refusal, a start that failed) and one that is not.
    enum class Banner { refused, startFailed, nothingToReinsert };
    struct Case {
        const char* name;
        PermissionHealthStatus before, after;
        Banner banner;
        std::optional<std::string> notice;
        bool shortcutsApplied;
        bool errorCleared;
    };
    const Case cases[] = {
        {"accessibility granted", health(false, false, true, true), health(true, false, true, true), Banner::refused,
         axNotice, true, false},
        {"event posting granted", health(false, false, true, true), health(false, true, true, true),
         Banner::startFailed, axNotice, true, false},
        {"posting added to accessibility", health(true, false, true, true), health(true, true, true, true),
         Banner::refused, std::nullopt, false, false},
        {"microphone granted clears a refusal", health(true, true, true, false), health(true, true, true, true),
         Banner::refused, micNotice, false, true},
        {"microphone granted clears a failed start", health(true, true, true, false), health(true, true, true, true),
         Banner::startFailed, micNotice, false, true},
        {"microphone granted keeps an error about something else", health(true, true, true, false),
         health(true, true, true, true), Banner::nothingToReinsert, micNotice, false, false},
        {"both at once: the accessibility notice only", health(false, false, true, false),
         health(true, true, true, true), Banner::refused, axNotice, true, false},
        {"accessibility revoked", health(true, true, true, true), health(false, false, true, true), Banner::refused,
         std::nullopt, false, false},
        {"microphone revoked", health(true, true, true, true), health(true, true, true, false), Banner::refused,
         std::nullopt, false, false},
        {"listening changed alone", health(true, true, false, true), health(true, true, true, true),
         Banner::startFailed, std::nullopt, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        permissions.health = c.before;
        recorder.status = MicrophoneAuthorizationStatus::authorized;
        AppViewModel& vm = make();
        if (c.banner == Banner::refused) {
            refuseMicrophone(vm);
            permissions.health = c.before;  // the refusal re-read what the fake says
            vm.refreshPermissions();
        } else if (c.banner == Banner::startFailed) {
            recorder.startFailure = "デバイスがありません";
            vm.toggleManualRecording();
            recorder.startFailure.reset();
        } else {
            vm.reinsertLastTranscription(false);
            scheduler.runPosted();
            ASSERT_EQ(vm.errorMessage(), "再挿入できる文字起こし履歴がまだありません");
        }
        const std::optional<std::string> errorBefore = vm.errorMessage();
        ASSERT_TRUE(errorBefore.has_value());
        ASSERT_EQ(vm.statusNoticeMessage(), std::nullopt);
        int& applied = followShortcutApplications(vm);
        RecordingListener listener;
        listener.model = &vm;
        vm.addListener(&listener);

        permissions.health = c.after;
        scheduler.advance(1199ms);
        EXPECT_EQ(vm.permissionHealth(), c.before) << "no tick yet";
        scheduler.advance(1ms);
        EXPECT_EQ(vm.permissionHealth(), c.after);
        EXPECT_EQ(vm.statusNoticeMessage(), c.notice);
        EXPECT_EQ(applied, c.shortcutsApplied ? 1 : 0);
        EXPECT_EQ(vm.errorMessage(), c.errorCleared ? std::nullopt : errorBefore);

        // Later ticks without a change post nothing.
        scheduler.advance(1200ms * 3);
        EXPECT_EQ(listener.count(AppViewModelProperty::permissionHealth), 1);
        EXPECT_EQ(listener.count(AppViewModelProperty::statusNoticeMessage), c.notice ? 1 : 0);
        EXPECT_EQ(applied, c.shortcutsApplied ? 1 : 0);
        vm.removeListener(&listener);
    }
}

TEST_F(PermissionMonitor, AShortcutApplicationAfterAGrantTakesTheHotKeyAgain) {
    permissions.health = health(false, false, true, true);
    make();
    const int starts = reinsertShortcut.starts;
    permissions.health = health(true, true, true, true);
    scheduler.advance(1200ms);
    EXPECT_EQ(reinsertShortcut.starts, starts + 1);
}

TEST_F(PermissionMonitor, EarlierEditionsListFollowsEveryTickButWarnsOnlyAtStart) {
    AppViewModel& vm = make();
    EXPECT_TRUE(vm.conflictingLegacyApps().empty());
    EXPECT_EQ(vm.statusNoticeMessage(), std::nullopt);
    RecordingListener listener;
    listener.model = &vm;
    vm.addListener(&listener);

    struct Step {
        const char* name;
        std::vector<LegacyPeloraAppInfo> running;
        int notifications;  // of the list, in total so far
    };
    const Step steps[] = {
        {"one appears", {legacy(300)}, 1},
        {"unchanged", {legacy(300)}, 1},
        {"a second one", {legacy(300), legacy(301)}, 2},
        {"a field changes", {legacy(300), legacy(301, "PeloraVoice (旧バージョン)")}, 3},
        {"all gone", {}, 4},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        permissions.legacyApps = step.running;
        scheduler.advance(1200ms);
        EXPECT_EQ(vm.conflictingLegacyApps(), step.running);
        EXPECT_EQ(listener.count(AppViewModelProperty::conflictingLegacyApps), step.notifications);
    }
    EXPECT_EQ(vm.statusNoticeMessage(), std::nullopt) << "the warning belongs to the start";
    vm.removeListener(&listener);

    permissions.legacyApps = {legacy(300)};
    AppViewModel& again = make();
    EXPECT_EQ(again.conflictingLegacyApps(), permissions.legacyApps);
    EXPECT_EQ(again.statusNoticeMessage(), legacyNotice);
}

TEST_F(PermissionMonitor, TerminationRefreshesTheListAndTakesTheHotKeyBackWhenSomeExited) {
    struct Case {
        const char* name;
        int exited;
        std::vector<LegacyPeloraAppInfo> left;
        ReinsertShortcutPreset preset;
        std::optional<std::string> notice;
    };
    const Case cases[] = {
        {"two exited", 2, {}, ReinsertShortcutPreset::optionShiftV,
         "✓ 旧バージョンの PeloraVoice (2件) を終了しました。再挿入キー (⌥⇧V) の二重ペースト競合が解消されました。"},
        {"one of two exited", 1, {legacy(301)}, ReinsertShortcutPreset::commandShiftU,
         "✓ 旧バージョンの PeloraVoice (1件) を終了しました。再挿入キー (⌘⇧U) の二重ペースト競合が解消されました。"},
        {"none exited", 0, {legacy(300), legacy(301)}, ReinsertShortcutPreset::optionShiftV, legacyNotice},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        permissions.legacyApps = {legacy(300), legacy(301)};
        permissions.terminationAnswers.clear();
        AppViewModel& vm = make();
        vm.setReinsertShortcutPreset(c.preset);
        int& applied = followShortcutApplications(vm);

        vm.terminateConflictingLegacyApps();
        ASSERT_EQ(permissions.terminationAnswers.size(), 1u);
        EXPECT_EQ(vm.conflictingLegacyApps().size(), 2u) << "nothing changes before the exits are counted";
        permissions.legacyApps = c.left;
        permissions.terminationAnswers.front()(c.exited);
        EXPECT_EQ(vm.conflictingLegacyApps(), c.left);
        EXPECT_EQ(vm.statusNoticeMessage(), c.notice);
        EXPECT_EQ(applied, c.exited > 0 ? 1 : 0);
    }

    // An answer after the controller is gone does nothing.
    permissions.terminationAnswers.clear();
    make().terminateConflictingLegacyApps();
    model.reset();
    permissions.terminationAnswers.front()(1);
}

TEST_F(PermissionMonitor, RepairActionsReachTheDesktopAndSayWhatHappened) {
    struct Case {
        const char* name;
        std::function<void(AppViewModel&)> run;
        std::vector<std::string> actions;
        std::optional<std::string> notice;
    };
    const Case cases[] = {
        {"request all", [](AppViewModel& vm) { vm.requestAllPermissions(); }, {"requestAll"}, std::nullopt},
        {"accessibility prompt", [](AppViewModel& vm) { vm.requestAndOpenAccessibility(); },
         {"requestAccessibilityAndOpenSettings"}, axNotice},
        {"accessibility reset", [](AppViewModel& vm) { vm.resetAndRePromptAccessibility(); }, {"resetAccessibility"},
         axResetNotice},
        {"reveal", [](AppViewModel& vm) { vm.revealAppInFinder(); }, {"revealAppInFinder"}, std::nullopt},
        {"input monitoring", [](AppViewModel& vm) { vm.openInputMonitoringSettings(); },
         {"openInputMonitoringSettings"}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        permissions.health = health(false, false, true, true);
        permissions.actions.clear();
        // Each repair that switches accessibility on does so at once.
        permissions.onAction = [this](const std::string& action) {
            if (action != "revealAppInFinder" && action != "openInputMonitoringSettings")
                permissions.health.accessibilityTrusted = true;
        };
        AppViewModel& vm = make();
        c.run(vm);
        EXPECT_EQ(permissions.actions, c.actions);
        EXPECT_EQ(vm.statusNoticeMessage(), c.notice);
        const bool switchedOn = !permissions.actions.empty() && permissions.health.accessibilityTrusted;
        EXPECT_EQ(vm.permissionHealth().accessibilityTrusted, switchedOn) << "the state is read again at once";
    }
    permissions.onAction = nullptr;
}

TEST_F(PermissionMonitor, MicrophoneSettingsAskAgainWhereThatCanHelp) {
    struct Case {
        const char* name;
        MicrophoneAuthorizationStatus status;
        bool granted;
        std::vector<std::string> actions;
        std::optional<std::string> notice;
        bool errorCleared;
    };
    const Case cases[] = {
        {"usable: the settings open at once", MicrophoneAuthorizationStatus::authorized, true,
         {"openMicrophoneSettings"}, std::nullopt, false},
        {"undecided, granted", MicrophoneAuthorizationStatus::notDetermined, true, {}, micNotice, true},
        {"undecided, refused: the settings open", MicrophoneAuthorizationStatus::notDetermined, false,
         {"openMicrophoneSettings"}, std::nullopt, false},
        {"refused, the reset helps", MicrophoneAuthorizationStatus::denied, true, {}, micRegrantNotice, true},
        {"refused, the reset does not help", MicrophoneAuthorizationStatus::denied, false, {}, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        permissions.health = health(true, true, true, false);
        AppViewModel& vm = make();
        refuseMicrophone(vm);
        permissions.actions.clear();
        recorder.status = c.status;
        recorder.permissionAnswers.clear();

        vm.openMicrophoneSettings();
        scheduler.runPosted();
        if (c.status == MicrophoneAuthorizationStatus::notDetermined) {
            ASSERT_EQ(recorder.permissionAnswers.size(), 1u);
            permissions.health.microphoneAuthorized = c.granted;
            recorder.permissionAnswers.front()(c.granted);
        } else if (c.status == MicrophoneAuthorizationStatus::denied) {
            ASSERT_EQ(permissions.resetAnswers.size(), 1u);
            permissions.health.microphoneAuthorized = c.granted;
            permissions.resetAnswers.front()(c.granted);
            permissions.resetAnswers.clear();
        }
        EXPECT_EQ(permissions.actions, c.actions);
        EXPECT_EQ(vm.permissionHealth().microphoneAuthorized, c.granted && c.status != MicrophoneAuthorizationStatus::authorized);
        EXPECT_EQ(vm.statusNoticeMessage(), c.notice);
        EXPECT_EQ(vm.errorMessage(), c.errorCleared ? std::nullopt : std::optional<std::string>(micError));
    }
}

TEST_F(PermissionMonitor, ExplicitMicrophoneResetReportsEitherWay) {
    for (bool granted : {true, false}) {
        SCOPED_TRACE(granted ? "granted" : "not granted");
        permissions.health = health(true, true, true, false);
        AppViewModel& vm = make();
        refuseMicrophone(vm);
        vm.resetAndRePromptMicrophone();
        EXPECT_TRUE(permissions.resetAnswers.empty()) << "the reset starts from the main loop";
        scheduler.runPosted();
        ASSERT_EQ(permissions.resetAnswers.size(), 1u);
        permissions.health.microphoneAuthorized = granted;
        permissions.resetAnswers.front()(granted);
        permissions.resetAnswers.clear();
        // When granted, the tick's notice is replaced by the reset's own.
        EXPECT_EQ(vm.statusNoticeMessage(), granted ? micReregisteredNotice : micResetPendingNotice);
        EXPECT_EQ(vm.errorMessage(), granted ? std::nullopt : std::optional<std::string>(micError));
    }
    // A reset whose controller is gone before it starts asks nothing.
    make().resetAndRePromptMicrophone();
    model.reset();
    scheduler.runPosted();
    EXPECT_TRUE(permissions.resetAnswers.empty());
}

// ---- against real processes ----

// Copies of sleep(1) named PeloraVoice in a display name of their own, seen by the real
// /proc search through the desktop's permission access.
class RealEarlierEditions : public PermissionMonitor {
protected:
    void SetUp() override {
        executable_ = dir_ / "PeloraVoice";
        std::filesystem::copy_file("/bin/sleep", executable_);
    }
    void TearDown() override {
        for (pid_t pid : children_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    pid_t spawnStandIn() {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const std::string displayVariable = "DISPLAY=" + display_;
            char* const argv[] = {const_cast<char*>("PeloraVoice"), const_cast<char*>("600"), nullptr};
            char* const envp[] = {const_cast<char*>(displayVariable.c_str()), nullptr};
            ::execve(executable_.c_str(), argv, envp);
            ::_exit(127);
        }
        children_.push_back(pid);
        return pid;
    }
    // The stand-in has replaced the forked copy of this program. The new executable shows
    // in /proc a moment before the new environment does, so both are waited for.
    void waitForExec(pid_t pid) {
        const auto entry = std::filesystem::path("/proc") / std::to_string(pid);
        for (int i = 0; i < 500; ++i) {
            std::error_code error;
            if (std::filesystem::read_symlink(entry / "exe", error) == executable_) {
                std::ifstream environ(entry / "environ", std::ios::binary);
                const std::string variables{std::istreambuf_iterator<char>(environ), std::istreambuf_iterator<char>()};
                if (variables.find("DISPLAY=" + display_) != std::string::npos) return;
            }
            std::this_thread::sleep_for(10ms);
        }
        FAIL() << "the stand-in did not start";
    }
    LegacyPeloraApps::Scope scope() const {
        return {"/proc", static_cast<int>(::getpid()), static_cast<unsigned>(::getuid()), display_};
    }

    TempDir dir_;
    std::filesystem::path executable_;
    std::string display_ = ":pelora-after-" + std::to_string(::getpid());
    std::vector<pid_t> children_;
};

TEST_F(RealEarlierEditions, AStandInAppearsWithinOneTickAndIsGoneAfterTermination) {
    PasterPermissions::Sources sources;
    sources.accessibilityTrusted = [] { return true; };
    sources.syntheticEventsReach = [] { return true; };
    sources.rawKeyEventsReach = [] { return true; };
    sources.microphoneAuthorized = [] { return true; };
    PasterPermissions desktop(std::move(sources));
    DesktopPermissionAccess access(desktop, scheduler, scope(), workers.spawner());
    realPermissions = &access;
    AppViewModel& vm = make();
    EXPECT_TRUE(vm.conflictingLegacyApps().empty());

    const pid_t pid = spawnStandIn();
    waitForExec(pid);
    scheduler.advance(1200ms);
    ASSERT_EQ(vm.conflictingLegacyApps().size(), 1u);
    EXPECT_EQ(vm.conflictingLegacyApps()[0].pid, pid);
    EXPECT_EQ(vm.conflictingLegacyApps()[0].appName, "PeloraVoice");
    EXPECT_EQ(vm.conflictingLegacyApps()[0].bundlePath, executable_.string());

    vm.terminateConflictingLegacyApps();
    ASSERT_EQ(workers.jobs.size(), 1u) << "the exits are awaited on a worker";
    workers.runAll();
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    std::erase(children_, pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    scheduler.runPosted();
    EXPECT_TRUE(vm.conflictingLegacyApps().empty());
    EXPECT_EQ(vm.statusNoticeMessage(),
              "✓ 旧バージョンの PeloraVoice (1件) を終了しました。再挿入キー (⌥⇧V) の二重ペースト競合が解消されました。");
    model.reset();
}

}  // namespace
