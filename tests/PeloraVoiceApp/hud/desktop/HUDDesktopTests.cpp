// The overlay on a real X desktop (the private test desktop): it never takes the focus from
// the field being dictated into, lets clicks through except on a result, sits at the caret,
// and draws what the user should see.
#include "PeloraVoiceApp/QtMainThreadScheduler.h"
#include "PeloraVoiceApp/hud/HUDFloatingView.h"
#include "PeloraVoiceApp/hud/HUDPanel.h"
#include "PeloraVoiceApp/hud/UITheme.h"
#include "tests/support/DesktopTestBed.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QStringList>

// After gtest and Qt: Xlib defines None, Bool and Status as macros.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <X11/extensions/shape.h>

#include "tests/PeloraVoiceApp/hud/desktop/HUDDesktopSupport.h"
#include "tests/support/ChildProcess.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>

using namespace std::chrono_literals;

namespace {

using namespace hud_desktop;

class HUDDesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pelora::testing::insideDesktopTestBed()) << "run this program under pelora-desktop-run";
        desktopApplication();
        ASSERT_NE(x.display(), nullptr);
        QProcess::execute(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), rootColour.name()});
    }

    // Where the panel's pieces are on the X screen.
    QRectF onScreen(const HUDPanel& panel, const QRectF& local) const { return local.translated(panel.pos()); }

    QImage grabRoot() const { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); }

    XSession x;
    const QColor rootColour{0xff, 0x00, 0xff};
};

// Every mode and transition of the overlay, with the target focused: focus and the active
// window stay with the target, it sees no focus-out, and keys typed meanwhile land in it.
TEST_F(HUDDesktopTest, NeverTakesTheFocusFromTheTarget) {
    TargetField target;
    ASSERT_TRUE(target.waitUntilFocused(x));
    const Window activeBefore = x.activeWindow();
    HUDPanel panel(QtMainThreadScheduler::shared(), [] { return std::optional<HUDRect>(HUDRect{300, 300, 2, 18}); });
    int reinserts = 0;
    panel.stateModel().onReinsertRequested = [&] { ++reinserts; };

    struct Step {
        const char* name;
        std::function<void()> run;
    };
    const Step steps[] = {
        {"show recording", [&] { panel.showRecording(0.05, 0.3f, "EG2", std::string("Target"), false); }},
        {"50 level updates",
         [&] {
             for (int i = 0; i < 50; ++i) {
                 panel.showRecording(0.05 * (i + 2), float(i % 7) / 7.0f, "EG2", std::string("Target"), i > 25);
                 spinFor(5ms);
             }
         }},
        {"transcribing", [&] { panel.showTranscribing("EG2", std::string("Target")); }},
        {"completed", [&] { panel.showCompleted("テスト", 120, 12, "AX挿入", true, "⌥⇧V"); }},
        {"click reinsert",
         [&] {
             spinFor(200ms);
             x.click(onScreen(panel, panel.floatingView()->currentLayout().reinsert).center().toPoint());
             ASSERT_TRUE(spinUntil([&] { return reinserts == 1; }, 5s));
         }},
        {"click close",
         [&] {
             x.click(onScreen(panel, panel.floatingView()->currentLayout().close).center().toPoint());
             ASSERT_TRUE(spinUntil([&] { return panel.stateModel().mode().isHidden(); }, 5s));
         }},
        {"auto-hide",
         [&] {
             panel.showCompleted("テスト", 120, 12, "AX挿入", true, "⌥⇧V");
             ASSERT_TRUE(spinUntil([&] { return !panel.isVisible(); }, 15s));
         }},
    };
    const QString keys = QStringLiteral("abcdefg");
    QString typed;
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(steps[i].name);
        steps[i].run();
        spinFor(150ms);
        EXPECT_EQ(x.inputFocus(), target.window());
        EXPECT_EQ(x.activeWindow(), activeBefore);
        EXPECT_EQ(target.focusOuts(), 0);
        typed += keys[int(i)];
        x.typeKey(XStringToKeysym(keys.mid(int(i), 1).toLatin1().constData()));
        EXPECT_TRUE(spinUntil([&] { return target.text() == typed; }, 5s)) << target.text().toStdString();
    }
    EXPECT_EQ(reinserts, 1);
}

