// The overlay with Qt scaling everything by 2 (QT_SCALE_FACTOR=2, the target field too), on
// two 1280-wide monitors. Qt keeps each monitor's origin and scales inside it: the right
// monitor spans logical x 1280 to 1920. The accessibility bus reports the field in the same
// logical pixels as the pill's own, so the pill still sits under the caret; on the X screen
// it is twice as large and wholly on the monitor it was placed on.
#include "PeloraVoiceApp/hud/HUDFloatingView.h"
#include "PeloraVoiceApp/hud/HUDPanel.h"
#include "PeloraVoiceApp/hud/UITheme.h"
#include "tests/support/DesktopTestBed.h"

#include <gtest/gtest.h>

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include "tests/PeloraVoiceApp/hud/desktop/HUDDesktopSupport.h"

#include <X11/Xutil.h>

namespace {

using namespace hud_desktop;

constexpr int pillWidth = 520;
constexpr int pillHeight = 68;
constexpr int scale = 2;

// Logical to X pixels: each monitor keeps its origin and scales inside it.
QPoint toScreenPixels(QPoint logical, QPoint monitorOrigin) { return monitorOrigin + (logical - monitorOrigin) * scale; }

class HUDScaledTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(pelora::testing::insideDesktopTestBed()) << "run this program under pelora-desktop-run";
        if (!qApp) {
            // Before Qt starts: it reads the monitors and the factor once. The target field,
            // started later, inherits the factor.
            for (const char* monitor : {"left 1280/338x800/211+0+0 screen", "right 1280/338x800/211+1280+0 none"}) {
                QStringList arguments{QStringLiteral("--setmonitor")};
                arguments += QString::fromLatin1(monitor).split(QLatin1Char(' '));
                ASSERT_EQ(QProcess::execute(QStringLiteral("xrandr"), arguments), 0);
            }
            qputenv("QT_SCALE_FACTOR", "2");
        }
        desktopApplication();
    }

    // Moves the pointer to X pixel `to` and waits until Qt reports it at `logical`.
    void movePointer(QPoint to, QPoint logical) {
        x.movePointer(to);
        ASSERT_TRUE(spinUntil([&] { return QCursor::pos() == logical; }, 5s))
            << QCursor::pos().x() << "," << QCursor::pos().y();
    }

    // The window's rectangle on the X screen, in X pixels.
    QRect xGeometry(Window window) const {
        Window root = 0, child = 0;
        int wx = 0, wy = 0, rx = 0, ry = 0;
        unsigned width = 0, height = 0, border = 0, depth = 0;
        XGetGeometry(x.display(), window, &root, &wx, &wy, &width, &height, &border, &depth);
        XTranslateCoordinates(x.display(), window, root, 0, 0, &rx, &ry, &child);
        return QRect(rx, ry, int(width), int(height));
    }

    QColor xPixel(QPoint at) const {
        XImage* image = XGetImage(x.display(), DefaultRootWindow(x.display()), at.x(), at.y(), 1, 1, AllPlanes, ZPixmap);
        if (!image)
            return QColor();
        const unsigned long value = XGetPixel(image, 0, 0);
        XDestroyImage(image);
        return QColor(int((value >> 16) & 0xff), int((value >> 8) & 0xff), int(value & 0xff));
    }

    XSession x;
};

TEST_F(HUDScaledTest, QtSeesTwoScaledScreensThatKeepTheirOrigins) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 2);
    EXPECT_EQ(screens[0]->geometry(), QRect(0, 0, 640, 400));
    EXPECT_EQ(screens[1]->geometry(), QRect(1280, 0, 640, 400));
    EXPECT_EQ(screens[1]->devicePixelRatio(), 2.0);
}

TEST_F(HUDScaledTest, SitsAtTheCaretInLogicalPixelsAndIsDrawnTwiceAsLarge) {
    ASSERT_EQ(QGuiApplication::screens().size(), 2);
    TargetField target;
    ASSERT_TRUE(target.waitUntilFocused(x));
    HUDPanel panel;  // the real anchor: the accessibility caret of the focused field
    target.command(QStringLiteral("resize 200 60"));

    struct Case {
        const char* name;
        QPoint window;      // the target's window, logical
        QPoint pointer;     // X pixels
        QPoint pointerLogical;
        bool belowCaret;    // else the fallback on the pointer's monitor
    };
    // A monitor is 640 logical pixels wide, the pill 520: the fields sit near the middle so
    // that the pill is centred on the caret, not pushed in from an edge.
    const Case cases[] = {
        {"caret and pointer on the right monitor", {1560, 100}, {2200, 500}, {1280 + 460, 250}, true},
        {"caret and pointer on the left monitor", {280, 60}, {300, 600}, {150, 300}, true},
        {"caret on the right, pointer on the left: the left's bottom centre", {1400, 100}, {300, 600}, {150, 300},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        target.command(QStringLiteral("move %1 %2").arg(c.window.x()).arg(c.window.y()));
        ASSERT_TRUE(target.setText(QStringLiteral("abc")));
        spinFor(400ms);
        const QRect caret = target.caretRect();
        ASSERT_TRUE(caret.isValid());
        movePointer(c.pointer, c.pointerLogical);
        const QScreen* screen = QGuiApplication::screenAt(c.pointerLogical);
        ASSERT_NE(screen, nullptr);
        const QRect monitor = screen->availableGeometry();

        panel.showRecording(0.1, 0.5f, "EG2", std::nullopt, false);
        ASSERT_TRUE(spinUntil([&] { return panel.isVisible(); }, 5s));
        spinFor(300ms);
        const QPoint at = panel.pos();
        if (c.belowCaret) {
            EXPECT_NEAR(at.y(), caret.bottom() + 1 + 12, 6) << "caret " << caret.y() << "+" << caret.height();
            EXPECT_NEAR(at.x() + pillWidth / 2, caret.x() + 10, 12) << "caret x " << caret.x();
        } else {
            EXPECT_EQ(at, QPoint(monitor.x() + monitor.width() / 2 - pillWidth / 2,
                                 monitor.y() + monitor.height() - 44 - pillHeight));
        }

        // On the X screen: twice the size, where the monitor's scaling puts it, wholly on
        // that monitor, with the recording light in its colour.
        const QPoint origin = screen->geometry().topLeft();
        const QRect onScreen = xGeometry(Window(panel.winId()));
        EXPECT_EQ(onScreen, QRect(toScreenPixels(at, origin), QSize(pillWidth, pillHeight) * scale));
        const QRect monitorPixels(origin, screen->geometry().size() * scale);
        EXPECT_TRUE(monitorPixels.contains(onScreen)) << onScreen.x() << "," << onScreen.y();
        const QPoint light = toScreenPixels(
            at + panel.floatingView()->currentLayout().light.center().toPoint(), origin);
        EXPECT_LE(colourDistance(xPixel(light), UITheme::Ocean::accent), 3) << xPixel(light).name().toStdString();

        panel.hideHUD();
        spinFor(100ms);
    }
}

} // namespace
