// The overlay on two monitors: the X screen (2560 × 800) split into two 1280-wide monitors
// with `xrandr --setmonitor` before the Qt application starts, so Qt sees two screens. The
// pill goes on the monitor under the pointer, at the caret when the caret is on that
// monitor, at its bottom centre when the caret is on the other one, and it is kept inside
// that monitor, not merely inside the X screen.
#include "PeloraVoiceApp/hud/HUDPanel.h"
#include "tests/support/DesktopTestBed.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include "tests/PeloraVoiceApp/hud/desktop/HUDDesktopSupport.h"

namespace {

using namespace hud_desktop;

constexpr int pillWidth = 520;
constexpr int pillHeight = 68;

class HUDMonitorsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(pelora::testing::insideDesktopTestBed()) << "run this program under pelora-desktop-run";
        if (!qApp) {
            // Qt reads the monitors when it connects; split the screen first.
            splitIntoTwoMonitors();
        }
        desktopApplication();
    }

    static void splitIntoTwoMonitors() {
        const QStringList left = {QStringLiteral("--setmonitor"), QStringLiteral("left"),
                                  QStringLiteral("1280/338x800/211+0+0"), QStringLiteral("screen")};
        const QStringList right = {QStringLiteral("--setmonitor"), QStringLiteral("right"),
                                   QStringLiteral("1280/338x800/211+1280+0"), QStringLiteral("none")};
        ASSERT_EQ(QProcess::execute(QStringLiteral("xrandr"), left), 0);
        ASSERT_EQ(QProcess::execute(QStringLiteral("xrandr"), right), 0);
    }

    void movePointer(QPoint to) {
        x.movePointer(to);
        ASSERT_TRUE(spinUntil([&] { return QCursor::pos() == to; }, 5s)) << QCursor::pos().x();
    }

    static QRect available(QPoint on) {
        const QScreen* screen = QGuiApplication::screenAt(on);
        return screen ? screen->availableGeometry() : QRect();
    }

    XSession x;
};

TEST_F(HUDMonitorsTest, QtSeesTwoScreens) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 2);
    EXPECT_EQ(screens[0]->geometry(), QRect(0, 0, 1280, 800));
    EXPECT_EQ(screens[1]->geometry(), QRect(1280, 0, 1280, 800));
}

TEST_F(HUDMonitorsTest, GoesOnTheMonitorUnderThePointer) {
    ASSERT_EQ(QGuiApplication::screens().size(), 2);
    TargetField target;
    ASSERT_TRUE(target.waitUntilFocused(x));
    HUDPanel panel;  // the real anchor: the accessibility caret of the focused field

    enum class Expect { belowCaret, fallback, rightEdgeOfMonitor, leftEdgeOfMonitor };
    struct Case {
        const char* name;
        QPoint window;  // the target's window
        QString text;
        QPoint pointer;
        Expect expect;
    };
    const QString longText = QStringLiteral("abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyzab");
    const Case cases[] = {
        {"caret and pointer on the right monitor", {1500, 200}, QStringLiteral("abc"), {2000, 500},
         Expect::belowCaret},
        {"caret and pointer on the left monitor", {400, 200}, QStringLiteral("abc"), {300, 600}, Expect::belowCaret},
        // The caret's monitor is not the one under the pointer: bottom centre of the pointer's.
        {"caret on the right, pointer on the left", {1500, 200}, QStringLiteral("abc"), {300, 600},
         Expect::fallback},
        {"caret on the left, pointer on the right", {400, 200}, QStringLiteral("abc"), {2000, 500},
         Expect::fallback},
        // Near the seam the pill stays on the caret's monitor.
        {"caret near the right edge of the left monitor", {640, 200}, longText, {300, 600},
         Expect::rightEdgeOfMonitor},
        {"caret near the left edge of the right monitor", {1290, 200}, QStringLiteral("a"), {2000, 500},
         Expect::leftEdgeOfMonitor},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        target.command(QStringLiteral("move %1 %2").arg(c.window.x()).arg(c.window.y()));
        ASSERT_TRUE(target.setText(c.text));
        spinFor(400ms);
        const QRect caret = target.caretRect();
        ASSERT_TRUE(caret.isValid());
        movePointer(c.pointer);
        const QRect monitor = available(c.pointer);
        ASSERT_TRUE(monitor.isValid());

        panel.showRecording(0.1, 0.2f, "EG2", std::nullopt, false);
        ASSERT_TRUE(spinUntil([&] { return panel.isVisible(); }, 5s));
        const QPoint at = panel.pos();
        // Whatever the case, the whole pill is on the pointer's monitor.
        EXPECT_TRUE(monitor.contains(QRect(at, QSize(pillWidth, pillHeight))))
            << at.x() << "," << at.y() << " on monitor at x " << monitor.x();
        switch (c.expect) {
        case Expect::belowCaret:
            EXPECT_NEAR(at.y(), caret.bottom() + 1 + 12, 6) << "caret " << caret.y() << "+" << caret.height();
            EXPECT_NEAR(at.x() + pillWidth / 2, caret.x() + 10, 12) << "caret x " << caret.x();
            break;
        case Expect::fallback:
            EXPECT_EQ(at, QPoint(monitor.x() + monitor.width() / 2 - pillWidth / 2,
                                 monitor.y() + monitor.height() - 44 - pillHeight));
            break;
        case Expect::rightEdgeOfMonitor:
            ASSERT_GT(caret.x() + 10 + pillWidth / 2, monitor.x() + monitor.width() - 16);
            EXPECT_EQ(at.x() + pillWidth, monitor.x() + monitor.width() - 16);
            EXPECT_NEAR(at.y(), caret.bottom() + 1 + 12, 6);
            break;
        case Expect::leftEdgeOfMonitor:
            ASSERT_LT(caret.x() + 10 - pillWidth / 2, monitor.x() + 16);
            EXPECT_EQ(at.x(), monitor.x() + 16);
            EXPECT_NEAR(at.y(), caret.bottom() + 1 + 12, 6);
            break;
        }
        panel.hideHUD();
        spinFor(100ms);
    }
}

} // namespace