// A click on the pill while recording reaches the field beneath it; on a result it does not.
TEST_F(HUDDesktopTest, ClicksPassThroughExceptOnAResult) {
    TargetField target;
    ASSERT_TRUE(target.waitUntilFocused(x));
    ASSERT_TRUE(target.setText(QStringLiteral("abc")));
    const QRect caret = target.caretRect();
    ASSERT_TRUE(caret.isValid());
    HUDPanel panel(QtMainThreadScheduler::shared(), [] { return std::optional<HUDRect>(); });

    struct Case {
        const char* name;
        std::function<void()> show;
        bool reachesField;
    };
    const Case cases[] = {
        {"recording", [&] { panel.showRecording(1, 0.3f, "EG2", std::nullopt, false); }, true},
        {"transcribing", [&] { panel.showTranscribing("EG2", std::nullopt); }, true},
        {"completed", [&] { panel.showCompleted("x", 1, 1, "AX挿入", true, "⌥⇧V"); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.show();
        // Lay the capsule's left part over the field, just right of the caret.
        const QRectF capsule = panel.floatingView()->currentLayout().capsule;
        panel.move(caret.center().x() + 30 - int(capsule.left()) - 10, caret.center().y() - int(capsule.center().y()));
        spinFor(300ms);
        const QPoint onCapsule = (QPointF(panel.pos()) + capsule.topLeft() + QPointF(10, capsule.height() / 2)).toPoint();
        const int pressesBefore = target.presses();
        x.click(onCapsule);
        if (c.reachesField) {
            EXPECT_TRUE(spinUntil([&] { return target.presses() == pressesBefore + 1; }, 5s));
        } else {
            spinFor(500ms);
            EXPECT_EQ(target.presses(), pressesBefore);
        }
        EXPECT_EQ(x.inputFocus(), target.window());
        panel.hideHUD();
        spinFor(100ms);
    }
}

// What the user sees, from screenshots of the X screen: the light's colour, the outcome
// symbol's colour, sixteen bars shrinking towards the ends, the desktop beside the capsule.
TEST_F(HUDDesktopTest, DrawsThePillOnTheScreen) {
    HUDPanel panel(QtMainThreadScheduler::shared(), [] { return std::optional<HUDRect>(HUDRect{600, 300, 2, 18}); });
    ASSERT_FALSE(panel.usesCompositor());  // the test desktop has none: a shaped window

    struct LightCase {
        const char* name;
        bool locked;
        QColor colour;
    };
    for (const LightCase& c : {LightCase{"recording", false, UITheme::Ocean::accent},
                               LightCase{"hands-free", true, UITheme::Ocean::cyan}}) {
        SCOPED_TRACE(c.name);
        for (int i = 0; i < 16; ++i)
            panel.showRecording(1.0, 0.5f, "EG2", std::nullopt, c.locked);  // every bar at 0.7
        spinFor(400ms);
        const QImage screen = grabRoot();
        const auto& layout = panel.floatingView()->currentLayout();
        const QPoint light = onScreen(panel, layout.light).center().toPoint();
        EXPECT_LE(colourDistance(screen.pixelColor(light), c.colour), 3) << screen.pixelColor(light).name().toStdString();
        // Beside the capsule (inside the window's rectangle): the desktop beneath.
        EXPECT_EQ(screen.pixelColor(panel.pos() + QPoint(2, 2)), rootColour);
        EXPECT_EQ(screen.pixelColor(panel.pos() + QPoint(panel.width() - 3, panel.height() - 3)), rootColour);

        // The bars: columns of the meter whose centre pixel is bright and blue-green.
        const QRectF meter = onScreen(panel, layout.meter);
        const int midY = int(meter.center().y());
        auto isBar = [&](int px, int py) {
            const QColor colour = screen.pixelColor(px, py);
            return colour.blue() > 150 && colour.green() > 100 && colour.red() < 120;
        };
        std::vector<int> heights;
        bool inBar = false;
        for (int px = int(meter.left()) - 1; px <= int(meter.right()) + 1; ++px) {
            const bool bar = isBar(px, midY);
            if (bar && !inBar) {
                int top = midY, bottom = midY;
                while (isBar(px + 1, top - 1) || isBar(px, top - 1))
                    --top;
                while (isBar(px + 1, bottom + 1) || isBar(px, bottom + 1))
                    ++bottom;
                heights.push_back(bottom - top + 1);
            }
            inBar = bar;
        }
        ASSERT_EQ(heights.size(), 16u);
        const double ratio = double(heights.front()) / double(heights[7]);
        EXPECT_NEAR(ratio, 0.67, 0.1) << heights.front() << " / " << heights[7];
        EXPECT_NEAR(heights.front(), heights.back(), 2);  // bars sit on fractional pixels
        panel.hideHUD();
    }

    struct ResultCase {
        bool direct;
        QColor colour;
    };
    for (const ResultCase& c : {ResultCase{true, UITheme::Ocean::success}, ResultCase{false, UITheme::Ocean::cyan}}) {
        SCOPED_TRACE(c.direct ? "direct insertion" : "pasteboard");
        panel.showCompleted("今日は良い天気です", 1234.4, 12.6, "AX挿入", c.direct, "⌥⇧V");
        spinFor(300ms);
        const QImage screen = grabRoot();
        const QRectF symbol = onScreen(panel, panel.floatingView()->currentLayout().symbol);
        const QPoint probe(int(symbol.left() + symbol.width() * 0.25), int(symbol.top() + symbol.height() * 0.35));
        EXPECT_LE(colourDistance(screen.pixelColor(probe), c.colour), 24) << screen.pixelColor(probe).name().toStdString();
        // The Japanese result line is drawn: bright ink inside its rectangle.
        const QRect result = onScreen(panel, panel.floatingView()->currentLayout().result).toAlignedRect();
        int ink = 0;
        for (int py = result.top(); py <= result.bottom(); ++py)
            for (int px = result.left(); px <= result.right(); ++px)
                if (screen.pixelColor(px, py).lightness() > 180)
                    ++ink;
        EXPECT_GT(ink, 60);
        // Drawn as the characters themselves, not as the boxes of missing glyphs: the ink on
        // the screen matches the line painted here with real glyphs far better than the same
        // number of boxes (unassigned code points) in the same place.
        const QRectF exact = onScreen(panel, panel.floatingView()->currentLayout().result);
        const QString shown = panel.floatingView()->currentLayout().resultText;
        auto inkOf = [&](const QString& text) {
            QImage image(result.size(), QImage::Format_RGB32);
            image.fill(Qt::black);
            QPainter painter(&image);
            painter.setFont(HUDFloatingView::resultFont());
            painter.setPen(Qt::white);
            painter.drawText(exact.translated(-result.topLeft()), Qt::AlignLeft | Qt::AlignVCenter, text);
            return image;
        };
        const QImage glyphs = inkOf(shown), boxes = inkOf(QString(shown.size(), QChar(0x0378)));
        int missGlyphs = 0, missBoxes = 0;
        for (int py = 0; py < result.height(); ++py) {
            for (int px = 0; px < result.width(); ++px) {
                const bool onScreenInk = screen.pixelColor(result.topLeft() + QPoint(px, py)).lightness() > 140;
                missGlyphs += onScreenInk != (glyphs.pixelColor(px, py).lightness() > 140);
                missBoxes += onScreenInk != (boxes.pixelColor(px, py).lightness() > 140);
            }
        }
        EXPECT_LT(missGlyphs * 3, missBoxes) << missGlyphs << " pixels differ from glyphs, " << missBoxes
                                             << " from boxes";
        panel.hideHUD();
    }
}

// The window as the X server has it: its depth (32 for an ARGB visual) and whether its
// bounding region is shaped.
struct XWindowLook {
    int depth = 0;
    bool shaped = false;
};

XWindowLook windowLook(Display* display, Window window) {
    XWindowLook look;
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes))
        look.depth = attributes.depth;
    int boundingShaped = 0, clipShaped = 0, x = 0, y = 0, cx = 0, cy = 0;
    unsigned w = 0, h = 0, cw = 0, ch = 0;
    if (XShapeQueryExtents(display, window, &boundingShaped, &x, &y, &w, &h, &clipShaped, &cx, &cy, &cw, &ch))
        look.shaped = boundingShaped != 0;
    return look;
}

