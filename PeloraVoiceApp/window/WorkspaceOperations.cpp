#include "PeloraVoiceApp/window/WorkspaceOperations.h"

#include "PeloraVoiceApp/controller/AppViewModel.h"
#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"
#include "PeloraVoiceApp/system/Paster.h"
#include "engine/recognition/JapaneseSpeechAssets.h"

#include <QDebug>
#include <QDesktopServices>
#include <QFile>
#include <QMetaObject>
#include <QUrl>

#include <filesystem>
#include <system_error>

namespace pelora::workspace_operations {

namespace {
// An operation the adapter offers as a slot of that name; a controller without it (an
// earlier build of the flows) leaves a note in the log instead.
template <class... Args>
void call(AppViewModelQtAdapter& vm, const char* slot, Args... args) {
    if (!QMetaObject::invokeMethod(&vm, slot, Qt::DirectConnection, args...))
        qWarning() << "PeloraVoice2: the controller does not offer" << slot;
}
}  // namespace

void openFilePicker(AppViewModelQtAdapter& vm) { call(vm, "openFilePicker"); }

void reinsertLastTranscription(AppViewModelQtAdapter& vm, bool fromMainWindowButton) {
    call(vm, "reinsertLastTranscription", Q_ARG(bool, fromMainWindowButton));
}

void reinsertSpecificText(AppViewModelQtAdapter& vm, const QString& text, bool fromMainWindowButton) {
    call(vm, "reinsertSpecificText", Q_ARG(QString, text), Q_ARG(bool, fromMainWindowButton));
}

void refreshPermissions(AppViewModelQtAdapter& vm) { vm.refreshPermissions(); }

void terminateConflictingLegacyApps(AppViewModelQtAdapter& vm) { vm.terminateConflictingLegacyApps(); }

void transcribeAudioFile(AppViewModelQtAdapter& vm, const QString& path) {
    call(vm, "transcribeAudioFile", Q_ARG(QString, path));
}

void selectHistoryEntry(AppViewModelQtAdapter& vm, const QString& id) { vm.selectHistoryEntry(id); }

void dismissErrorMessage(AppViewModelQtAdapter& vm) { vm.dismissErrorMessage(); }

void dismissStatusNotice(AppViewModelQtAdapter& vm) { vm.dismissStatusNotice(); }

void bootEngine(AppViewModelQtAdapter& vm) { vm.bootEngine(); }

bool openSpeechModelFolder() {
    const std::filesystem::path folder = JapaneseSpeechAssets::assetDirectory();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        qWarning() << "PeloraVoice2: cannot make the speech model folder" << folder.c_str() << error.message().c_str();
        return false;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(folder.c_str())));
}

void copyText(const QString& text) {
    if (text.isEmpty()) return;
    Paster::shared().copyOnly(text.toStdString());
}

}  // namespace pelora::workspace_operations
