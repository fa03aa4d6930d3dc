#pragma once
// What the overlay's desktop tests share: the Qt application, waiting while events run, an
// X connection that looks at the focus and types and clicks as the user would, and the
// target field the overlay dictates into (a program of its own).
#include "tests/support/QtEventLoop.h"

#include <QApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QProcess>
#include <QRect>
#include <QStringList>

// After Qt: Xlib defines None, Bool and Status as macros.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>

namespace hud_desktop {

using namespace std::chrono_literals;

inline QApplication& desktopApplication() {
    static QApplication* app = [] {
        static int argc = 1;
        static char name[] = "hud-desktop-tests";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

using pelora::testing::spinFor;
using pelora::testing::spinUntil;

inline int colourDistance(QColor a, QColor b) {
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

// The test's own connection to the X server, to look at focus and to type and click as
// the user would (XTest).
class XSession {
public:
    XSession() : display_(XOpenDisplay(nullptr)) {}
    ~XSession() {
        if (display_)
            XCloseDisplay(display_);
    }
    Display* display() const { return display_; }

    Window inputFocus() const {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(display_, &focus, &revert);
        return focus;
    }
    Window activeWindow() const {
        const Atom property = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        Window active = 0;
        if (XGetWindowProperty(display_, DefaultRootWindow(display_), property, 0, 1, False, XA_WINDOW, &type, &format,
                               &count, &after, &data) == Success &&
            data) {
            if (count == 1)
                active = *reinterpret_cast<Window*>(data);
            XFree(data);
        }
        return active;
    }
    void typeKey(KeySym symbol) {
        const KeyCode code = XKeysymToKeycode(display_, symbol);
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, False, CurrentTime);
        XFlush(display_);
    }
    void click(QPoint at) {
        XTestFakeMotionEvent(display_, -1, at.x(), at.y(), CurrentTime);
        XTestFakeButtonEvent(display_, 1, True, CurrentTime);
        XTestFakeButtonEvent(display_, 1, False, CurrentTime);
        XFlush(display_);
    }
    // Paints the desktop one colour the way a wallpaper setter does: a root background pixmap
    // named in _XROOTPMAP_ID, which a compositing manager paints behind the windows (it
    // ignores a plain background colour such as `xsetroot -solid` sets).
    void paintRoot(const QColor& colour) {
        const Window root = DefaultRootWindow(display_);
        const int screen = DefaultScreen(display_);
        const Pixmap tile = XCreatePixmap(display_, root, 1, 1, unsigned(DefaultDepth(display_, screen)));
        GC gc = XCreateGC(display_, tile, 0, nullptr);
        XSetForeground(display_, gc, (unsigned long)(colour.red()) << 16 | (unsigned long)(colour.green()) << 8 |
                                         (unsigned long)(colour.blue()));
        XFillRectangle(display_, tile, gc, 0, 0, 1, 1);
        XFreeGC(display_, gc);
        XSetWindowBackgroundPixmap(display_, root, tile);
        XChangeProperty(display_, root, XInternAtom(display_, "_XROOTPMAP_ID", False), XA_PIXMAP, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&tile), 1);
        XClearWindow(display_, root);
        if (rootTile_)
            XFreePixmap(display_, rootTile_);
        rootTile_ = tile;
        XSync(display_, False);
    }
    void movePointer(QPoint to) {
        XTestFakeMotionEvent(display_, -1, to.x(), to.y(), CurrentTime);
        XFlush(display_);
    }

private:
    Display* display_;
    Pixmap rootTile_ = 0;
};

// The application dictated into: a window with one text field, in its own process.
class TargetField {
public:
    TargetField() {
        process_.setProgram(QStringLiteral(PELORA_HUD_TARGET_FIELD));
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { readLines(); });
        process_.start();
    }
    ~TargetField() { stop(); }

    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.closeWriteChannel();  // the target quits when its input ends
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    bool waitUntilFocused(XSession& x) {
        return spinUntil([&] { return window_ != 0 && focusIns_ > 0 && x.inputFocus() == window_; }, 20s);
    }
    void command(const QString& line) {
        process_.write((line + QLatin1Char('\n')).toUtf8());
        process_.waitForBytesWritten(2000);
    }
    // Sets the text (caret at the end) and waits until the field shows it.
    bool setText(const QString& text) {
        command(QStringLiteral("text ") + text);
        return spinUntil([&] { return text_ == text; }, 5s);
    }
    QRect caretRect() {
        caretRect_ = QRect();
        command(QStringLiteral("report"));
        spinUntil([&] { return caretRect_.isValid(); }, 5s);
        return caretRect_;
    }

    Window window() const { return window_; }
    int focusOuts() const { return focusOuts_; }
    int presses() const { return presses_; }
    const QString& text() const { return text_; }
    QRect fieldRect() const { return fieldRect_; }

private:
    void readLines() {
        while (process_.canReadLine()) {
            const QString line = QString::fromUtf8(process_.readLine()).chopped(1);
            const QString word = line.section(QLatin1Char(' '), 0, 0);
            const QStringList parts = line.split(QLatin1Char(' '));
            if (word == QLatin1String("ready"))
                window_ = Window(line.section(QLatin1Char(' '), 1).toULongLong());
            else if (word == QLatin1String("focus-in"))
                ++focusIns_;
            else if (word == QLatin1String("focus-out"))
                ++focusOuts_;
            else if (word == QLatin1String("press"))
                ++presses_;
            else if (word == QLatin1String("text"))
                text_ = line.mid(5);
            else if (word == QLatin1String("caretrect") && parts.size() == 5)
                caretRect_ = QRect(parts[1].toInt(), parts[2].toInt(), parts[3].toInt(), parts[4].toInt());
            else if (word == QLatin1String("fieldrect") && parts.size() == 5)
                fieldRect_ = QRect(parts[1].toInt(), parts[2].toInt(), parts[3].toInt(), parts[4].toInt());
        }
    }

    QProcess process_;
    Window window_ = 0;
    int focusIns_ = 0;
    int focusOuts_ = 0;
    int presses_ = 0;
    QString text_;
    QRect caretRect_;
    QRect fieldRect_;
};

} // namespace hud_desktop
