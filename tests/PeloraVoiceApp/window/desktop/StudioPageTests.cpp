// The studio page and the output card over the real controller: notices, the record card,
// drops (in-process events as a table), and the card before any result; numbers written
// with a decimal point under a decimal-comma locale.
#include "tests/PeloraVoiceApp/window/desktop/WindowFixture.h"

#include "PeloraVoiceApp/window/CardFrame.h"
#include "PeloraVoiceApp/window/MainWorkspaceView.h"
#include "PeloraVoiceApp/window/OutputCard.h"
#include "PeloraVoiceApp/window/StudioPage.h"
#include "PeloraVoiceApp/window/TileButton.h"
#include "PeloraVoiceApp/window/TimestampListModel.h"
#include "PeloraVoiceApp/hud/UITheme.h"

#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QUrl>

#include <clocale>
#include <cstdio>

using namespace pelora;
using namespace pelora::window_testing;

namespace {

// The process in a German locale (decimal comma) while it lives.
class DecimalCommaLocale {
public:
    DecimalCommaLocale() {
        const char* previous = std::setlocale(LC_ALL, nullptr);
        previous_ = previous ? previous : "C";
        active_ = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }
    ~DecimalCommaLocale() {
        std::setlocale(LC_ALL, previous_.c_str());
        QLocale::setDefault(QLocale::c());
    }
    bool active() const { return active_; }

private:
    std::string previous_;
    bool active_ = false;
};

class Studio : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        if (IsSkipped()) return;
        app->start();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
    }
    StudioPage& page() { return *app->mainWindow().studioPage(); }
    OutputCard& card() { return *page().outputCard(); }

    // Sends a drag over the page and then drops it; returns {drag accepted, drop accepted}.
    std::pair<bool, bool> dragAndDrop(QMimeData* data, bool* highlighted = nullptr) {
        const QPoint where = page().rect().center();
        QDragEnterEvent enter(where, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&page(), &enter);
        if (highlighted) *highlighted = app->mainWindow().viewState().isDropTargeted;
        QDropEvent drop(QPointF(where), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&page(), &drop);
        return {enter.isAccepted(), drop.isAccepted()};
    }
};

TEST(DroppedFilePath, FirstLocalFileOnlyDecodedAsAPath) {
    struct Case {
        const char* what;
        QByteArray uriList;  // the bytes another application offers as text/uri-list
        std::optional<QString> path;
    };
    const Case cases[] = {
        {"plain path", "file:///tmp/a.wav\r\n", QStringLiteral("/tmp/a.wav")},
        {"blanks and Japanese, percent-escaped", "file:///tmp/my%20dir/%E9%9F%B3%E5%A3%B0%20%E3%83%A1%E3%83%A2.m4a\r\n",
         QStringLiteral("/tmp/my dir/音声 メモ.m4a")},
        {"an escaped percent sign", "file:///tmp/100%25.wav\r\n", QStringLiteral("/tmp/100%.wav")},
        {"several: the first", "file:///tmp/first.wav\r\nfile:///tmp/second.wav\r\n", QStringLiteral("/tmp/first.wav")},
        {"a comment line first", "# from a file manager\r\nfile:///tmp/x.mov\r\n", QStringLiteral("/tmp/x.mov")},
        {"remote URL", "https://example.com/a.wav\r\n", std::nullopt},
        {"remote first, local second", "https://example.com/a.wav\r\nfile:///tmp/b.wav\r\n", std::nullopt},
        {"empty list", "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"), c.uriList);
        EXPECT_EQ(StudioPage::droppedFilePath(&data), c.path);
    }
    QMimeData audioOnly;
    audioOnly.setData(QStringLiteral("audio/wav"), QByteArray("RIFF....WAVE"));
    EXPECT_EQ(StudioPage::droppedFilePath(&audioOnly), std::nullopt);
}

