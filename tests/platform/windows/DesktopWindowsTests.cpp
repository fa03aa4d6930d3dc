#include "platform/windows/DesktopWindows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <mutex>
#include <unistd.h>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopTestBed.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempDir.h"

using namespace pelora::windows;
using pelora::testing::ChildProcess;
using pelora::testing::DesktopTestBed;
using pelora::testing::ScopedEnvironment;
using pelora::testing::TempDir;
using pelora::testing::waitUntil;
using namespace std::chrono_literals;

namespace {

// A top-level window of its own process with a chosen WM_CLASS.
std::unique_ptr<ChildProcess> windowOfClass(const std::string& wmClass) {
    return std::make_unique<ChildProcess>(ChildProcess::Options{
        {"xterm", "-name", wmClass + "-instance", "-class", wmClass, "-e", "sleep", "600"}});
}

bool frontIs(DesktopWindows& windows, pid_t pid) {
    auto front = windows.frontmost();
    return front && front->processIdentifier == pid;
}

void writeDesktopEntry(const std::filesystem::path& folder, const std::string& id, const std::string& body) {
    std::filesystem::create_directories(folder);
    pelora::testing::writeFile(folder / (id + ".desktop"), "[Desktop Entry]\nType=Application\nExec=true\n" + body);
}

}  // namespace

TEST(DesktopWindowsTest, FrontmostFollowsActivationsAndActivationBringsAProcessBack) {
    DesktopWindows windows;
    ASSERT_TRUE(windows.connected());
    std::mutex mutex;
    std::vector<WindowOwner> seen;
    windows.watchActivations([&](const WindowOwner& owner) {
        std::lock_guard lock(mutex);
        seen.push_back(owner);
    });
    auto seenPid = [&](pid_t pid) {
        std::lock_guard lock(mutex);
        return std::any_of(seen.begin(), seen.end(), [&](const auto& o) { return o.processIdentifier == pid; });
    };

    auto alpha = windowOfClass("PeloraAlpha");
    ASSERT_TRUE(waitUntil(20s, [&] { return frontIs(windows, alpha->pid()); }));
    auto beta = windowOfClass("PeloraBeta");
    ASSERT_TRUE(waitUntil(20s, [&] { return frontIs(windows, beta->pid()); }));
    auto front = windows.frontmost();
    EXPECT_EQ(front->wmClassName, "PeloraBeta");
    EXPECT_EQ(front->wmClassInstance, "PeloraBeta-instance");
    EXPECT_EQ(front->appName, "PeloraBeta") << "without a desktop entry the class names the application";
    EXPECT_TRUE(waitUntil(10s, [&] { return seenPid(alpha->pid()) && seenPid(beta->pid()); }));

    ASSERT_TRUE(windows.activateProcess(alpha->pid()));
    EXPECT_TRUE(waitUntil(10s, [&] { return frontIs(windows, alpha->pid()); }));
    EXPECT_TRUE(waitUntil(10s, [&] {
        std::lock_guard lock(mutex);
        return !seen.empty() && seen.back().processIdentifier == alpha->pid();
    }));

    EXPECT_FALSE(windows.activateProcess(getpid())) << "a process without windows can't be activated";
    windows.watchActivations(nullptr);
}

TEST(DesktopWindowsTest, AnActivationRightAfterWatchingStartsIsHeard) {
    DesktopWindows windows;
    ASSERT_TRUE(windows.connected());
    auto alpha = windowOfClass("PeloraAlpha");
    ASSERT_TRUE(waitUntil(20s, [&] { return frontIs(windows, alpha->pid()); }));
    auto beta = windowOfClass("PeloraBeta");
    ASSERT_TRUE(waitUntil(20s, [&] { return frontIs(windows, beta->pid()); }));
    // Watching starts afresh each round and the activation follows at once.
    for (int round = 0; round < 6; ++round) {
        const pid_t next = round % 2 == 0 ? alpha->pid() : beta->pid();
        SCOPED_TRACE(round);
        std::mutex mutex;
        std::vector<pid_t> seen;
        windows.watchActivations([&](const WindowOwner& owner) {
            std::lock_guard lock(mutex);
            seen.push_back(owner.processIdentifier);
        });
        ASSERT_TRUE(windows.activateProcess(next));
        EXPECT_TRUE(waitUntil(10s, [&] {
            std::lock_guard lock(mutex);
            return std::find(seen.begin(), seen.end(), next) != seen.end();
        })) << "the activation was not announced";
        windows.watchActivations(nullptr);
        ASSERT_TRUE(waitUntil(10s, [&] { return frontIs(windows, next); }));
    }
}

