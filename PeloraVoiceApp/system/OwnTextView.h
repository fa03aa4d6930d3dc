#pragma once

#include <string>

// This application's own text views, for dictation into its own windows. Main thread only.

// True when the active window of this application has an editable QLineEdit, QTextEdit
// or QPlainTextEdit with the keyboard focus.
bool hasFocusedInternalEditableTextView();

// Inserts the text at that view's caret, over its selection, through its own cursor;
// false (nothing done) when no such view has the focus.
bool injectIntoInternalTextViewIfFocused(const std::string& text);

// Replaces `original` just before the caret of that view by `corrected`: only when the
// selection is a caret right after exactly `original` (UTF-16 units) and no input-method
// composition is in progress.
bool replaceInInternalTextViewIfFocused(const std::string& original, const std::string& corrected);
