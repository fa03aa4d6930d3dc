// The progress of a file's transcription as the controller publishes it: the decoder's
// fraction of an ffmpeg-made file and the recogniser's, over real workers on the Qt main
// loop; what each mode's recognition tells, on a manual clock; nothing for dictations, and
// nothing left once a file is done or failed.
#include "tests/PeloraVoiceApp/controller/FileProgressFakes.h"

#include "PeloraVoiceApp/QtMainThreadScheduler.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TempDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <condition_variable>
#include <mutex>

using namespace pelora;
using namespace pelora::controller_testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using Phase = FileTranscriptionProgress::Phase;

std::string describe(const std::optional<FileTranscriptionProgress>& value) {
    if (!value) return "-";
    std::string text = value->phase == Phase::decoding ? "decoding " : "recognizing ";
    return text + (value->fraction ? std::to_string(*value->fraction) : "?");
}

// Every value fileTranscriptionProgress takes, with the scheduler's time.
struct ProgressTrail : AppViewModelListener {
    const AppViewModel* model = nullptr;
    const MainThreadScheduler* clock = nullptr;
    struct Seen {
        MainThreadScheduler::Duration at;
        std::optional<FileTranscriptionProgress> value;
    };
    std::vector<Seen> seen;
    std::function<void(const std::optional<FileTranscriptionProgress>&)> onChange;
    void appViewModelDidChange(AppViewModelProperty property) override {
        if (property != AppViewModelProperty::fileTranscriptionProgress) return;
        seen.push_back({clock->now(), model->fileTranscriptionProgress()});
        if (onChange) onChange(model->fileTranscriptionProgress());
    }
    std::string describeAll() const {
        std::string text;
        for (const Seen& s : seen) text += describe(s.value) + " | ";
        return text;
    }
};

// A WAV file made by ffmpeg: a 300 Hz tone, 22.05 kHz stereo 16-bit (so the decoder
// converts it chunk by chunk and can tell how far it is).
fs::path toneFile(const fs::path& folder, int seconds) {
    const fs::path file = folder / ("tone " + std::to_string(seconds) + "s.wav");
    pelora::testing::runChecked({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                 "sine=f=300:sample_rate=22050:d=" + std::to_string(seconds), "-ac", "2", "-c:a",
                                 "pcm_s16le", file.string()});
    return file;
}

class FileProgress : public ControllerFixture {
protected:
    static void SetUpTestSuite() {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "file-progress-tests";
            static char* argv[] = {name, nullptr};
            static QCoreApplication app(argc, argv);
        }
    }
    std::shared_ptr<SteppedEngine> stepped = std::make_shared<SteppedEngine>();
    ProgressTrail trail;
    pelora::testing::TempDir folder;
};

TEST_F(FileProgress, ALongFileShowsTheDecodersFractionThenTheRecognisersAtMostTenTimesASecond) {
    const fs::path file = longToneFile(folder.path());
    QtMainThreadScheduler mainLoop;
    AppViewModel model(over(mainLoop, stepped));
    // No contextual pass: its worker would outlive this test's main loop.
    model.setEnableMirkContextCorrection(false);
    trail.model = &model;
    trail.clock = &mainLoop;
    model.addListener(&trail);

    // The recogniser waits until its first fraction has been shown before it goes on.
    std::mutex mutex;
    std::condition_variable shown;
    bool seventeenShown = false;
    trail.onChange = [&](const std::optional<FileTranscriptionProgress>& value) {
        if (value && value->phase == Phase::recognizing && value->fraction == 0.17) {
            std::lock_guard lock(mutex);
            seventeenShown = true;
            shown.notify_all();
        }
    };
    stepped->recognizer->fractions = {0.17, 0.6, 1.0};
    stepped->recognizer->afterEach = [&](double fraction) {
        if (fraction != 0.17) return;
        std::unique_lock lock(mutex);
        shown.wait_for(lock, 60s, [&] { return seventeenShown; });
    };

    QElapsedTimer clock;
    clock.start();
    model.transcribeAudioFile(file);
    ASSERT_TRUE(model.isTranscribing());
    while (model.isTranscribing() && clock.elapsed() < 180'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    ASSERT_FALSE(model.isTranscribing()) << "the file did not end";
    model.removeListener(&trail);
    ASSERT_TRUE(model.currentResult().has_value()) << model.errorMessage().value_or("");
    EXPECT_EQ(model.currentSourceName(), file.filename().string());

    const auto& seen = trail.seen;
    SCOPED_TRACE(trail.describeAll());
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen.front().value, (FileTranscriptionProgress{Phase::decoding, std::nullopt}));
    EXPECT_EQ(seen.back().value, std::nullopt) << "nothing is left once the file is done";
    bool decodingOnTheWay = false, recognising = false, seventeen = false;
    for (std::size_t i = 1; i + 1 < seen.size(); ++i) {
        const FileTranscriptionProgress& value = *seen[i].value;
        const FileTranscriptionProgress& before = *seen[i - 1].value;
        // At most ten a second, by the controller's own clock.
        EXPECT_GE(seen[i].at - seen[i - 1].at, 99ms) << "at " << i;
        ASSERT_GE(value.phase, before.phase) << "at " << i;
        if (value.phase == before.phase && before.fraction) {
            ASSERT_TRUE(value.fraction) << "at " << i;
            EXPECT_GE(*value.fraction, *before.fraction) << "at " << i;
        }
        if (value.phase == Phase::decoding && value.fraction && *value.fraction > 0 && *value.fraction < 1)
            decodingOnTheWay = true;
        if (value.phase == Phase::recognizing) recognising = true;
        if (value == FileTranscriptionProgress{Phase::recognizing, 0.17}) seventeen = true;
    }
    EXPECT_TRUE(decodingOnTheWay) << "the decoder's fraction is shown while it reads";
    EXPECT_TRUE(recognising);
    EXPECT_TRUE(seventeen);
}

