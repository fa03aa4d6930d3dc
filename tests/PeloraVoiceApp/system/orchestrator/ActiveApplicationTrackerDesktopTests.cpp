#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <unistd.h>

#include "tests/PeloraVoiceApp/system/orchestrator/OrchestratorDesktop.h"
#include "tests/support/RunCommand.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TargetApplication.h"

using namespace orchestrator;
using pelora::testing::ScopedEnvironment;
using pelora::testing::TargetApplication;
using pelora::testing::TempDir;

namespace {

std::int32_t pidOf(const std::optional<Snapshot>& snapshot) { return snapshot ? snapshot->processIdentifier : -1; }

// A window of this application: a button and a field, so a test can choose whether one
// of its own editable fields has the focus.
struct OwnWindow {
    QWidget window;
    QLineEdit* field;
    QPushButton* button;
    OwnWindow() {
        auto* layout = new QVBoxLayout(&window);
        field = new QLineEdit(&window);
        button = new QPushButton("button", &window);
        layout->addWidget(field);
        layout->addWidget(button);
        window.setWindowTitle("PeloraVoice 2 test window");
        window.resize(300, 120);
    }
};

}  // namespace

// Two other applications and this one, activated in turn through the window manager.
TEST(ActiveApplicationTrackerDesktopTest, FollowsRealActivationsAndChoosesTheTarget) {
    ensureApplication();
    TempDir data;
    std::filesystem::create_directories(data / "applications");
    pelora::testing::writeFile(data / "applications" / "alphaeditor.desktop",
                               "[Desktop Entry]\nType=Application\nExec=true\nName=Alpha Editor\n");
    ScopedEnvironment dataHome("XDG_DATA_HOME", data.path().string());

    auto alpha = TargetApplication::qt({{}, {}, "alphaeditor"});
    auto beta = TargetApplication::terminal();
    OwnWindow own;
    Delivery delivery;
    ActiveApplicationTracker& tracker = *delivery.tracker;
    QSignalSpy frontChanges(&tracker, &ActiveApplicationTracker::currentFrontmostChanged);
    QSignalSpy externalChanges(&tracker, &ActiveApplicationTracker::lastExternalAppChanged);

    // Each activation reaches the tracker by the desktop's notice, without asking it.
    alpha.activate();
    ASSERT_TRUE(spin([&] { return pidOf(tracker.currentFrontmost()) == alpha.pid(); }));
    EXPECT_EQ(pidOf(tracker.lastExternalApp()), alpha.pid());
    EXPECT_EQ(tracker.currentFrontmost()->appName, std::optional<std::string>("Alpha Editor"));
    EXPECT_EQ(tracker.currentFrontmost()->bundleIdentifier, std::optional<std::string>("alphaeditor"));
    EXPECT_EQ(tracker.property("currentFrontmost").value<Snapshot>(), *tracker.currentFrontmost());

    beta.activate();
    ASSERT_TRUE(spin([&] { return pidOf(tracker.currentFrontmost()) == beta.pid(); }));
    EXPECT_EQ(pidOf(tracker.lastExternalApp()), beta.pid());
    EXPECT_EQ(tracker.currentFrontmost()->bundleIdentifier, std::optional<std::string>("com.apple.terminal"))
        << "a terminal maps to the terminal row";
    EXPECT_GE(frontChanges.count(), 2);
    EXPECT_GE(externalChanges.count(), 2);

    // This application in front: it is the frontmost, but the last external one stays.
    own.button->setFocus();
    ASSERT_TRUE(activateOwnWindow(own.window));
    ASSERT_TRUE(spin([&] { return pidOf(tracker.currentFrontmost()) == getpid(); }));
    EXPECT_EQ(pidOf(tracker.lastExternalApp()), beta.pid());

    struct Case {
        const char* name;
        bool fieldFocused;
        bool preferExternal;
        pid_t recordingTarget;
        bool fromMainWindowButton;
        pid_t reinsertTarget;
    };
    const Case cases[] = {
        {"no own field: the last external application", false, true, beta.pid(), true, beta.pid()},
        {"no own field, not preferring the external one", false, false, getpid(), false, beta.pid()},
        {"own field focused: this application", true, true, getpid(), true, getpid()},
        {"own field focused, hot key", true, true, getpid(), false, getpid()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.fieldFocused) {
            own.field->setFocus();
        } else {
            own.button->setFocus();
        }
        spinFor(50ms);
        EXPECT_EQ(pidOf(tracker.captureTargetForRecordingStart(c.preferExternal)), c.recordingTarget);
        EXPECT_EQ(pidOf(tracker.recordingTargetApp()), c.recordingTarget);
        EXPECT_EQ(pidOf(tracker.resolveTargetForReinsert(c.fromMainWindowButton)), c.reinsertTarget);
    }
    own.button->setFocus();

    // The last external application quits while this one is in front: it stays remembered,
    // but nothing is inserted into a process that is gone.
    const pid_t betaPid = beta.pid();
    beta.close();
    spinFor(200ms);
    EXPECT_EQ(pidOf(tracker.lastExternalApp()), betaPid);
    const Snapshot quit = *tracker.lastExternalApp();
    EXPECT_EQ(delivery.insert("宛先は終了済み", quit, true),
              Outcome::copiedToClipboardFallback("入力先アプリが選択されていません"));
    EXPECT_TRUE(clipboardHolds("UTF8_STRING", "宛先は終了済み"));

    // The front application quits: the tracker follows whatever the window manager puts in front.
    alpha.activate();
    ASSERT_TRUE(spin([&] { return pidOf(tracker.currentFrontmost()) == alpha.pid(); }));
    const pid_t alphaPid = alpha.pid();
    alpha.close();
    EXPECT_TRUE(spin([&] {
        auto front = tracker.source().frontmost();
        return !front || (front->processIdentifier != alphaPid &&
                          pidOf(tracker.currentFrontmost()) == front->processIdentifier);
    }));
    EXPECT_EQ(pidOf(tracker.lastExternalApp()), alphaPid) << "the last external application never goes back to none";
}