TEST(DesktopWindowsTest, IdentityComesFromTheMatchingDesktopEntryInTheUsersLanguage) {
    TempDir data;
    writeDesktopEntry(data / "applications", "org.example.Gamma",
                      "Name=Gamma Editor\nName[ja]=ガンマ\nStartupWMClass=PeloraGamma\n");
    ScopedEnvironment dataHome("XDG_DATA_HOME", data.path().string());
    ScopedEnvironment language("LANG", "ja_JP.UTF-8");
    ScopedEnvironment messages("LC_MESSAGES", std::nullopt);
    ScopedEnvironment all("LC_ALL", std::nullopt);

    DesktopWindows windows;
    auto gamma = windowOfClass("PeloraGamma");
    ASSERT_TRUE(waitUntil(20s, [&] { return frontIs(windows, gamma->pid()); }));
    auto front = windows.frontmost();
    EXPECT_EQ(front->desktopFileId, "org.example.Gamma");
    EXPECT_EQ(front->appName, "ガンマ");
}

TEST(DesktopWindowsTest, DesktopEntryLookUpTable) {
    TempDir data;
    auto apps = data / "applications";
    writeDesktopEntry(apps, "org.example.ByWmClass", "Name=By WM class\nStartupWMClass=Exact\n");
    writeDesktopEntry(apps, "filenamed", "Name=File named\n");
    writeDesktopEntry(apps, "org.example.Tool", "Name=Tool\n");
    writeDesktopEntry(apps, "hidden", "Name=Hidden\nHidden=true\n");
    writeDesktopEntry(apps, "localised", "Name=Plain\nName[de]=Deutsch\nName[ja_JP]=日本向け\nName[ja]=日本\n");
    ScopedEnvironment dataHome("XDG_DATA_HOME", data.path().string());
    ScopedEnvironment dataDirs("XDG_DATA_DIRS", (data / "none").string());
    ScopedEnvironment all("LC_ALL", std::nullopt);
    ScopedEnvironment messages("LC_MESSAGES", std::nullopt);

    struct Case {
        std::string instance, className, language;
        std::optional<std::string> id, name;
    };
    const Case cases[] = {
        {"whatever", "Exact", "C", "org.example.ByWmClass", "By WM class"},
        {"exact", "Other", "C", "org.example.ByWmClass", "By WM class"},  // instance, any letter case
        {"filenamed", "Filenamed", "C", "filenamed", "File named"},
        {"tool", "Tool", "C", "org.example.Tool", "Tool"},  // the id's last component
        {"hidden", "Hidden", "C", std::nullopt, std::nullopt},
        {"localised", "Localised", "ja_JP.UTF-8", "localised", "日本向け"},
        {"localised", "Localised", "ja", "localised", "日本"},
        {"localised", "Localised", "fr_FR.UTF-8", "localised", "Plain"},
        {"nothing", "Nothing", "C", std::nullopt, std::nullopt},
        {"", "", "C", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.instance + "/" + c.className + " " + c.language);
        ScopedEnvironment lang("LANG", c.language);
        auto entry = DesktopWindows::findDesktopEntry(c.instance, c.className);
        ASSERT_EQ(entry.has_value(), c.id.has_value());
        if (!entry) continue;
        EXPECT_EQ(entry->id, *c.id);
        EXPECT_EQ(entry->name, *c.name);
    }
}

TEST(DesktopWindowsTest, WithoutAWindowManagerTheFocusedTopLevelIsInFront) {
    DesktopTestBed bare(DesktopTestBed::Options{.windowManager = false, .accessibility = false, .audio = false});
    DesktopWindows windows(bare.display());
    ASSERT_TRUE(windows.connected());
    auto delta = std::make_unique<ChildProcess>(ChildProcess::Options{
        {"xterm", "-class", "PeloraDelta", "-e", "sleep", "600"}, {{"DISPLAY", bare.display()}}});
    // Nothing manages focus here: once the window maps, activation hands it the input focus.
    ASSERT_TRUE(waitUntil(20s, [&] { return windows.activateProcess(delta->pid()); }));
    EXPECT_TRUE(waitUntil(10s, [&] {
        auto front = windows.frontmost();
        return front && front->wmClassName == "PeloraDelta" && front->processIdentifier == delta->pid();
    }));
}

TEST(DesktopWindowsTest, TerminatedMeansTheProcessIsGone) {
    auto child = std::make_unique<ChildProcess>(ChildProcess::Options{{"sleep", "600"}});
    pid_t pid = child->pid();
    EXPECT_FALSE(DesktopWindows::isProcessTerminated(pid));
    EXPECT_FALSE(DesktopWindows::isProcessTerminated(getpid()));
    child->stop();
    EXPECT_TRUE(DesktopWindows::isProcessTerminated(pid));
    EXPECT_TRUE(DesktopWindows::isProcessTerminated(0));
}

TEST(DesktopWindowsTest, WithoutADisplayNothingIsInFront) {
    DesktopWindows windows(":999");
    EXPECT_FALSE(windows.connected());
    EXPECT_FALSE(windows.frontmost().has_value());
    EXPECT_FALSE(windows.activateProcess(getpid()));
    windows.watchActivations([](const WindowOwner&) {});
    windows.watchActivations(nullptr);
}
