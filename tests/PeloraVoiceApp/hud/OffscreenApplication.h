#pragma once
#include <QApplication>
#include <QByteArray>

// One QApplication for the whole test program, on Qt's offscreen platform: these tests draw
// into images and never reach any display.
inline QApplication& offscreenApplication() {
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "hud-tests";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}
