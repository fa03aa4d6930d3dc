#pragma once

#include "PeloraVoiceApp/controller/AudioFilePicker.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace pelora {

// A modal QFileDialog for one existing file (no folders) filtered to audio and video files.
// Needs a QApplication.
class QtAudioFilePicker final : public AudioFilePicker {
public:
    // `useNativeDialog` false: Qt's own dialog, whatever the desktop offers.
    explicit QtAudioFilePicker(QWidget* parent = nullptr, bool useNativeDialog = true);

    std::optional<std::filesystem::path> pickAudioOrVideoFile() override;

    static inline const QString title = QStringLiteral("音声・動画ファイルを選択");
    // The one name filter: every file-name pattern the MIME database knows for audio and
    // video, the named formats (MPEG-4 and QuickTime films, MPEG-4 audio, WAV, MP3, AIFF)
    // included, in lower and upper case.
    static QString nameFilter();
    // The MIME types the filter is made from, the named ones first.
    static QStringList mimeTypeNames();

private:
    QWidget* parent_;
    bool useNativeDialog_;
};

}  // namespace pelora
