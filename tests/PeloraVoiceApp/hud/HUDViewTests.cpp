#include "OffscreenApplication.h"

#include "PeloraVoiceApp/hud/HUDFloatingView.h"
#include "PeloraVoiceApp/hud/HUDPanel.h"
#include "PeloraVoiceApp/hud/HUDPillText.h"
#include "PeloraVoiceApp/hud/InstrumentCardModifier.h"
#include "PeloraVoiceApp/hud/OceanProcessingWaveView.h"
#include "PeloraVoiceApp/hud/OceanWaveformView.h"
#include "PeloraVoiceApp/hud/ShortcutKeycapBadge.h"
#include "PeloraVoiceApp/hud/SymbolIcon.h"
#include "PeloraVoiceApp/hud/UITheme.h"
#include "tests/support/ManualMainThreadScheduler.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QPainter>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QTextLayout>

#include <cmath>
#include <set>

using namespace std::chrono_literals;

namespace {

// Distance between two colours, channel by channel.
int colourDistance(QColor a, QColor b) {
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

// Every glyph of `text` in `font` (with Qt's font fallback) is a real glyph, not the
// "missing" box.
bool drawsEveryCharacter(const QFont& font, const QString& text) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    const auto runs = layout.glyphRuns();
    if (runs.isEmpty())
        return false;
    for (const QGlyphRun& run : runs)
        for (quint32 glyph : run.glyphIndexes())
            if (glyph == 0)
                return false;
    return true;
}

class HUDViewTest : public ::testing::Test {
protected:
    HUDViewTest() : panel((offscreenApplication(), scheduler)) {}

    // The pill's content as drawn (the panel's own shape is the desktop tests' business).
    QImage render() {
        QImage image(panel.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::magenta);
        panel.floatingView()->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        return image;
    }
    const HUDFloatingView::Layout& layout() { return panel.floatingView()->currentLayout(); }

    void record(std::optional<std::string> target = std::string("Editor"), bool locked = false) {
        panel.showRecording(1.25, 0.4f, "EG2", std::move(target), locked);
    }
    void complete(std::string text, bool direct = true) {
        panel.showCompleted(std::move(text), 1234.4, 12.6, "AX挿入", direct, "⌥⇧V");
    }