// With a compositing manager the pill is an ARGB window: the desktop shows through its fill
// (0.93 opaque) and its shadow darkens the desktop below the capsule. Without one it is a
// shaped window of the screen's depth, opaque, with no shadow. The panel looks again each
// time it comes on screen, so a compositor started or stopped meanwhile is followed.
TEST_F(HUDDesktopTest, TranslucentWithShadowsUnderACompositorShapedWithout) {
    HUDPanel panel(QtMainThreadScheduler::shared(), [] { return std::optional<HUDRect>(HUDRect{600, 300, 2, 18}); });
    const QColor otherRoot{0x00, 0xff, 0x00};

    struct Look {
        QColor insideFill;     // a pixel of the capsule's fill, away from its content
        QColor belowCapsule;   // just below the capsule's bottom, inside the window
        QColor farBeside;      // inside the window, far right of the capsule
    };
    auto look = [&](const QColor& root) {
        x.paintRoot(root);
        panel.showRecording(1.0, 0.3f, "EG2", std::nullopt, false);
        spinFor(500ms);
        const QImage screen = grabRoot();
        const QRectF capsule = onScreen(panel, panel.floatingView()->currentLayout().capsule);
        Look seen;
        seen.insideFill = screen.pixelColor(QPoint(int(capsule.left()) + 6, int(capsule.center().y())));
        seen.belowCapsule = screen.pixelColor(QPoint(int(capsule.center().x()), int(capsule.bottom()) + 3));
        seen.farBeside = screen.pixelColor(panel.pos() + QPoint(panel.width() - 6, panel.height() / 2));
        EXPECT_LT(capsule.right() + 60, panel.pos().x() + panel.width() - 6) << "the capsule fills the window";
        panel.hideHUD();
        spinFor(100ms);
        return seen;
    };
    auto expectShaped = [&] {
        panel.showRecording(1.0, 0.3f, "EG2", std::nullopt, false);
        spinFor(200ms);
        EXPECT_FALSE(panel.usesCompositor());
        const XWindowLook window = windowLook(x.display(), Window(panel.winId()));
        EXPECT_EQ(window.depth, DefaultDepth(x.display(), DefaultScreen(x.display())));
        EXPECT_TRUE(window.shaped);
        panel.hideHUD();
        const Look a = look(rootColour), b = look(otherRoot);
        EXPECT_EQ(a.insideFill, b.insideFill) << "an opaque fill does not show the desktop";
        EXPECT_EQ(a.belowCapsule, rootColour) << "no shadow";
        EXPECT_EQ(b.belowCapsule, otherRoot);
        EXPECT_EQ(a.farBeside, rootColour);
    };

    {
        SCOPED_TRACE("no compositor");
        expectShaped();
    }
    {
        SCOPED_TRACE("compositor");
        pelora::testing::ChildProcess compositor({.argv = {"xcompmgr"}});
        ASSERT_TRUE(spinUntil([] { return HUDPanel::compositorRunning(); }, 10s)) << "xcompmgr did not start";
        panel.showRecording(1.0, 0.3f, "EG2", std::nullopt, false);
        spinFor(300ms);
        EXPECT_TRUE(panel.usesCompositor());
        const XWindowLook window = windowLook(x.display(), Window(panel.winId()));
        EXPECT_EQ(window.depth, 32);
        EXPECT_FALSE(window.shaped);
        panel.hideHUD();

        const Look a = look(rootColour), b = look(otherRoot);
        // 7 % of the desktop shows through the fill: magenta and green differ by 255 in
        // every channel, so the fill differs by about 18.
        EXPECT_GE(colourDistance(a.insideFill, b.insideFill), 10)
            << a.insideFill.name().toStdString() << " " << b.insideFill.name().toStdString();
        EXPECT_LE(colourDistance(a.insideFill, b.insideFill), 30);
        // The shadow: the desktop below the capsule is darkened, but still shows.
        EXPECT_LT(a.belowCapsule.lightness(), rootColour.lightness() - 10) << a.belowCapsule.name().toStdString();
        EXPECT_GT(a.belowCapsule.red(), a.belowCapsule.green()) << a.belowCapsule.name().toStdString();
        EXPECT_NE(b.belowCapsule, otherRoot);
        EXPECT_GT(b.belowCapsule.green(), b.belowCapsule.red()) << b.belowCapsule.name().toStdString();
        // Far beside the capsule the window is fully transparent.
        EXPECT_LE(colourDistance(a.farBeside, rootColour), 2) << a.farBeside.name().toStdString();
        EXPECT_LE(colourDistance(b.farBeside, otherRoot), 2) << b.farBeside.name().toStdString();
        compositor.stop();
        ASSERT_TRUE(spinUntil([] { return !HUDPanel::compositorRunning(); }, 10s));
    }
    {
        SCOPED_TRACE("compositor gone again");
        expectShaped();
    }
    x.paintRoot(rootColour);
}

