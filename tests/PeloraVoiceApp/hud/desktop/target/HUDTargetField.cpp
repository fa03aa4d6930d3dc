// A window with one text field, the application the overlay tests dictate into. It reports
// on standard output, one line each: "ready <window id>", "focus-in", "focus-out",
// "press <x> <y>" (a mouse press on the field, in field coordinates), "text <utf-8>".
// Standard input takes commands: "text <utf-8>" (replace the text, caret at the end),
// "caret <n>" (caret to offset n), "move <x> <y>" and "resize <w> <h>" (the window),
// "report" (prints "text ...", "caret <n>", and the field's and the caret's rectangles on
// the screen as "fieldrect x y w h" and "caretrect x y w h").
#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSocketNotifier>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

namespace {

void say(const QString& line) {
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

class Field : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    QRect globalCaretRect() const { return QRect(mapToGlobal(cursorRect().topLeft()), cursorRect().size()); }
    QRect globalRect() const { return QRect(mapToGlobal(QPoint(0, 0)), size()); }

protected:
    void focusInEvent(QFocusEvent* event) override {
        say(QStringLiteral("focus-in"));
        QLineEdit::focusInEvent(event);
    }
    void focusOutEvent(QFocusEvent* event) override {
        say(QStringLiteral("focus-out"));
        QLineEdit::focusOutEvent(event);
    }
    void mousePressEvent(QMouseEvent* event) override {
        say(QStringLiteral("press %1 %2").arg(int(event->position().x())).arg(int(event->position().y())));
        QLineEdit::mousePressEvent(event);
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("HUD target"));
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(10, 10, 10, 10);
    auto* field = new Field;
    QFont font = field->font();
    font.setPixelSize(16);
    field->setFont(font);
    layout->addWidget(field);
    window.resize(600, 60);
    window.move(100, 100);
    QObject::connect(field, &QLineEdit::textChanged, [](const QString& text) { say(QStringLiteral("text ") + text); });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    std::string pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            app.quit();
            return;
        }
        pending.append(buffer, std::size_t(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const QString line = QString::fromUtf8(pending.data(), int(end));
            pending.erase(0, end + 1);
            const QString command = line.section(QLatin1Char(' '), 0, 0);
            const QString rest = line.section(QLatin1Char(' '), 1);
            if (command == QLatin1String("text")) {
                field->setText(rest);
                field->setCursorPosition(int(field->text().size()));
            } else if (command == QLatin1String("caret")) {
                field->setCursorPosition(rest.toInt());
            } else if (command == QLatin1String("move")) {
                window.move(rest.section(QLatin1Char(' '), 0, 0).toInt(), rest.section(QLatin1Char(' '), 1, 1).toInt());
            } else if (command == QLatin1String("resize")) {
                window.resize(rest.section(QLatin1Char(' '), 0, 0).toInt(), rest.section(QLatin1Char(' '), 1, 1).toInt());
            } else if (command == QLatin1String("report")) {
                say(QStringLiteral("text ") + field->text());
                say(QStringLiteral("caret %1").arg(field->cursorPosition()));
                const QRect fieldRect = field->globalRect();
                say(QStringLiteral("fieldrect %1 %2 %3 %4").arg(fieldRect.x()).arg(fieldRect.y()).arg(fieldRect.width()).arg(fieldRect.height()));
                const QRect caretRect = field->globalCaretRect();
                say(QStringLiteral("caretrect %1 %2 %3 %4").arg(caretRect.x()).arg(caretRect.y()).arg(caretRect.width()).arg(caretRect.height()));
            }
        }
    });

    window.show();
    window.activateWindow();
    field->setFocus();
    say(QStringLiteral("ready %1").arg(window.winId()));
    return app.exec();
}
