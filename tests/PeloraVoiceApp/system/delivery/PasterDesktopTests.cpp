#include "PeloraVoiceApp/system/Paster.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include "PeloraVoiceApp/system/ActiveApplicationTracker.h"
#include "engine/injection/TextInjectionOutcome.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TargetApplication.h"
#include "tests/support/TempDir.h"

using namespace std::chrono_literals;
using pelora::ActiveApplicationSnapshot;
using pelora::testing::ChildProcess;
using pelora::testing::runCommand;
using pelora::testing::TargetApplication;
using pelora::testing::TempDir;
using Outcome = pelora::TextInjectionOutcome;

namespace {

// The real orchestrator of the application (Paster::shared) on Qt's main loop, against
// real applications in the private desktop.
class PasterDesktopTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "paster-desktop-tests";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance()) new QApplication(argc, argv);
    }

    // Runs the main loop until `done` holds (at most `limit`).
    static bool spin(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
        QElapsedTimer timer;
        timer.start();
        while (!done()) {
            if (timer.elapsed() > limit.count()) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return true;
    }

    static ActiveApplicationSnapshot frontSnapshot(pid_t pid) {
        auto source = makeX11FrontApplicationSource();
        std::optional<ActiveApplicationSnapshot> front;
        EXPECT_TRUE(spin([&] {
            front = source->frontmost();
            return front && front->processIdentifier == pid;
        }));
        return front.value_or(ActiveApplicationSnapshot{pid, std::nullopt, std::nullopt});
    }

    static Outcome insert(const std::string& text, const ActiveApplicationSnapshot& target, bool restore) {
        std::optional<Outcome> outcome;
        Paster::shared().injectIntoFocusedField(text, target, restore, false, [&](Outcome o) { outcome = o; });
        EXPECT_TRUE(spin([&] { return outcome.has_value(); }));
        return outcome.value_or(Outcome::skipped("never ended"));
    }

    static std::string xclipRead(const std::string& target) {
        return runCommand({"xclip", "-o", "-selection", "clipboard", "-t", target}, {}, std::chrono::seconds(20)).out;
    }
};

}  // namespace

TEST_F(PasterDesktopTest, ClipboardFirstApplicationGetsAMenuPasteAndTheClipboardComesBackByteForByte) {
    TempDir dir;
    pelora::testing::writeFile(dir / "earlier.html", "<b>以前の</b>クリップボード");
    auto owner = std::make_unique<ChildProcess>(ChildProcess::Options{
        {"xclip", "-quiet", "-i", "-selection", "clipboard", "-t", "text/html", (dir / "earlier.html").string()},
        {},
        "/dev/null"});
    ASSERT_TRUE(spin([&] { return xclipRead("text/html") == "<b>以前の</b>クリップボード"; }));

    // Started under the name "slack", the Qt target is an application the policy pastes into.
    auto app = TargetApplication::qt({{"--focus", "rich", "--rich-html", ""}, {}, "slack"});
    app.activate();
    auto target = frontSnapshot(app.pid());
    Outcome outcome = insert("一行目\n\n三行目", target, true);
    EXPECT_TRUE(outcome.isDirectInsert()) << outcome.summaryBadge();
    EXPECT_TRUE(app.waitForField("rich", "一行目\n\n三行目"));
    owner->stop();
    EXPECT_TRUE(spin([&] { return xclipRead("text/html") == "<b>以前の</b>クリップボード"; }, 10s))
        << "the user's clipboard is restored after the target fetched the paste";
}

TEST_F(PasterDesktopTest, TerminalsAreTyped) {
    auto terminal = TargetApplication::terminal();
    terminal.activate();
    auto target = frontSnapshot(terminal.pid());
    EXPECT_EQ(insert("ls 日本", target, false), Outcome::injectedViaUnicodeTyping(target.displayLabel()));
    EXPECT_TRUE(terminal.waitForReceived("ls 日本"));
    EXPECT_EQ(xclipRead("UTF8_STRING"), "ls 日本") << "without a restore the text stays on the clipboard";
}
