// Real drops between processes: another Qt application drags a WAV file made here by
// ffmpeg onto the studio page, the pointer moved by XTest; the file is decoded and
// recognised (a scripted recogniser), and a drop while recording or transcribing is refused.
#include "tests/PeloraVoiceApp/window/desktop/WindowFixture.h"

#include "PeloraVoiceApp/window/MainWorkspaceView.h"
#include "PeloraVoiceApp/window/OutputCard.h"
#include "PeloraVoiceApp/window/StudioPage.h"
#include "PeloraVoiceApp/window/TileButton.h"
#include "tests/support/FileDragSource.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TempDir.h"

#include <QLabel>
#include <QMimeData>
#include <QTest>
#include <QTextEdit>
#include <QUrl>

using namespace pelora;
using namespace pelora::window_testing;
using pelora::testing::FileDragSource;
using pelora::testing::runCommand;
using pelora::testing::TempDir;

namespace {

class XdndDrop : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        if (IsSkipped()) return;
        app->start();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
        settle();
        // Two seconds of tone, 16 kHz mono, under a name with blanks, Japanese and a percent sign.
        wav = dir.path() / "会議 録音 100%.wav";
        const auto made = runCommand({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                      "sine=frequency=440:sample_rate=16000:duration=2", "-ac", "1", wav.string()});
        ASSERT_EQ(made.exitCode, 0) << made.err;
        source = std::make_unique<FileDragSource>(FileDragSource::Options{
            .urls = {QUrl::fromLocalFile(QString::fromStdString(wav.string())).toEncoded().toStdString()}});
    }
    StudioPage& page() { return *app->mainWindow().studioPage(); }
    // Drags the source's file onto the middle of the output card (part of the page's drop
    // target); returns how the drag ended for the source.
    std::string dropOnPage() {
        const QPoint at = page().outputCard()->mapToGlobal(page().outputCard()->rect().center());
        return source->dragTo(at.x(), at.y(), [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
    }

    TempDir dir;
    std::filesystem::path wav;
    std::unique_ptr<FileDragSource> source;
};

TEST_F(XdndDrop, ADroppedFileIsTranscribedAndFurtherDropsWaitTillItEnds) {
    engine->speech->text = "ドロップしたファイルの文字起こしです。";
    ASSERT_EQ(dropOnPage(), "copy");
    // The drop started the file's transcription (its worker is held): the card says so.
    ASSERT_TRUE(spinUntil([&] { return model->isTranscribing(); }))
        << "error: " << model->errorMessage().value_or("none") << "; source: " << model->currentSourceName();
    OutputCard& card = *page().outputCard();
    EXPECT_TRUE(card.busyIndicator()->isVisible());
    auto* busyText = card.busyIndicator()->findChild<QLabel*>();
    ASSERT_NE(busyText, nullptr);
    EXPECT_EQ(busyText->text(), "文字起こし中...");
    EXPECT_FALSE(page().fileTile()->isEnabled());
    EXPECT_FALSE(app->mainWindow().viewState().isDropTargeted);

    // A second drop while it runs is refused, and nothing else starts.
    EXPECT_EQ(dropOnPage(), "ignore");
    spinFor(300ms);  // anything the drop would have started
    EXPECT_EQ(workers.jobs.size(), 1u);
    EXPECT_FALSE(app->mainWindow().viewState().isDropTargeted);

    settle();
    ASSERT_TRUE(model->currentResult().has_value()) << model->errorMessage().value_or("");
    EXPECT_EQ(model->currentResult()->text, "ドロップしたファイルの文字起こしです。");
    {
        std::lock_guard lock(engine->speech->mutex);
        ASSERT_EQ(engine->speech->sampleCounts.size(), 1u);  // one recognition: the refused drop started none
        EXPECT_NEAR(static_cast<double>(engine->speech->sampleCounts[0]), 32000.0, 800.0)
            << "the whole dropped file decoded at 16 kHz";
    }
    EXPECT_EQ(card.formattedText()->toPlainText(), "ドロップしたファイルの文字起こしです。");
    EXPECT_FALSE(card.busyIndicator()->isVisible());
    ASSERT_EQ(model->history().size(), 1u);
    EXPECT_NE(model->history()[0].sourceName.find("会議 録音 100%.wav"), std::string::npos)
        << model->history()[0].sourceName;
}

TEST_F(XdndDrop, ADropWhileRecordingIsRefused) {
    model->toggleManualRecording();
    ASSERT_TRUE(model->isRecording());
    EXPECT_EQ(dropOnPage(), "ignore");
    spinFor(300ms);
    EXPECT_FALSE(app->mainWindow().viewState().isDropTargeted);
    EXPECT_TRUE(model->isRecording());
    EXPECT_TRUE(workers.jobs.empty());
    // Once the recording is over and transcribed, the same drag is taken.
    model->toggleManualRecording();
    settle();
    ASSERT_FALSE(model->isTranscribing());
    EXPECT_EQ(dropOnPage(), "copy");
    EXPECT_TRUE(spinUntil([&] { return model->isTranscribing(); }));
    settle();
}

}  // namespace
