// pelora-qt-target: a Qt 6 Widgets window that GUI tests put text into.
//
// Fields (object names): "line" (QLineEdit with a placeholder), "rich" (QTextEdit holding
// a bold word), "readonly" (read-only QLineEdit), "secret" (password QLineEdit).
// Menu bar: an Edit menu holding, in order, a disabled "Paste" on Ctrl+V, "Paste and
// Match Style" on Ctrl+Shift+V, a submenu "Transform", then the enabled "Paste" on
// Ctrl+V; an item that is triggered pastes the clipboard into the focused field and is
// recorded. The state of every field is written as JSON to --state-file after each
// change and printed on standard output on exit (closing the window, SIGTERM or SIGINT).
//
// Options:
//   --window-title TEXT     window title (default "Pelora Qt Target"; Qt itself takes --title)
//   --focus FIELD           line | rich | readonly | secret (default line)
//   --line TEXT             initial text of "line"
//   --rich-html HTML        initial content of "rich" (default: plain, a bold word, plain)
//   --rich-file PATH        initial content of "rich": the plain UTF-8 text of a file, then a
//                           bold word (for documents too long for a command line)
//   --placeholder TEXT      placeholder of "line" (default "ここに入力")
//   --cursor N              caret of the focused field, in UTF-16 units (default: end)
//   --select START:END      selection of the focused field, in UTF-16 units
//   --edit-menu TITLE       title of the Edit menu (default "Edit")
//   --no-menu-bar           no menu bar at all
//   --no-enabled-paste      leave the enabled Ctrl+V item out
//   --extra-menu-items N    N more plain items at the top of the Edit menu
//   --paste-in-submenu      the enabled Ctrl+V item sits in the submenu instead
//   --no-state-updates      write the state only at start, when the focus moves and on exit
//                           (timing runs: every write of a large document costs the window
//                           its time)
//   --state-file PATH       where the JSON state goes
//   --paste-delay MS        the Edit menu's paste items read the clipboard MS milliseconds
//                           after they are triggered (a slow application)
//   --keys-only TEXT        adds the field "keysonly" holding TEXT: a QLineEdit that takes keys
//                           and pastes but that the accessibility bus sees as read-only text
//                           (no editable-text interface), as some toolkits' fields are
// The WM_CLASS follows the program's name: start it through a symlink to be another application.
#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeySequence>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(signalPipe[1], &byte, 1);
}

QString option(const QStringList& args, const QString& name, const QString& fallback = {}) {
    const int i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args.at(i + 1) : fallback;
}