TEST_F(Studio, DragsHighlightAndDropsAreTakenOrRefused) {
    struct Case {
        const char* what;
        std::function<void(QMimeData&)> fill;
        bool dragAccepted;
        bool dropAccepted;
    };
    const Case cases[] = {
        {"a local file", [](QMimeData& d) { d.setUrls({QUrl::fromLocalFile("/tmp/会議 録音.wav")}); }, true, true},
        {"audio data without a file", [](QMimeData& d) { d.setData("audio/x-wav", "RIFF"); }, true, false},
        {"video data without a file", [](QMimeData& d) { d.setData("video/mp4", "...."); }, true, false},
        {"a web address", [](QMimeData& d) { d.setUrls({QUrl("https://example.com/a.mp3")}); }, true, false},
        {"plain text", [](QMimeData& d) { d.setText("音声"); }, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QMimeData data;
        c.fill(data);
        bool highlighted = false;
        const auto [drag, drop] = dragAndDrop(&data, &highlighted);
        EXPECT_EQ(drag, c.dragAccepted);
        EXPECT_EQ(highlighted, c.dragAccepted);
        EXPECT_EQ(drop, c.dropAccepted);
        EXPECT_FALSE(app->mainWindow().viewState().isDropTargeted);  // the highlight ends with the drop
    }
}

TEST_F(Studio, HoveringDragOutlinesTheRecordCardAndTileUnlessRecording) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile("/tmp/a.wav")});
    QDragEnterEvent enter(page().rect().center(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&page(), &enter);
    EXPECT_EQ(page().recordCard()->outlineColor(), UITheme::Ocean::cyan);
    EXPECT_EQ(page().recordCard()->outlineWidth(), 1.5);
    EXPECT_EQ(page().fileTile()->outlineColor(), UITheme::Ocean::cyan);
    EXPECT_EQ(page().fileTile()->outlineWidth(), 1.0);
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(&page(), &leave);
    EXPECT_NE(page().recordCard()->outlineColor(), UITheme::Ocean::cyan);

    // While recording, and while the recording is transcribed, drags are refused outright.
    model->toggleManualRecording();
    ASSERT_TRUE(model->isRecording());
    EXPECT_EQ(page().recordCard()->outlineWidth(), 1.5);  // red
    bool highlighted = true;
    EXPECT_EQ(dragAndDrop(&data, &highlighted), std::make_pair(false, false));
    EXPECT_FALSE(highlighted);
    model->toggleManualRecording();
    ASSERT_TRUE(model->isTranscribing());
    EXPECT_EQ(dragAndDrop(&data, &highlighted), std::make_pair(false, false));
    EXPECT_FALSE(page().fileTile()->isEnabled());
}

TEST_F(Studio, RecordCardFollowsTheRecordingAndTheTarget) {
    EXPECT_EQ(page().recordTitle()->text(), "音声入力を開始");
    EXPECT_EQ(page().keyHint()->text(), "「右⌥」長押しで録音 · ダブルタップでハンズフリー");
    EXPECT_FALSE(page().durationBadge()->isVisible());
    EXPECT_FALSE(page().targetLine()->isVisible());
    EXPECT_TRUE(page().fileTile()->isEnabled());
    EXPECT_EQ(page().fileTile()->toolTip(), "音声・動画ファイル（WAV, MP3, M4A, MP4, MOV）を選択して文字起こしします");

    QTest::mouseClick(page().recordButton(), Qt::LeftButton);
    ASSERT_TRUE(model->isRecording());
    EXPECT_EQ(page().recordTitle()->text(), "録音中... クリックまたはキーを離して完了");
    EXPECT_TRUE(page().durationBadge()->isVisible());
    EXPECT_FALSE(page().fileTile()->isEnabled());
    EXPECT_TRUE(page().recordButton()->isEnabled());

    ActiveApplicationSnapshot target;
    target.processIdentifier = 4242;
    target.bundleIdentifier = "org.example.Editor";
    target.appName = "Editor";
    lastExternalApp.change(target);
    EXPECT_TRUE(page().targetLine()->isVisible());
    EXPECT_EQ(page().targetLabel()->text().toStdString(), "入力先: " + target.displayLabel());
}

