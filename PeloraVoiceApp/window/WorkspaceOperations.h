#pragma once

#include <QString>

namespace pelora {

class AppViewModelQtAdapter;

// The controller operations the window's controls and the tray menu start, in one place.
// Each returns at once; asynchronous work goes on in the controller.
namespace workspace_operations {

void openFilePicker(AppViewModelQtAdapter& vm);
void reinsertLastTranscription(AppViewModelQtAdapter& vm, bool fromMainWindowButton);
void reinsertSpecificText(AppViewModelQtAdapter& vm, const QString& text, bool fromMainWindowButton);
void refreshPermissions(AppViewModelQtAdapter& vm);
void terminateConflictingLegacyApps(AppViewModelQtAdapter& vm);
void transcribeAudioFile(AppViewModelQtAdapter& vm, const QString& path);
void selectHistoryEntry(AppViewModelQtAdapter& vm, const QString& id);
void dismissErrorMessage(AppViewModelQtAdapter& vm);
void dismissStatusNotice(AppViewModelQtAdapter& vm);
void bootEngine(AppViewModelQtAdapter& vm);
// The folder where the Japanese speech model goes: made when missing, then opened in the
// desktop's file manager. False when it could not be made or opened.
bool openSpeechModelFolder();
// Puts the text on the clipboard only (the orchestrator's copy, cancelling a pending restore).
void copyText(const QString& text);

}  // namespace workspace_operations

}  // namespace pelora