    ManualMainThreadScheduler scheduler;
    HUDPanel panel;
};

TEST_F(HUDViewTest, RecordingShowsTimeTargetOnlyWhenNamedAndBadgeOnlyWhenLocked) {
    struct Case {
        const char* name;
        std::optional<std::string> target;
        bool locked;
        bool showsTarget;
    };
    const Case cases[] = {
        {"no target", std::nullopt, false, false},
        {"empty name counts as none", std::string(), false, false},
        {"named target", std::string("テキストエディタ"), false, true},
        {"locked hands-free", std::string("Editor"), true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        record(c.target, c.locked);
        EXPECT_EQ(layout().timeText, QStringLiteral("1.2s"));  // 1.25 is exact; "%.1f" rounds half to even
        EXPECT_EQ(!layout().target.isEmpty(), c.showsTarget);
        EXPECT_EQ(!layout().handsFree.isEmpty(), c.locked);
        EXPECT_FALSE(layout().meter.isEmpty());
        EXPECT_TRUE(panel.floatingView()->meter()->isVisibleTo(&panel));
        EXPECT_FALSE(panel.floatingView()->processingWave()->isVisibleTo(&panel));
        // The capsule fits inside the panel's 8-pixel padding.
        EXPECT_TRUE(QRectF(8, 8, 504, 52).contains(layout().capsule)) << layout().capsule.width();
        panel.hideHUD();
    }
}

TEST_F(HUDViewTest, ResultLineIsOneLineCutAtTheTailWithin230) {
    struct Case {
        const char* name;
        std::string text;
        QString shown;  // empty: only check the cut
    };
    const Case cases[] = {
        {"only line breaks", "\n\n", QStringLiteral("↵ 改行")},
        {"two lines", "一行目\n二行目", QStringLiteral("一行目 ↵ 二行目")},
        {"very long", std::string(300, 'x') + "終わり", QString()},
        {"very long Japanese", "今日はとても良い天気なので散歩に出かけてから図書館で本を読んで夕方に帰ってきました", QString()},
        {"an hour's transcript", [] {
             std::string text;
             for (int i = 0; i < 700; ++i) text += "今日は晴れています。\n明日も試行錯誤しながら進めます。";
             return text;
         }(), QString()},
        {"thin glyphs and emoji for pages", [] {
             std::string text;
             for (int i = 0; i < 3000; ++i) text += i % 7 ? "il.|" : "😀";
             return text;
         }(), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        complete(c.text);
        const QFontMetricsF metrics(HUDFloatingView::resultFont());
        EXPECT_LE(metrics.horizontalAdvance(layout().resultText), 230.0);
        EXPECT_LE(layout().result.width(), 230.0);
        if (!c.shown.isEmpty()) {
            EXPECT_EQ(layout().resultText, c.shown);
        } else {
            EXPECT_TRUE(layout().resultText.endsWith(QChar(0x2026))) << layout().resultText.toStdString();
            EXPECT_GT(metrics.horizontalAdvance(layout().resultText), 200.0);
            // The same cut as the whole line's.
            EXPECT_EQ(layout().resultText, metrics.elidedText(QString::fromStdString(HUDPillText::resultLine(c.text)),
                                                              Qt::ElideRight, 230));
        }
        EXPECT_TRUE(QRectF(8, 8, 504, 52).contains(layout().capsule)) << layout().capsule.width();
    }
}

TEST_F(HUDViewTest, ResultShowsItsOutcomeFiguresReinsertBadgeAndTooltip) {
    struct Case {
        bool direct;
        const char* symbol;
        QColor colour;
    };
    for (const Case& c : {Case{true, "checkmark.circle.fill", UITheme::Ocean::success},
                          Case{false, "doc.on.clipboard.fill", UITheme::Ocean::cyan}}) {
        SCOPED_TRACE(c.symbol);
        complete("テスト", c.direct);
        EXPECT_EQ(layout().symbolName, QString::fromLatin1(c.symbol));
        EXPECT_EQ(layout().outcomeColour, c.colour);
        EXPECT_EQ(layout().borderSelected, c.direct);
        EXPECT_EQ(layout().latencyText, QStringLiteral("1234ms · 13×"));
        EXPECT_EQ(layout().reinsertText, QStringLiteral("再挿入 ⌥⇧V"));
        EXPECT_EQ(layout().tooltip, QStringLiteral("現在フォーカスされている入力欄にもう一度挿入します (⌥⇧V)"));
    }
}

TEST_F(HUDViewTest, TranscribingShowsTheWaveAndTheTargetLine) {
    panel.showTranscribing("EG2", std::string("メモ帳"));
    EXPECT_FALSE(layout().wave.isEmpty());
    EXPECT_EQ(layout().targetText, QStringLiteral("入力先: メモ帳"));
    EXPECT_TRUE(panel.floatingView()->processingWave()->isVisibleTo(&panel));
    EXPECT_FALSE(panel.floatingView()->meter()->isVisibleTo(&panel));
    panel.showTranscribing("EG2", std::string());
    EXPECT_TRUE(layout().targetLine.isEmpty());
}

TEST_F(HUDViewTest, JapaneseTextsHaveRealGlyphs) {
    const struct {
        QFont font;
        QString text;
    } texts[] = {
        {UITheme::roundedFont(12, QFont::DemiBold), QStringLiteral("文字起こし中…")},
        {UITheme::roundedFont(10, QFont::Medium), QStringLiteral("入力先: テキストエディタ")},
        {UITheme::roundedFont(10, QFont::Bold), QStringLiteral("ハンズフリー")},
        {HUDFloatingView::resultFont(), QStringLiteral("↵ 改行")},
        {HUDFloatingView::resultFont(), QStringLiteral("一行目 ↵ 二行目…")},
        {UITheme::roundedFont(11, QFont::Bold), QStringLiteral("再挿入 ⌥⇧V")},
        {UITheme::monospacedFont(10, QFont::DemiBold), QStringLiteral("1234ms · 13×")},
        {UITheme::roundedFont(10.5, QFont::Bold), QStringLiteral("AX挿入")},
    };
    for (const auto& t : texts) {
        SCOPED_TRACE(t.text.toStdString());
        EXPECT_TRUE(drawsEveryCharacter(t.font, t.text));
    }
}

TEST_F(HUDViewTest, FontsAreSizedInPixels) {
    struct Case {
        QFont font;
        double pixels;
    };
    for (const Case& c : {Case{UITheme::roundedFont(13, QFont::Bold), 13}, Case{UITheme::roundedFont(10.5), 10.5},
                          Case{HUDFloatingView::resultFont(), 12.5}, Case{UITheme::monospacedFont(10), 10}}) {
        SCOPED_TRACE(c.pixels);
        const QFontInfo info(c.font);
        EXPECT_NEAR(QFontMetricsF(c.font).height(), QFontMetricsF(UITheme::roundedFont(c.pixels)).height(), 0.01);
        EXPECT_NEAR(info.pixelSize(), c.pixels, 0.51);
    }
}

TEST_F(HUDViewTest, PaintsTheLightInItsColourAndTheOutcomeSymbol) {
    struct Case {
        const char* name;
        bool locked;
        QColor light;
    };
    for (const Case& c : {Case{"recording", false, UITheme::Ocean::accent}, Case{"locked", true, UITheme::Ocean::cyan}}) {
        SCOPED_TRACE(c.name);
        record(std::nullopt, c.locked);
        const QImage image = render();
        const QPoint centre = layout().light.center().toPoint();
        EXPECT_LE(colourDistance(image.pixelColor(centre), c.light), 2);
        // Beside the capsule, nothing of the pill is drawn.
        EXPECT_EQ(image.pixelColor(2, 2), QColor(Qt::magenta));
    }
    for (bool direct : {true, false}) {
        SCOPED_TRACE(direct ? "direct" : "pasteboard");
        complete("x", direct);
        const QImage image = render();
        // A solid part of either symbol (upper left, off the cut-outs): its colour.
        const QRectF s = layout().symbol;
        const QPoint probe(int(s.left() + s.width() * 0.25), int(s.top() + s.height() * 0.35));
        const QColor expected = direct ? UITheme::Ocean::success : UITheme::Ocean::cyan;
        EXPECT_LE(colourDistance(image.pixelColor(probe), expected), 24) << image.pixelColor(probe).name().toStdString();
    }
}

TEST_F(HUDViewTest, ButtonsOnlyWorkInCompletedAndCallTheirCallbacksOnce) {
    int reinserts = 0;
    panel.stateModel().onReinsertRequested = [&] { ++reinserts; };
    auto click = [&](QPointF at) {
        QWidget* view = panel.floatingView();
        QMouseEvent press(QEvent::MouseButtonPress, at, view->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, {});
        QMouseEvent release(QEvent::MouseButtonRelease, at, view->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, {});
        QCoreApplication::sendEvent(view, &press);
        QCoreApplication::sendEvent(view, &release);
    };
    complete("x");
    const QPointF reinsert = layout().reinsert.center();
    const QPointF close = layout().close.center();
    click(reinsert);
    EXPECT_EQ(reinserts, 1);
    EXPECT_FALSE(panel.stateModel().mode().isHidden());
    click(layout().capsule.topLeft() + QPointF(20, 5));  // not on a button
    EXPECT_EQ(reinserts, 1);
    click(close);
    EXPECT_TRUE(panel.stateModel().mode().isHidden());
    EXPECT_TRUE(panel.ignoresMouseEvents());
    record();
    click(reinsert);
    EXPECT_EQ(reinserts, 1);
}

TEST(OceanWaveformViewTest, TwelveLevelsFromOneLevel) {
    offscreenApplication();
    struct Case {
        const char* name;
        float level;
        bool recording;
        bool locked;
        float first;
        float middle;  // the fifth weight is 1.0
    };
    const Case cases[] = {
        {"recording at 0.5", 0.5f, true, false, 0.175f, 0.5f},
        {"not recording", 0.9f, false, false, 0.1f, 0.1f},
        {"locked lifts every bar", 0.5f, true, true, 0.235f, 0.56f},
        {"locked, not recording", 0.5f, false, true, 0.1f, 0.14f},
        {"loud clamps to 1", 5.0f, true, false, 0.35f, 1.0f},
        {"silence floors at 0.1", 0.0f, true, false, 0.1f, 0.1f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto levels = OceanWaveformView::levelsFor(c.level, c.recording, c.locked);
        ASSERT_EQ(levels.size(), 12u);
        EXPECT_NEAR(levels[0], c.first, 1e-6);
        EXPECT_NEAR(levels[4], c.middle, 1e-6);
        for (float v : levels) {
            EXPECT_GE(v, 0.1f);
            EXPECT_LE(v, 1.0f);
        }
    }
    OceanWaveformView view(0.5f, true, false);
    EXPECT_EQ(view.levels().size(), 12u);
    EXPECT_EQ(view.barWidth(), 3.0);
    EXPECT_EQ(view.spacing(), 2.5);
    EXPECT_EQ(view.maxHeight(), 26.0);
}

TEST(OceanWaveformViewTest, BarHeights) {
    struct Case {
        const char* name;
        std::size_t index, count;
        float level;
        double maxHeight, expected;
    };
    const Case cases[] = {
        {"level 0 still 4 high", 7, 16, 0.0f, 24, 4},
        {"floor of 0.1 before the minimum", 7, 16, 0.1f, 100, 0.1 * 100 * (1 - 0.35 * 0.5 / 8)},
        {"one bar has factor 1", 0, 1, 1.0f, 24, 24},
        {"outermost of 16", 0, 16, 1.0f, 24, 24 * (1 - 0.35 * 7.5 / 8)},
        {"last of 16 mirrors the first", 15, 16, 1.0f, 24, 24 * (1 - 0.35 * 7.5 / 8)},
        {"middle of 16", 8, 16, 1.0f, 24, 24 * (1 - 0.35 * 0.5 / 8)},
        {"above 1 clamps", 8, 16, 3.0f, 24, 24 * (1 - 0.35 * 0.5 / 8)},
        {"two bars", 1, 2, 1.0f, 20, 20 * (1 - 0.35 * 0.5 / 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(OceanWaveformView::barHeight(c.index, c.count, c.level, c.maxHeight), c.expected, 1e-5);
    }
    // With 16 bars the outermost reach about two thirds of the middle ones.
    EXPECT_NEAR(OceanWaveformView::barHeight(0, 16, 1, 24) / OceanWaveformView::barHeight(7, 16, 1, 24), 0.687, 0.01);
}

// A change of levels eases out (not a jump) and arrives; nobody watching means no ease,
// and hiding a running ease lands it at once with no frames left to come.
TEST(OceanWaveformViewTest, LevelsEaseOutAndArriveOrJumpWhenHidden) {
    offscreenApplication();
    QWidget window;
    const std::vector<float> quiet(16, 0.1f), loud(16, 0.9f);
    auto* meter = new OceanWaveformView(quiet, 3, 2.5, 24, &window);
    auto settle = [&] {
        QElapsedTimer clock;
        clock.start();
        while (meter->isEasing() && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    };

    meter->setLevels(loud);  // not shown yet
    EXPECT_EQ(meter->shownLevels(), loud);
    EXPECT_FALSE(meter->isEasing());

    window.show();
    meter->setLevels(quiet);
    EXPECT_TRUE(meter->isEasing());
    EXPECT_EQ(meter->shownLevels(), loud);  // starts where it was
    settle();
    EXPECT_FALSE(meter->isEasing());
    EXPECT_EQ(meter->shownLevels(), quiet);

    // Updates faster than the ease: each starts where the last had got to, never beyond.
    for (int i = 0; i < 5; ++i) {
        meter->setLevels(i % 2 ? quiet : loud);
        for (float v : meter->shownLevels()) {
            EXPECT_GE(v, 0.1f - 1e-6f);
            EXPECT_LE(v, 0.9f + 1e-6f);
        }
        QCoreApplication::processEvents();
    }
    settle();
    EXPECT_EQ(meter->shownLevels(), loud);

    meter->setLevels(quiet);
    window.hide();
    EXPECT_FALSE(meter->isEasing());
    EXPECT_EQ(meter->shownLevels(), quiet);
}

// The wave is drawn from frames of its cycle: the frame for a time repeats every cycle,
// and what the view paints is the wave of its frame's time.
TEST(OceanProcessingWaveViewTest, DrawsTheFrameOfItsCycle) {
    offscreenApplication();
    const double cycle = OceanProcessingWaveView::cycleSeconds();
    std::set<int> seen;
    for (int k = 0; k < 400; ++k) {
        const double t = 1000 + cycle * k / 400;
        const int frame = OceanProcessingWaveView::frameAt(t);
        ASSERT_GE(frame, 0);
        ASSERT_LT(frame, OceanProcessingWaveView::framesPerCycle);
        EXPECT_EQ(OceanProcessingWaveView::frameAt(t + 7 * cycle), frame);
        seen.insert(frame);
    }
    EXPECT_EQ(int(seen.size()), OceanProcessingWaveView::framesPerCycle);
    EXPECT_GE(OceanProcessingWaveView::framesPerCycle / cycle, 29.0);  // 30 frames a second of motion
    EXPECT_EQ(OceanProcessingWaveView::frameAt(-cycle / 2), OceanProcessingWaveView::frameAt(cycle / 2));

    OceanProcessingWaveView wave;
    const QSize size = OceanProcessingWaveView::canvasSize;
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int before = OceanProcessingWaveView::frameAt(OceanProcessingWaveView::timelineSeconds());
        QImage drawn(size, QImage::Format_ARGB32_Premultiplied);
        drawn.fill(Qt::transparent);
        wave.render(&drawn, QPoint(), QRegion(), QWidget::RenderFlags());
        if (OceanProcessingWaveView::frameAt(OceanProcessingWaveView::timelineSeconds()) != before)
            continue;  // the frame moved on while drawing
        QImage expected(size, QImage::Format_ARGB32_Premultiplied);
        expected.fill(Qt::transparent);
        {
            QPainter painter(&expected);
            OceanProcessingWaveView::paintWave(painter, QRectF(QPointF(), QSizeF(size)),
                                               before * cycle / OceanProcessingWaveView::framesPerCycle);
        }
        int differing = 0, ink = 0;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                differing += colourDistance(drawn.pixelColor(x, y), expected.pixelColor(x, y)) > 8 ? 1 : 0;
                ink += qAlpha(drawn.pixel(x, y)) > 128 ? 1 : 0;
            }
        EXPECT_EQ(differing, 0);
        EXPECT_GT(ink, 56);  // a stroke across the whole width
        return;
    }
    FAIL() << "the wave's frame kept moving while it was drawn";
}

TEST(OceanProcessingWaveViewTest, AnimatesOnlyWhileVisibleAndStaysInsideItsCanvas) {
    offscreenApplication();
    QWidget window;
    auto* wave = new OceanProcessingWaveView(&window);
    EXPECT_EQ(wave->size(), QSize(56, 20));
    EXPECT_EQ(wave->phase(), 0.0);
    EXPECT_FALSE(wave->isAnimating());
    window.show();
    EXPECT_TRUE(wave->isAnimating());
    EXPECT_GE(OceanProcessingWaveView::frameIntervalMs, 1000 / 30);
    window.hide();
    EXPECT_FALSE(wave->isAnimating());
    for (double t : {0.0, 0.37, 123456.789})
        for (int x = 0; x <= 56; ++x) {
            const double y = OceanProcessingWaveView::waveY(x, 56, 20, t);
            EXPECT_GE(y, 10 - 7.2 - 1e-9);
            EXPECT_LE(y, 10 + 7.2 + 1e-9);
        }
    // The amplitude falls to zero at both ends.
    EXPECT_NEAR(OceanProcessingWaveView::waveY(0, 56, 20, 1.0), 10, 1e-9);
    EXPECT_NEAR(OceanProcessingWaveView::waveY(56, 56, 20, 1.0), 10, 1e-9);
}

TEST(ShortcutKeycapBadgeTest, TokensAreJoinedWithSingleSpaces) {
    offscreenApplication();
    ShortcutKeycapBadge badge(QStringList{QStringLiteral("⌥"), QStringLiteral("⇧"), QStringLiteral("V")}, true);
    EXPECT_EQ(badge.text(), QStringLiteral("⌥ ⇧ V"));
    EXPECT_TRUE(badge.isHighlighted());
    EXPECT_GT(badge.sizeHint().width(), 14);
}

TEST(InstrumentCardTest, PadsItsContentBySixteen) {
    offscreenApplication();
    auto* label = new QLabel(QStringLiteral("設定"));
    std::unique_ptr<InstrumentCardModifier> card(instrumentCard(label, true));
    card->resize(200, 100);
    card->show();
    EXPECT_EQ(label->parentWidget(), card.get());
    EXPECT_EQ(label->geometry().topLeft(), QPoint(16, 16));
    EXPECT_TRUE(card->isHighlighted());
}

TEST(SymbolIconTest, EverySymbolOfThePillExistsAndDrawsInItsColour) {
    offscreenApplication();
    for (const char* name : {"arrow.right.circle.fill", "checkmark.circle.fill", "doc.on.clipboard.fill",
                             "arrow.uturn.forward.circle.fill", "xmark"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(SymbolIcon::exists(QString::fromLatin1(name)));
        const QImage image = SymbolIcon::image(QString::fromLatin1(name), 24, Qt::red);
        int inked = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (pixel.alpha() == 255) {
                    ++inked;
                    EXPECT_EQ(pixel.rgb(), QColor(Qt::red).rgb());
                }
            }
        EXPECT_GT(inked, 40);
    }
    EXPECT_FALSE(SymbolIcon::exists(QStringLiteral("no.such.symbol")));
}

} // namespace
