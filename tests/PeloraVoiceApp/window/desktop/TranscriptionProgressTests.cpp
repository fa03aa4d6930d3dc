// The output card's status while something is transcribed: a determinate bar with
// "文字起こし中... 読み込み N%" while a file is read, "文字起こし中... 認識 N%" while its
// speech is recognised, and the indeterminate indicator when no fraction is known (the
// EG2-only mode, dictations). Over the real controller, adapter and window.
#include "tests/PeloraVoiceApp/window/desktop/WindowFixture.h"
#include "tests/PeloraVoiceApp/controller/FileProgressFakes.h"

#include "PeloraVoiceApp/QtMainThreadScheduler.h"
#include "PeloraVoiceApp/window/MainWorkspaceView.h"
#include "PeloraVoiceApp/window/OutputCard.h"
#include "PeloraVoiceApp/window/StudioPage.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TempDir.h"

#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>

using namespace pelora;
using namespace pelora::window_testing;
using namespace pelora::controller_testing;
namespace fs = std::filesystem;

namespace {

using Phase = FileTranscriptionProgress::Phase;

fs::path toneFile(const fs::path& folder, int seconds) {
    const fs::path file = folder / ("tone " + std::to_string(seconds) + "s.wav");
    pelora::testing::runChecked({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                 "sine=f=300:sample_rate=22050:d=" + std::to_string(seconds), "-ac", "2", "-c:a",
                                 "pcm_s16le", file.string()});
    return file;
}

// What the card's status slot shows.
struct Status {
    bool visible;
    QString text;
    int maximum;  // 0: indeterminate
    int value;
    bool operator==(const Status&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Status& s) {
    return out << (s.visible ? "shown " : "hidden ") << s.text.toStdString() << " [" << s.value << "/" << s.maximum
               << "]";
}

Status statusOf(OutputCard& card) {
    QProgressBar* bar = card.busyBar();
    return {card.busyIndicator()->isVisible(), card.busyText()->text(), bar->maximum(),
            bar->maximum() == 0 ? 0 : bar->value()};
}

class TranscriptionProgressStatus : public WindowFixture {
protected:
    TranscriptionProgressStatus() { engine = stepped; }
    void SetUp() override {
        WindowFixture::SetUp();
        if (IsSkipped()) return;
        app->start();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
        workers.runAll();  // the boot
        scheduler.runPosted();
    }
    OutputCard& card() { return *app->mainWindow().studioPage()->outputCard(); }

    std::shared_ptr<SteppedEngine> stepped = std::make_shared<SteppedEngine>();
    pelora::testing::TempDir folder;
};

TEST_F(TranscriptionProgressStatus, RecognitionShowsItsPercentOrTheIndicatorWhenItCannotTell) {
    const fs::path file = toneFile(folder.path(), 3);
    struct Case {
        EngineMode mode;
        std::vector<Status> shown;  // after each report of the recogniser (or of the EG2 pipeline)
    };
    const Case cases[] = {
        {EngineMode::hybridJaEn,
         {{true, "文字起こし中... 認識 17%", 100, 17}, {true, "文字起こし中... 認識 100%", 100, 100}}},
        {EngineMode::appleSpeechJa,
         {{true, "文字起こし中... 認識 17%", 100, 17}, {true, "文字起こし中... 認識 100%", 100, 100}}},
        {EngineMode::pureEG2English, {{true, "文字起こし中...", 0, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(engine_mode::rawValue(c.mode));
        model->setEngineMode(c.mode);
        std::vector<Status> shown;
        // On the worker, which runs on this thread: a tenth of a second passes on the main loop.
        auto look = [&] {
            scheduler.advance(std::chrono::milliseconds(100));
            shown.push_back(statusOf(card()));
        };
        stepped->recognizer->fractions = {0.17, 1.0};
        stepped->recognizer->afterEach = [&](double) { look(); };
        *stepped->duringEG2 = c.mode == EngineMode::pureEG2English ? std::function<void()>(look) : nullptr;
        vm().transcribeAudioFile(QString::fromStdString(file.string()));
        EXPECT_EQ(statusOf(card()), (Status{true, "文字起こし中...", 0, 0})) << "before the file is read";
        workers.runAll();
        scheduler.runPosted();
        workers.runAll();
        scheduler.runPosted();
        EXPECT_EQ(shown, c.shown);
        ASSERT_FALSE(model->isTranscribing());
        EXPECT_FALSE(statusOf(card()).visible);
        EXPECT_TRUE(card().timingLabel()->isVisible()) << "the result's timing takes the slot";
    }

    // A dictation: the indicator, without a fraction.
    stepped->recognizer->afterEach = nullptr;
    *stepped->duringEG2 = nullptr;
    model->setEngineMode(EngineMode::hybridJaEn);
    model->toggleManualRecording();
    model->toggleManualRecording();
    ASSERT_TRUE(model->isTranscribing());
    EXPECT_EQ(statusOf(card()), (Status{true, "文字起こし中...", 0, 0}));
    workers.runAll();
    scheduler.runPosted();
}

// The window over real workers and the Qt main loop, so that the decoder's fraction of a long
// ffmpeg-made file shows while it is read.
class TranscriptionProgressWhileReading : public ControllerFixture {
protected:
    void SetUp() override {
        if (!pelora::testing::insideDesktopTestBed()) GTEST_SKIP() << "runs only inside the private test desktop";
        desktopApplication();
    }
    pelora::testing::TempDir folder;
};

TEST_F(TranscriptionProgressWhileReading, ALongFileShowsTheDecodersPercentOnABar) {
    const fs::path file = longToneFile(folder.path());
    QtMainThreadScheduler mainLoop;
    auto stepped = std::make_shared<SteppedEngine>();
    AppViewModel model(over(mainLoop, stepped));
    // No contextual pass: its worker would outlive this test's main loop.
    model.setEnableMirkContextCorrection(false);
    PeloraVoiceApp app(model);
    app.setQuitHandler([] {});
    app.start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&app.mainWindow()));
    ASSERT_TRUE(spinUntil([&] { return !model.isLoadingEngine(); }, std::chrono::seconds(60)));
    OutputCard& card = *app.mainWindow().studioPage()->outputCard();

    // The card as it stands after each change of the progress (it follows the same signal first).
    const QRegularExpression reading(QStringLiteral("^文字起こし中\\.\\.\\. 読み込み (\\d+)%$"));
    std::optional<Status> whileReading;
    QObject::connect(&app.adapter(), &AppViewModelQtAdapter::fileTranscriptionProgressChanged, &app, [&] {
        const Status now = statusOf(card);
        const auto match = reading.match(now.text);
        if (!whileReading && match.hasMatch() && match.captured(1).toInt() > 0 && match.captured(1).toInt() < 100)
            whileReading = now;
    });
    app.adapter().transcribeAudioFile(QString::fromStdString(file.string()));
    ASSERT_TRUE(spinUntil([&] { return !model.isTranscribing(); }, std::chrono::seconds(120)));
    ASSERT_TRUE(whileReading) << "no percent was shown while the file was read";
    EXPECT_TRUE(whileReading->visible);
    EXPECT_EQ(whileReading->maximum, 100);
    EXPECT_EQ(QStringLiteral("文字起こし中... 読み込み %1%").arg(whileReading->value), whileReading->text)
        << "the bar and the text agree";
    EXPECT_FALSE(statusOf(card).visible);
    EXPECT_TRUE(model.currentResult().has_value()) << model.errorMessage().value_or("");
}

}  // namespace
