// The sidebar over the real controller: the footer's status line (one line, the whole text
// as tooltip), its dot and the key hints; the history section absent while there is none.
#include "tests/PeloraVoiceApp/window/desktop/WindowFixture.h"

#include "PeloraVoiceApp/hud/UITheme.h"
#include "PeloraVoiceApp/window/ElidedLabel.h"
#include "PeloraVoiceApp/window/MainWorkspaceView.h"
#include "PeloraVoiceApp/window/SidebarView.h"
#include "PeloraVoiceApp/window/WindowStyle.h"

#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QTest>

using namespace pelora;
using namespace pelora::window_testing;

namespace {

class Sidebar : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        if (IsSkipped()) return;
        app->start();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
    }
    SidebarView& sidebar() { return *app->mainWindow().sidebar(); }
    QColor dotColour() {
        const QImage dot = sidebar().statusDot()->pixmap().toImage();
        return dot.pixelColor(dot.width() / 2, dot.height() / 2);
    }
};

TEST_F(Sidebar, FooterStatusIsOneElidedLineWithTheWholeTextAsTooltip) {
    engine->buildFailure = std::string(
        "日本語音声モデルを読み込めませんでした。モデルのフォルダを確認するか、環境変数で別のモデルファイルを指定してから、"
        "もう一度お試しください。詳しい理由: ") + std::string(200, 'x');
    // Loading: orange.
    ASSERT_TRUE(model->isLoadingEngine());
    EXPECT_EQ(dotColour().rgb(), QColor::fromRgbF(1.0f, 0.58f, 0.0f).rgb());
    workers.runAll();
    scheduler.runPosted();
    ASSERT_FALSE(model->isLoadingEngine());

    ElidedLabel* status = sidebar().statusLabel();
    const QString full = QString::fromStdString(model->engineStatusText());
    EXPECT_EQ(status->fullText(), full);
    EXPECT_EQ(status->toolTip(), full);
    EXPECT_TRUE(status->text().endsWith(QStringLiteral("…"))) << status->text().toStdString();
    EXPECT_LE(status->width(), sidebar().width());
    EXPECT_LE(sidebar().width(), 270);
    EXPECT_LE(status->fontMetrics().horizontalAdvance(status->text()), status->contentsRect().width());
    EXPECT_NE(dotColour().rgb(), UITheme::Ocean::success.rgb());
}

TEST_F(Sidebar, DotTurnsGreenOnceLoadedAndKeyHintsFollowTheSettings) {
    workers.runAll();
    scheduler.runPosted();
    ASSERT_TRUE(model->isEngineLoaded());
    EXPECT_EQ(dotColour().rgb(), UITheme::Ocean::success.rgb());
    EXPECT_EQ(sidebar().statusLabel()->fullText(), "準備完了");
    EXPECT_EQ(sidebar().pushToTalkHint()->text(), "右⌥");
    EXPECT_EQ(sidebar().reinsertHint()->text(), "⌥⇧V");
    vm().setPushToTalkKey("right_control");
    vm().setReinsertShortcutPreset("control_shift_p");
    EXPECT_EQ(sidebar().pushToTalkHint()->text(), "右⌃");
    EXPECT_EQ(sidebar().reinsertHint()->text(), "⌃⇧P");
}

TEST_F(Sidebar, NoHistorySectionWithoutHistory) {
    EXPECT_FALSE(sidebar().historyHeader()->isVisible());
    EXPECT_FALSE(sidebar().historyList()->isVisible());
    EXPECT_EQ(sidebar().historyList()->count(), 0);
}

TEST(LineForEliding, ElidesLongTextsExactlyAsTheWholeText) {
    desktopApplication();
    QString japanese, ascii, emoji;
    while (japanese.size() < 60'000) japanese += QStringLiteral("今日は会議の資料を確認しました。");
    while (ascii.size() < 30'000) ascii += QStringLiteral("word il ");
    for (int i = 0; i < 2'000; ++i) emoji += QStringLiteral("i😀");
    const QString texts[] = {japanese, ascii, emoji, QStringLiteral("短い"), QString(), QString(300, QChar(' ')) + japanese};
    const QFont fonts[] = {window_style::font(12), window_style::font(11, QFont::Medium), window_style::font(16)};
    for (const QFont& font : fonts) {
        const QFontMetrics metrics(font);
        for (const QString& text : texts) {
            for (int width : {0, 1, 7, 50, 200, 270, 600}) {
                SCOPED_TRACE(::testing::Message() << "width " << width << ", " << text.size() << " characters");
                EXPECT_EQ(metrics.elidedText(ElidedLabel::lineForEliding(text, width), Qt::ElideRight, width),
                          metrics.elidedText(text, Qt::ElideRight, width));
            }
        }
    }
    // Zero-width marks after one letter: the cut still shows and stays in the width.
    const QString marks = QStringLiteral("a") + QString(5'000, QChar(0x0301)) + QStringLiteral("tail");
    const QFontMetrics metrics(window_style::font(12));
    const QString shown = metrics.elidedText(ElidedLabel::lineForEliding(marks, 100), Qt::ElideRight, 100);
    EXPECT_TRUE(shown.endsWith(QStringLiteral("…"))) << shown.toStdString();
    EXPECT_LE(metrics.horizontalAdvance(shown), 100);
}

}  // namespace
