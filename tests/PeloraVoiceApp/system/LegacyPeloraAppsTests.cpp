#include "PeloraVoiceApp/system/LegacyPeloraApps.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <fstream>
#include <string>
#include <thread>

using pelora::LegacyPeloraAppInfo;
using pelora::LegacyPeloraApps;
using pelora::testing::TempDir;
namespace fs = std::filesystem;

namespace {

// One process as /proc lays it out.
struct StandIn {
    int pid;
    unsigned uid;
    std::string comm;
    std::string executable;  // empty: no exe link
    std::string environ;     // NAME=value entries separated by '|'
    bool readable = true;    // false: the entry vanished while being read
};

void lay(const fs::path& root, const StandIn& p) {
    const fs::path dir = root / std::to_string(p.pid);
    fs::create_directories(dir);
    if (!p.readable) return;
    std::string environ = p.environ;
    for (char& c : environ) c = c == '|' ? '\0' : c;
    pelora::testing::writeFile(dir / "environ", environ + std::string(1, '\0'));
    pelora::testing::writeFile(dir / "status", "Name:\t" + p.comm + "\nUmask:\t0022\nState:\tS (sleeping)\nUid:\t" +
                                                   std::to_string(p.uid) + "\t" + std::to_string(p.uid) + "\t0\t0\n");
    pelora::testing::writeFile(dir / "comm", p.comm + "\n");
    pelora::testing::writeFile(dir / "stat", std::to_string(p.pid) + " (" + p.comm +
                                                 ") S 1 1 1 0 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0 777 0 0");
    if (!p.executable.empty()) fs::create_symlink(p.executable, dir / "exe");
}

TEST(LegacyPeloraApps, DetectsEarlierEditionsOfThisUserOnThisDisplayOnly) {
    TempDir proc;
    const StandIn standIns[] = {
        {100, 1000, "PeloraVoice", "/opt/PeloraVoice/PeloraVoice", "DISPLAY=:5"},
        {101, 1000, "", "/home/u/old/PeloraVoice", "HOME=/home/u|DISPLAY=:5"},
        {102, 1000, "pelora-old", "/usr/bin/python3",
         "DISPLAY=:5|GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/com.pelora.voice.desktop"},
        {103, 1000, "PeloraVoice", "/opt/PeloraVoice/PeloraVoice",
         "DISPLAY=:5|GIO_LAUNCHED_DESKTOP_FILE=/usr/share/applications/ai.pelora.PeloraVoice2.desktop"},
        {104, 1001, "PeloraVoice", "/opt/PeloraVoice/PeloraVoice", "DISPLAY=:5"},
        {105, 1000, "PeloraVoice", "/opt/PeloraVoice/PeloraVoice", "DISPLAY=:6"},
        {106, 1000, "PeloraVoice", "/opt/PeloraVoice/PeloraVoice", "DISPLAY=:5"},
        {107, 1000, "PeloraVoice2", "/opt/PeloraVoice2/PeloraVoice2", "DISPLAY=:5"},
        {108, 1000, "PeloraVoiceX", "/opt/x/PeloraVoiceX", "DISPLAY=:5"},
        {109, 1000, "PeloraVoice", "/opt/PeloraVoice/PeloraVoice", "DISPLAY=:5", false},
        {110, 1000, "bash", "/usr/bin/bash", "DISPLAY=:5|GIO_LAUNCHED_DESKTOP_FILE=/x/com.pelora.voice.desktop.bak"},
        {111, 1000, "peloravoice", "", "DISPLAY=:5|GIO_LAUNCHED_DESKTOP_FILE=com.pelora.voice.desktop"},
    };
    for (const auto& p : standIns) lay(proc.path(), p);
    fs::create_directories(proc.path() / "self");
    pelora::testing::writeFile(proc.path() / "uptime", "1.0 1.0\n");

    const LegacyPeloraApps::Scope scope{proc.path(), /*ownPid=*/106, /*ownUid=*/1000, ":5"};
    const std::vector<LegacyPeloraAppInfo> expected = {
        {100, "PeloraVoice", std::nullopt, "/opt/PeloraVoice/PeloraVoice"},
        {101, "PeloraVoice (旧バージョン)", std::nullopt, "/home/u/old/PeloraVoice"},
        {102, "pelora-old", "com.pelora.voice", "/usr/bin/python3"},
        {111, "peloravoice", "com.pelora.voice", std::nullopt},
    };
    EXPECT_EQ(LegacyPeloraApps::detect(scope), expected);
}

TEST(LegacyPeloraApps, NothingFoundWhereNothingRuns) {
    TempDir proc;
    const LegacyPeloraApps::Scope scope{proc.path(), 1, 1000, ":5"};
    EXPECT_TRUE(LegacyPeloraApps::detect(scope).empty());
    EXPECT_EQ(LegacyPeloraApps::terminate(scope, std::chrono::milliseconds(100)), 0);
    const LegacyPeloraApps::Scope missing{proc.path() / "absent", 1, 1000, ":5"};
    EXPECT_TRUE(LegacyPeloraApps::detect(missing).empty());
}

// Real stand-ins: copies of sleep(1) named PeloraVoice, in a display of their own.
class RunningStandIns : public ::testing::Test {
protected:
    void SetUp() override {
        executable_ = dir_ / "PeloraVoice";
        fs::copy_file("/bin/sleep", executable_);
        fs::permissions(executable_, fs::perms::owner_all);
    }
    void TearDown() override {
        for (pid_t pid : children_) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    pid_t spawn(bool ignoreTerminate) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (ignoreTerminate) ::signal(SIGTERM, SIG_IGN);  // kept across exec
            const std::string display = "DISPLAY=" + display_;
            char* const argv[] = {const_cast<char*>("PeloraVoice"), const_cast<char*>("600"), nullptr};
            char* const envp[] = {const_cast<char*>(display.c_str()), nullptr};
            ::execve(executable_.c_str(), argv, envp);
            ::_exit(127);
        }
        children_.push_back(pid);
        return pid;
    }
    struct Launch {
        fs::path executable;
        std::vector<std::string> arguments;
        std::string desktopFile;  // GIO_LAUNCHED_DESKTOP_FILE; empty: none
        std::optional<uid_t> user;
    };
    pid_t spawn(const Launch& launch) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (launch.user && (::setgid(*launch.user) != 0 || ::setuid(*launch.user) != 0)) ::_exit(126);
            std::vector<std::string> environment{"DISPLAY=" + display_};
            if (!launch.desktopFile.empty()) environment.push_back("GIO_LAUNCHED_DESKTOP_FILE=" + launch.desktopFile);
            std::vector<char*> argv{const_cast<char*>(launch.executable.filename().c_str())};
            for (const auto& a : launch.arguments) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            std::vector<char*> envp;
            for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
            envp.push_back(nullptr);
            ::execve(launch.executable.c_str(), argv.data(), envp.data());
            ::_exit(127);
        }
        children_.push_back(pid);
        return pid;
    }
    bool reaped(pid_t pid) {
        int status = 0;
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                std::erase(children_, pid);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    LegacyPeloraApps::Scope scope() const {
        return {"/proc", static_cast<int>(::getpid()), static_cast<unsigned>(::getuid()), display_};
    }
    std::vector<pid_t> detectedPids() {
        std::vector<pid_t> pids;
        for (const auto& app : LegacyPeloraApps::detect(scope())) pids.push_back(app.pid);
        return pids;
    }
    // Waits until exec has replaced the forked copy of this program.
    void waitUntilListed(std::size_t count) {
        for (int i = 0; i < 200 && detectedPids().size() < count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    TempDir dir_;
    fs::path executable_;
    std::string display_ = ":pelora-legacy-" + std::to_string(::getpid());
    std::vector<pid_t> children_;
};

TEST_F(RunningStandIns, EachKindOfProcessIsListedOrLeftOutAsItShould) {
    // A copy of python3 named PeloraVoice that clears its short name, as a program may.
    const fs::path unnamed = dir_ / "unnamed" / "PeloraVoice";
    fs::create_directories(unnamed.parent_path());
    fs::copy_file("/usr/bin/python3", unnamed);
    fs::permissions(unnamed, fs::perms::owner_all);
    // Another user's copy must be reachable by that user.
    const fs::path shared = fs::temp_directory_path() / ("pelora-legacy-shared-" + std::to_string(::getpid()));
    fs::create_directories(shared);
    fs::copy_file("/bin/sleep", shared / "PeloraVoice", fs::copy_options::overwrite_existing);
    for (const auto& p : {shared, shared / "PeloraVoice"})
        fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    std::error_code sleepError;
    const std::string sleepPath = fs::canonical("/bin/sleep", sleepError).string();

    const pid_t named = spawn(Launch{executable_, {"600"}, "", std::nullopt});
    const pid_t withoutName = spawn(Launch{unnamed, {"-c", "import ctypes, time\n"
                                                            "ctypes.CDLL(None).prctl(15, b'', 0, 0, 0)\n"
                                                            "time.sleep(600)"},
                                                "", std::nullopt});
    const pid_t byDesktopFile =
        spawn(Launch{"/bin/sleep", {"600"}, "/usr/share/applications/com.pelora.voice.desktop", std::nullopt});
    spawn(Launch{executable_, {"600"}, "/usr/share/applications/ai.pelora.PeloraVoice2.desktop", std::nullopt});
    if (::getuid() == 0) spawn(Launch{shared / "PeloraVoice", {"600"}, "", 65534});                   // another user
    // Until every child runs its program and the python one has cleared its name.
    std::vector<LegacyPeloraAppInfo> found;
    for (int i = 0; i < 500; ++i) {
        found = LegacyPeloraApps::detect(scope());
        if (found.size() >= 3 && std::all_of(found.begin(), found.end(), [&](const auto& app) {
                return app.pid != withoutName || app.appName == LegacyPeloraApps::unnamedAppName;
            }))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::vector<LegacyPeloraAppInfo> expected = {
        {named, "PeloraVoice", std::nullopt, executable_.string()},
        {withoutName, "PeloraVoice (旧バージョン)", std::nullopt, unnamed.string()},
        {byDesktopFile, "sleep", "com.pelora.voice", sleepPath},
    };
    std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    EXPECT_EQ(found, expected);
    TearDown();
    children_.clear();
    fs::remove_all(shared);
}

TEST_F(RunningStandIns, TerminationCountsOnlyTheEditionsThatExited) {
    const pid_t polite = spawn(false);
    const pid_t stubborn = spawn(true);
    waitUntilListed(2);
    ASSERT_EQ(detectedPids(), (std::vector<pid_t>{std::min(polite, stubborn), std::max(polite, stubborn)}));
    const auto apps = LegacyPeloraApps::detect(scope());
    EXPECT_EQ(apps[0].appName, "PeloraVoice");
    EXPECT_EQ(apps[0].bundlePath, executable_.string());

    EXPECT_EQ(LegacyPeloraApps::terminate(scope()), 1) << "the one ignoring SIGTERM is not counted";
    EXPECT_TRUE(reaped(polite));
    EXPECT_EQ(detectedPids(), std::vector<pid_t>{stubborn});
}

}  // namespace