// The pill under the caret of the focused field as the accessibility bus reports it.
TEST_F(HUDDesktopTest, SitsAtTheCaretOfTheFocusedField) {
    TargetField target;
    ASSERT_TRUE(target.waitUntilFocused(x));
    HUDPanel panel;  // the real anchor: accessibility caret bounds, else the field's frame
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const int w = 520, h = 68;

    enum class Expect { belowCaret, aboveCaret, belowField, rightEdge };
    struct Case {
        const char* name;
        QString text;
        int caret;  // -1: at the end
        QPoint window;
        Expect expect;
    };
    const Case cases[] = {
        {"caret mid-text", QStringLiteral("こんにちは世界"), 3, {400, 100}, Expect::belowCaret},
        {"caret after the last character", QStringLiteral("abcdef"), -1, {400, 100}, Expect::belowCaret},
        {"empty field: below the whole field", QString(), -1, {100, 100}, Expect::belowField},
        {"field near the bottom: above", QStringLiteral("abc"), -1, {400, available.bottom() - 90}, Expect::aboveCaret},
        {"caret near the right edge", QStringLiteral("abcdefghijklmnopqrstuvwx"), -1, {900, 100}, Expect::rightEdge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        target.command(QStringLiteral("move %1 %2").arg(c.window.x()).arg(c.window.y()));
        ASSERT_TRUE(target.setText(c.text.isEmpty() ? QStringLiteral("x") : c.text));
        if (c.text.isEmpty()) {
            ASSERT_TRUE(target.setText(QString()));
        }
        if (c.caret >= 0)
            target.command(QStringLiteral("caret %1").arg(c.caret));
        spinFor(400ms);
        const QRect caret = target.caretRect();
        const QRect field = target.fieldRect();
        ASSERT_TRUE(caret.isValid() && field.isValid());

        panel.showRecording(0.1, 0.2f, "EG2", std::nullopt, false);
        ASSERT_TRUE(spinUntil([&] { return panel.isVisible(); }, 5s));
        const QPoint at = panel.pos();
        const int centreX = at.x() + w / 2;
        switch (c.expect) {
        case Expect::belowCaret:
            EXPECT_NEAR(at.y(), caret.bottom() + 1 + 12, 6) << "caret " << caret.y() << "+" << caret.height();
            EXPECT_NEAR(centreX, caret.x() + 10, 12) << "caret x " << caret.x();
            break;
        case Expect::aboveCaret:
            EXPECT_NEAR(at.y() + h, caret.top() - 12, 8) << "caret " << caret.y() << "+" << caret.height();
            EXPECT_NEAR(centreX, caret.x() + 10, 12);
            break;
        case Expect::belowField:
            EXPECT_NEAR(at.y(), field.bottom() + 1 + 12, 3) << "field " << field.y() << "+" << field.height();
            EXPECT_NEAR(centreX, field.center().x(), 3);
            break;
        case Expect::rightEdge:
            EXPECT_EQ(at.x() + w, available.x() + available.width() - 16);
            EXPECT_NEAR(at.y(), caret.bottom() + 1 + 12, 6);
            break;
        }
        panel.hideHUD();
    }

    // No focused field at all: bottom centre, 44 above the usable area's bottom.
    target.stop();
    spinFor(500ms);
    panel.showRecording(0.1, 0.2f, "EG2", std::nullopt, false);
    EXPECT_EQ(panel.pos(), QPoint(available.x() + available.width() / 2 - w / 2,
                                  available.y() + available.height() - 44 - h));
    panel.hideHUD();
}

} // namespace
