#include "PeloraVoiceApp/system/OwnTextView.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QPointer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

#include <functional>
#include <QTextLayout>

namespace {

// Qt's text widgets keep an input method's composition (preedit) to themselves; an
// application-wide filter remembers which widget last received a non-empty one.
class PreeditWatcher : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::InputMethod) {
            auto* im = static_cast<QInputMethodEvent*>(event);
            if (!im->preeditString().isEmpty()) {
                composingWidget_ = qobject_cast<QWidget*>(watched);
            } else if (composingWidget_ == watched) {
                composingWidget_ = nullptr;
            }
        }
        return false;
    }
    bool isComposing(QWidget* widget) const { return widget && composingWidget_ == widget; }

private:
    QPointer<QWidget> composingWidget_;
};

PreeditWatcher* preeditWatcher() {
    static QPointer<PreeditWatcher> watcher;
    if (!watcher && QCoreApplication::instance()) {
        watcher = new PreeditWatcher;
        watcher->setParent(QCoreApplication::instance());
        QCoreApplication::instance()->installEventFilter(watcher);
    }
    return watcher;
}

QWidget* focusedEditable() {
    preeditWatcher();
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return nullptr;
    QWidget* window = QApplication::activeWindow();
    QWidget* focused = QApplication::focusWidget();
    if (!window || !focused || focused->window() != window || !focused->isEnabled()) return nullptr;
    if (auto* line = qobject_cast<QLineEdit*>(focused)) return line->isReadOnly() ? nullptr : focused;
    if (auto* text = qobject_cast<QTextEdit*>(focused)) return text->isReadOnly() ? nullptr : focused;
    if (auto* plain = qobject_cast<QPlainTextEdit*>(focused)) return plain->isReadOnly() ? nullptr : focused;
    return nullptr;
}

bool replaceBeforeCaret(QTextCursor cursor, const QString& original, const QString& corrected,
                        const std::function<void(QTextCursor&)>& apply) {
    QTextLayout* layout = cursor.block().layout();
    if (cursor.hasSelection() || (layout && !layout->preeditAreaText().isEmpty())) return false;
    int caret = cursor.position();
    int n = static_cast<int>(original.size());
    if (caret < n) return false;
    cursor.setPosition(caret - n, QTextCursor::KeepAnchor);
    if (cursor.selectedText() != original) return false;  // no line breaks: QTextCursor marks those as U+2029
    cursor.insertText(corrected);
    apply(cursor);
    return true;
}

}  // namespace

bool hasFocusedInternalEditableTextView() { return focusedEditable() != nullptr; }

bool injectIntoInternalTextViewIfFocused(const std::string& text) {
    QWidget* view = focusedEditable();
    if (!view) return false;
    QString inserted = QString::fromStdString(text);
    if (auto* line = qobject_cast<QLineEdit*>(view)) {
        line->insert(inserted);
    } else if (auto* edit = qobject_cast<QTextEdit*>(view)) {
        edit->textCursor().insertText(inserted);
        edit->ensureCursorVisible();
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(view)) {
        plain->textCursor().insertText(inserted);
        plain->ensureCursorVisible();
    }
    return true;
}

bool replaceInInternalTextViewIfFocused(const std::string& original, const std::string& corrected) {
    QWidget* view = focusedEditable();
    if (!view) return false;
    QString before = QString::fromStdString(original);
    QString after = QString::fromStdString(corrected);
    if (before.isEmpty()) return false;
    if (preeditWatcher() && preeditWatcher()->isComposing(view)) return false;
    if (auto* line = qobject_cast<QLineEdit*>(view)) {
        if (line->hasSelectedText()) return false;
        QString text = line->text();
        int caret = line->cursorPosition();
        int n = static_cast<int>(before.size());
        if (caret < n || text.mid(caret - n, n) != before) return false;
        line->setSelection(caret - n, n);
        line->insert(after);
        return true;
    }
    if (auto* edit = qobject_cast<QTextEdit*>(view)) {
        return replaceBeforeCaret(edit->textCursor(), before, after, [edit](QTextCursor& c) { edit->setTextCursor(c); });
    }
    if (auto* plain = qobject_cast<QPlainTextEdit*>(view)) {
        return replaceBeforeCaret(plain->textCursor(), before, after, [plain](QTextCursor& c) { plain->setTextCursor(c); });
    }
    return false;
}
