// The Qt file picker on the private test desktop: its title, its one filter over audio
// and video files, a confirmed choice and a cancel.
#include "PeloraVoiceApp/controller/QtAudioFilePicker.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QMimeDatabase>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

using namespace pelora;
using namespace std::chrono_literals;

namespace {

QApplication& desktopApplication() {
    static QApplication* app = [] {
        static int argc = 1;
        static char name[] = "after-desktop-tests";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Runs `inspect` on the picker's dialog once it is shown (from inside its modal loop), as
// long as the returned poll lives. A dialog that takes longer than 30 s fails the test and
// is closed when it does show, so that the modal loop ends instead of hanging the test.
std::unique_ptr<QTimer> whenDialogShows(std::function<void(QFileDialog&)> inspect) {
    constexpr int givingUpTries = 1500;  // 30 s of 20 ms polls
    auto poll = std::make_unique<QTimer>();
    poll->setInterval(20);
    QObject::connect(poll.get(), &QTimer::timeout, [poll = poll.get(), tries = 0, inspect]() mutable {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) {
            if (++tries == givingUpTries) ADD_FAILURE() << "the dialog did not show within 30 s";
            return;
        }
        poll->stop();
        if (tries >= givingUpTries)
            dialog->reject();
        else
            inspect(*dialog);
    });
    poll->start();
    return poll;
}

TEST(QtAudioFilePicker, FilterCoversTheNamedFormatsAndNothingElse) {
    desktopApplication();
    const QString filter = QtAudioFilePicker::nameFilter();
    ASSERT_TRUE(filter.startsWith(QStringLiteral("音声・動画ファイル (")));
    const QStringList patterns = filter.mid(filter.indexOf('(') + 1).chopped(1).split(' ');
    for (const char* pattern : {"*.wav", "*.mp3", "*.m4a", "*.mp4", "*.mov", "*.aif", "*.aiff", "*.WAV", "*.MP4",
                                "*.ogg", "*.flac", "*.mkv", "*.webm"})
        EXPECT_TRUE(patterns.contains(QString::fromLatin1(pattern))) << pattern;
    for (const char* pattern : {"*.txt", "*.png", "*.pdf", "*"})
        EXPECT_FALSE(patterns.contains(QString::fromLatin1(pattern))) << pattern;
    const QStringList types = QtAudioFilePicker::mimeTypeNames();
    const QMimeDatabase database;
    for (const char* name : {"video/mp4", "video/quicktime", "audio/mp4", "audio/x-wav", "audio/mpeg", "audio/x-aiff"})
        EXPECT_TRUE(types.contains(database.mimeTypeForName(QString::fromLatin1(name)).name())) << name;
}

TEST(QtAudioFilePicker, ShowsItsTitleAndFilterAndAnswersTheChoiceOrNothing) {
    desktopApplication();
    pelora::testing::TempDir dir;
    const auto file = dir.path() / "会議 メモ.m4a";
    pelora::testing::writeFile(file, "x");
    pelora::testing::writeFile(dir.path() / "notes.txt", "x");

    QtAudioFilePicker picker(nullptr, /*useNativeDialog=*/false);
    struct Case {
        const char* name;
        bool confirm;
    };
    for (const Case c : {Case{"cancel", false}, Case{"confirm", true}}) {
        SCOPED_TRACE(c.name);
        QString title, selectedFilter;
        QStringList filters;
        QFileDialog::FileMode mode{};
        bool native = true;
        const auto poll = whenDialogShows([&](QFileDialog& dialog) {
            title = dialog.windowTitle();
            filters = dialog.nameFilters();
            selectedFilter = dialog.selectedNameFilter();
            mode = dialog.fileMode();
            native = !dialog.testOption(QFileDialog::DontUseNativeDialog);
            if (!c.confirm) {
                dialog.reject();
                return;
            }
            dialog.setDirectory(QString::fromStdString(dir.path().string()));
            dialog.selectFile(QString::fromStdString(file.string()));
            static_cast<QDialog&>(dialog).accept();
        });
        const auto chosen = picker.pickAudioOrVideoFile();
        EXPECT_EQ(title, QStringLiteral("音声・動画ファイルを選択"));
        EXPECT_EQ(filters, QStringList{QtAudioFilePicker::nameFilter()});
        EXPECT_EQ(selectedFilter, QtAudioFilePicker::nameFilter());
        EXPECT_EQ(mode, QFileDialog::ExistingFile) << "one existing file, no folders";
        EXPECT_FALSE(native);
        if (c.confirm)
            EXPECT_EQ(chosen, file);
        else
            EXPECT_EQ(chosen, std::nullopt);
    }
}

}  // namespace