class FileProgressByMode : public FileProgress {
protected:
    void SetUp() override {
        engine = stepped;
        make();
        trail.model = model.get();
        trail.clock = &scheduler;
        model->addListener(&trail);
    }
    void TearDown() override { model->removeListener(&trail); }
};

TEST_F(FileProgressByMode, EachModeShowsWhatItsRecogniserTells) {
    const fs::path file = toneFile(folder.path(), 3);
    struct Case {
        EngineMode mode;
        // What the window shows right after each report of the recogniser (or the EG2 pipeline).
        std::vector<std::optional<FileTranscriptionProgress>> shown;
    };
    const Case cases[] = {
        {EngineMode::hybridJaEn,
         {FileTranscriptionProgress{Phase::recognizing, 0.17}, FileTranscriptionProgress{Phase::recognizing, 1.0}}},
        {EngineMode::appleSpeechJa,
         {FileTranscriptionProgress{Phase::recognizing, 0.17}, FileTranscriptionProgress{Phase::recognizing, 1.0}}},
        // The EG2 pipeline cannot tell how far it is.
        {EngineMode::pureEG2English, {FileTranscriptionProgress{Phase::recognizing, std::nullopt}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(engine_mode::rawValue(c.mode));
        trail.seen.clear();
        model->setEngineMode(c.mode);
        std::vector<std::optional<FileTranscriptionProgress>> shown;
        // On the worker, which runs on this thread: a tenth of a second passes on the main loop.
        auto look = [&] {
            scheduler.advance(100ms);
            shown.push_back(model->fileTranscriptionProgress());
        };
        stepped->recognizer->fractions = {0.17, 1.0};
        stepped->recognizer->afterEach = [&](double) { look(); };
        *stepped->duringEG2 = c.mode == EngineMode::pureEG2English ? std::function<void()>(look) : nullptr;
        model->transcribeAudioFile(file);
        EXPECT_EQ(model->fileTranscriptionProgress(), (FileTranscriptionProgress{Phase::decoding, std::nullopt}));
        workers.runAll();  // the transcriber (first time), then the file
        scheduler.runPosted();
        workers.runAll();
        scheduler.runPosted();
        ASSERT_FALSE(model->isTranscribing());
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(model->fileTranscriptionProgress(), std::nullopt);
        EXPECT_EQ(scheduler.pendingTimerCount(), monitorTimers) << "no wait of the progress outlives its file";
    }
    stepped->recognizer->afterEach = nullptr;
    *stepped->duringEG2 = nullptr;
}

TEST_F(FileProgressByMode, DictationsShowNoProgressAndAFailedFileLeavesNone) {
    // A dictation: recognition of the recording tells the file progress nothing.
    stepped->recognizer->fractions = {0.5};
    model->toggleManualRecording();
    model->toggleManualRecording();
    workers.runAll();
    scheduler.runPosted();
    workers.runAll();
    scheduler.advance(1s);
    ASSERT_TRUE(model->currentResult().has_value());
    EXPECT_TRUE(trail.seen.empty()) << trail.describeAll();

    // A file that cannot be decoded: the progress goes with the error.
    const fs::path broken = folder.path() / "broken.wav";
    pelora::testing::writeFile(broken, "RIFF....WAVE but not audio at all");
    model->transcribeAudioFile(broken);
    EXPECT_TRUE(model->fileTranscriptionProgress().has_value());
    workers.runAll();
    scheduler.advance(1s);
    EXPECT_FALSE(model->isTranscribing());
    ASSERT_TRUE(model->errorMessage().has_value());
    EXPECT_EQ(model->fileTranscriptionProgress(), std::nullopt);
    // An unreadable path is refused at once, and leaves none either.
    model->transcribeAudioFile(folder.path());
    EXPECT_EQ(model->fileTranscriptionProgress(), std::nullopt);
    EXPECT_FALSE(model->isTranscribing());
}

}  // namespace