TEST_F(Studio, ErrorBannerShowsTheMessageVerbatimUntilClosed) {
    recorder.startFailure = "デバイス <none> が見つかりません %s";
    model->toggleManualRecording();
    ASSERT_TRUE(model->errorMessage().has_value());
    EXPECT_TRUE(page().errorBanner()->isVisible());
    EXPECT_EQ(page().errorText()->text().toStdString(), *model->errorMessage());
    EXPECT_EQ(page().errorText()->textFormat(), Qt::PlainText);
    QTest::mouseClick(page().errorCloseButton(), Qt::LeftButton);
    EXPECT_FALSE(model->errorMessage().has_value());
    EXPECT_FALSE(page().errorBanner()->isVisible());
}

TEST_F(Studio, OutputCardBeforeAnyResult) {
    EXPECT_EQ(card().body()->currentWidget(), card().placeholder());
    EXPECT_EQ(card().placeholderHint()->text(), "「右⌥」キーを長押しして話すか、音声ファイルをドロップしてください");
    EXPECT_FALSE(card().reinsertButton()->isEnabled());
    EXPECT_FALSE(card().copyButton()->isEnabled());
    EXPECT_EQ(card().reinsertButton()->text(), "再挿入 (⌥⇧V)");
    EXPECT_EQ(card().reinsertButton()->toolTip(), "直前のテキストを現在の入力欄に再挿入します (⌥⇧V)");
    EXPECT_FALSE(card().footer()->isVisible());
    EXPECT_FALSE(card().busyIndicator()->isVisible());
    EXPECT_FALSE(card().timingLabel()->isVisible());
    vm().setPushToTalkKey("left_option");
    EXPECT_EQ(card().placeholderHint()->text(), "「左⌥」キーを長押しして話すか、音声ファイルをドロップしてください");

    // A recording being transcribed shows the busy indicator.
    model->toggleManualRecording();
    model->toggleManualRecording();
    ASSERT_TRUE(model->isTranscribing());
    EXPECT_TRUE(card().busyIndicator()->isVisible());
}

TEST_F(Studio, NumbersKeepTheirDecimalPointUnderADecimalCommaLocale) {
    DecimalCommaLocale german;
    if (!german.active()) GTEST_SKIP() << "de_DE.UTF-8 is not installed (scripts/setup.sh adds it)";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 3.2);
    ASSERT_STREQ(probe, "3,2");  // the locale is really in force

    struct Case {
        double audio, ms;
        const char* summary;
    };
    for (const Case& c : {Case{12.34, 1234, "12.3秒の音声 · 1.23秒で処理 (10×)"},
                          Case{3.0, 0, "3.0秒の音声 · 0.00秒で処理 (0×)"},
                          Case{0.5, 2000, "0.5秒の音声 · 2.00秒で処理 (0×)"}})
        EXPECT_EQ(OutputCard::timingSummary(c.audio, c.ms), QString::fromUtf8(c.summary));
    struct Span {
        double start, end;
        const char* text;
    };
    for (const Span& s : {Span{1.5, 12.25, "01.50s – 12.25s"}, Span{0, 0.004, "00.00s – 00.00s"},
                          Span{75.125, 123.456, "75.13s – 123.46s"}})
        EXPECT_EQ(TimestampListModel::span(s.start, s.end), QString::fromUtf8(s.text));

    // The duration badge while recording.
    model->toggleManualRecording();
    scheduler.advance(std::chrono::milliseconds(3200));
    EXPECT_EQ(page().durationBadge()->text(), "3.2s");
}

TEST(OutputCardLabels, OnlyTheSixAutomaticReplacementKindsAreListedInOrder) {
    const std::vector<std::string> annotations = {
        "フィラー・言い淀み除去", "同音異義語補正: 機会→機械", "句読点自動挿入", "MIRK 文脈置換: 構成→校正",
        "音韻距離補正: ジェマ→Gemma", "EG2音響照合: CoreML", "文脈辞書補正: A", "オンデバイス文脈補正: B", "数字正規化"};
    EXPECT_EQ(OutputCard::autoReplaceLabels(annotations),
              QStringList({"同音異義語補正: 機会→機械", "MIRK 文脈置換: 構成→校正", "音韻距離補正: ジェマ→Gemma",
                           "EG2音響照合: CoreML", "文脈辞書補正: A", "オンデバイス文脈補正: B"}));
    EXPECT_TRUE(OutputCard::autoReplaceLabels({"フィラー・言い淀み除去"}).isEmpty());
}

}  // namespace
