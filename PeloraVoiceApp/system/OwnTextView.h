#pragma once

// This application's own text views, for dictation into its own windows.

// True when the active window of this application has an editable QLineEdit, QTextEdit
// or QPlainTextEdit with the keyboard focus. Main thread only.
bool hasFocusedInternalEditableTextView();
