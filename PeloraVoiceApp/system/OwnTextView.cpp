#include "PeloraVoiceApp/system/OwnTextView.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

bool hasFocusedInternalEditableTextView() {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    QWidget* window = QApplication::activeWindow();
    QWidget* focused = QApplication::focusWidget();
    if (!window || !focused || focused->window() != window) return false;
    if (auto* line = qobject_cast<QLineEdit*>(focused)) return !line->isReadOnly() && line->isEnabled();
    if (auto* text = qobject_cast<QTextEdit*>(focused)) return !text->isReadOnly() && text->isEnabled();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(focused)) return !plain->isReadOnly() && plain->isEnabled();
    return false;
}
