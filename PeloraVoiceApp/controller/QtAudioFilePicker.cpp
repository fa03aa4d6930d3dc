#include "PeloraVoiceApp/controller/QtAudioFilePicker.h"

#include <QFileDialog>
#include <QMimeDatabase>
#include <QMimeType>

namespace pelora {

namespace {

// The formats named for the picker, after every audio and video type.
const QStringList namedTypes = {
    QStringLiteral("video/mp4"),  QStringLiteral("video/quicktime"), QStringLiteral("audio/mp4"),
    QStringLiteral("audio/x-wav"), QStringLiteral("audio/mpeg"),      QStringLiteral("audio/x-aiff"),
};

bool isAudioOrVideo(const QMimeType& type) {
    if (type.name().startsWith(QLatin1String("audio/")) || type.name().startsWith(QLatin1String("video/")))
        return true;
    for (const QString& parent : type.allAncestors())
        if (parent.startsWith(QLatin1String("audio/")) || parent.startsWith(QLatin1String("video/"))) return true;
    return false;
}

}  // namespace

QtAudioFilePicker::QtAudioFilePicker(QWidget* parent, bool useNativeDialog)
    : parent_(parent), useNativeDialog_(useNativeDialog) {}

QStringList QtAudioFilePicker::mimeTypeNames() {
    const QMimeDatabase database;
    QStringList names;
    for (const QString& name : namedTypes) {
        const QMimeType type = database.mimeTypeForName(name);  // aliases resolve to the database's name
        if (type.isValid() && !names.contains(type.name())) names.append(type.name());
    }
    for (const QMimeType& type : database.allMimeTypes())
        if (isAudioOrVideo(type) && !names.contains(type.name())) names.append(type.name());
    return names;
}

QString QtAudioFilePicker::nameFilter() {
    const QMimeDatabase database;
    QStringList patterns;
    for (const QString& name : mimeTypeNames()) {
        for (const QString& glob : database.mimeTypeForName(name).globPatterns()) {
            for (const QString& pattern : {glob.toLower(), glob.toUpper()})
                if (!patterns.contains(pattern)) patterns.append(pattern);
        }
    }
    return QStringLiteral("音声・動画ファイル (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

std::optional<std::filesystem::path> QtAudioFilePicker::pickAudioOrVideoFile() {
    QFileDialog dialog(parent_, title);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::DontUseNativeDialog, !useNativeDialog_);
    dialog.setNameFilter(nameFilter());
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    return std::filesystem::path(files.front().toStdString());
}

}  // namespace pelora