// The accessibility of the "keysonly" field: its text, caret and selection can be read,
// but it offers no editable-text interface and says it is read-only.
class ReadOnlyTextAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ReadOnlyTextAccessible(QLineEdit* edit) : QAccessibleWidget(edit, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.editable = false;
        return s;
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return edit()->text();
        return QAccessibleWidget::text(t);
    }

    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        if (index == 0 && edit()->hasSelectedText()) {
            *start = edit()->selectionStart();
            *end = edit()->selectionEnd();
        }
    }
    int selectionCount() const override { return edit()->hasSelectedText() ? 1 : 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return edit()->cursorPosition(); }
    void setCursorPosition(int) override {}
    QString text(int start, int end) const override { return edit()->text().mid(start, end - start); }
    int characterCount() const override { return static_cast<int>(edit()->text().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override {
        *start = *end = 0;
        return {};
    }

private:
    QLineEdit* edit() const { return static_cast<QLineEdit*>(widget()); }
};

QAccessibleInterface* readOnlyTextFactory(const QString&, QObject* object) {
    auto* edit = qobject_cast<QLineEdit*>(object);
    if (edit && edit->objectName() == QLatin1String("keysonly")) return new ReadOnlyTextAccessible(edit);
    return nullptr;
}

class TargetWindow : public QMainWindow {
public:
    explicit TargetWindow(const QStringList& args) {
        statePath_ = option(args, "--state-file");
        setWindowTitle(option(args, "--window-title", "Pelora Qt Target"));

        auto* central = new QWidget(this);
        auto* layout = new QVBoxLayout(central);
        line_ = new QLineEdit(central);
        line_->setObjectName("line");
        line_->setAccessibleName("line");
        line_->setPlaceholderText(option(args, "--placeholder", QStringLiteral("ここに入力")));
        line_->setText(option(args, "--line"));
        rich_ = new QTextEdit(central);
        rich_->setObjectName("rich");
        rich_->setAccessibleName("rich");
        const QString richFile = option(args, "--rich-file");
        if (!richFile.isEmpty()) {
            QFile file(richFile);
            if (file.open(QIODevice::ReadOnly)) rich_->setPlainText(QString::fromUtf8(file.readAll()));
            QTextCursor end(rich_->document());
            end.movePosition(QTextCursor::End);
            QTextCharFormat bold;
            bold.setFontWeight(QFont::Bold);
            end.insertText(QStringLiteral("bold"), bold);
        } else {
            rich_->setHtml(option(args, "--rich-html", "plain <b>bold</b> tail"));
        }
        readOnly_ = new QLineEdit(central);
        readOnly_->setObjectName("readonly");
        readOnly_->setAccessibleName("readonly");
        readOnly_->setText(QStringLiteral("読み取り専用"));
        readOnly_->setReadOnly(true);
        secret_ = new QLineEdit(central);
        secret_->setObjectName("secret");
        secret_->setAccessibleName("secret");
        secret_->setEchoMode(QLineEdit::Password);
        secret_->setText("hunter2");
        for (QWidget* w : {static_cast<QWidget*>(line_), static_cast<QWidget*>(rich_),
                           static_cast<QWidget*>(readOnly_), static_cast<QWidget*>(secret_)}) {
            layout->addWidget(w);
        }
        if (args.contains("--keys-only")) {
            keysOnly_ = new QLineEdit(central);
            keysOnly_->setObjectName("keysonly");
            keysOnly_->setAccessibleName("keysonly");
            keysOnly_->setText(option(args, "--keys-only"));
            layout->addWidget(keysOnly_);
        }
        pasteDelay_ = option(args, "--paste-delay", "0").toInt();
        setCentralWidget(central);
        resize(640, 420);

        if (!args.contains("--no-menu-bar")) buildMenus(args);

        if (!args.contains("--no-state-updates")) {
            for (QLineEdit* edit : {line_, readOnly_, secret_, keysOnly_}) {
                if (!edit) continue;
                connect(edit, &QLineEdit::textChanged, this, [this] { writeState(); });
                connect(edit, &QLineEdit::cursorPositionChanged, this, [this] { writeState(); });
                connect(edit, &QLineEdit::selectionChanged, this, [this] { writeState(); });
            }
            connect(rich_, &QTextEdit::textChanged, this, [this] { writeState(); });
            connect(rich_, &QTextEdit::cursorPositionChanged, this, [this] { writeState(); });
        }
        connect(qApp, &QApplication::focusChanged, this, [this] { writeState(); });

        placeCaret(args);
    }

    QJsonObject state() const {
        QJsonObject s;
        s["title"] = windowTitle();
        s["line"] = line_->text();
        s["lineCursor"] = line_->cursorPosition();
        s["lineSelection"] = line_->selectedText();
        s["rich"] = rich_->toPlainText();
        s["richCursor"] = rich_->textCursor().position();
        s["richSelection"] = rich_->textCursor().selectedText();
        s["bold"] = boldRuns();
        s["readonly"] = readOnly_->text();
        s["secret"] = secret_->text();
        if (keysOnly_) {
            s["keysonly"] = keysOnly_->text();
            s["keysonlyCursor"] = keysOnly_->cursorPosition();
            s["keysonlySelection"] = keysOnly_->selectedText();
        }
        QWidget* focused = QApplication::focusWidget();
        s["focus"] = focused ? focused->objectName() : QString();
        s["triggered"] = triggered_;
        return s;
    }

    void writeState() const {
        if (statePath_.isEmpty()) return;
        QSaveFile file(statePath_);
        if (!file.open(QIODevice::WriteOnly)) return;
        file.write(QJsonDocument(state()).toJson(QJsonDocument::Compact));
        file.commit();
    }

private:
    void buildMenus(const QStringList& args) {
        QMenu* edit = menuBar()->addMenu(option(args, "--edit-menu", "Edit"));
        const int extra = option(args, "--extra-menu-items", "0").toInt();
        for (int i = 0; i < extra; ++i) edit->addAction(QString("Item %1").arg(i + 1));

        QAction* disabled = edit->addAction("Paste");
        disabled->setObjectName("disabledPaste");
        disabled->setShortcut(QKeySequence("Ctrl+V"));
        disabled->setEnabled(false);
        track(disabled, "disabledPaste");

        QAction* matchStyle = edit->addAction("Paste and Match Style");
        matchStyle->setShortcut(QKeySequence("Ctrl+Shift+V"));
        track(matchStyle, "pasteAndMatchStyle");

        QMenu* transform = edit->addMenu("Transform");
        track(transform->addAction("Make Upper Case"), "makeUpperCase");
        track(transform->addAction("Make Lower Case"), "makeLowerCase");

        if (!args.contains("--no-enabled-paste")) {
            QAction* paste = (args.contains("--paste-in-submenu") ? transform : edit)->addAction("Paste");
            paste->setObjectName("paste");
            paste->setShortcut(QKeySequence("Ctrl+V"));
            track(paste, "paste");
        }
        QMenu* view = menuBar()->addMenu("View");
        track(view->addAction("Zoom In"), "zoomIn");
    }

    // A triggered item is recorded; the paste items paste into the focused field.
    void track(QAction* action, const QString& name) {
        connect(action, &QAction::triggered, this, [this, name] {
            triggered_.append(name);
            if (name == "paste" || name == "pasteAndMatchStyle") {
                QPointer<QWidget> focused = QApplication::focusWidget();
                auto paste = [this, focused] {
                    if (auto* edit = qobject_cast<QLineEdit*>(focused.data())) edit->paste();
                    else if (auto* text = qobject_cast<QTextEdit*>(focused.data())) text->paste();
                    writeState();
                };
                if (pasteDelay_ > 0) QTimer::singleShot(pasteDelay_, this, paste);
                else paste();
            }
            writeState();
        });
    }

    QJsonArray boldRuns() const {
        QJsonArray runs;
        for (QTextBlock block = rich_->document()->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                if (fragment.isValid() && fragment.charFormat().fontWeight() >= QFont::Bold) {
                    runs.append(fragment.text());
                }
            }
        }
        return runs;
    }

    void placeCaret(const QStringList& args) {
        const QString focus = option(args, "--focus", "line");
        QWidget* target = line_;
        if (focus == "rich") target = rich_;
        else if (focus == "readonly") target = readOnly_;
        else if (focus == "secret") target = secret_;
        else if (focus == "keysonly" && keysOnly_) target = keysOnly_;
        setFocusTarget(target);

        const QString cursor = option(args, "--cursor");
        const QStringList select = option(args, "--select").split(':');
        if (auto* edit = qobject_cast<QLineEdit*>(target)) {
            if (select.size() == 2) edit->setSelection(select[0].toInt(), select[1].toInt() - select[0].toInt());
            else if (!cursor.isEmpty()) edit->setCursorPosition(cursor.toInt());
        } else if (target == rich_) {
            QTextCursor c = rich_->textCursor();
            if (select.size() == 2) {
                c.setPosition(select[0].toInt());
                c.setPosition(select[1].toInt(), QTextCursor::KeepAnchor);
            } else {
                c.setPosition(cursor.isEmpty() ? rich_->document()->characterCount() - 1 : cursor.toInt());
            }
            rich_->setTextCursor(c);
        }
    }

    void setFocusTarget(QWidget* target) { target->setFocus(Qt::OtherFocusReason); }

    QString statePath_;
    QLineEdit* line_ = nullptr;
    QTextEdit* rich_ = nullptr;
    QLineEdit* readOnly_ = nullptr;
    QLineEdit* secret_ = nullptr;
    QLineEdit* keysOnly_ = nullptr;
    int pasteDelay_ = 0;
    QJsonArray triggered_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QAccessible::installFactory(readOnlyTextFactory);
    const QStringList args = app.arguments();

    // SIGTERM and SIGINT end the event loop, so the fields are still printed.
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        std::signal(SIGTERM, onSignal);
        std::signal(SIGINT, onSignal);
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QApplication::quit);
    }

    TargetWindow window(args);
    window.show();
    window.writeState();
    const int status = app.exec();
    window.writeState();
    std::fputs(QJsonDocument(window.state()).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    return status;
}
