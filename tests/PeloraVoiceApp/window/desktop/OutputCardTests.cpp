// The output card with real results: dictations whose recogniser is scripted and whose
// correction stages are the engine's own, shown in the three tabs with their status,
// footer and placeholder; copying through the X11 clipboard, read back by xclip; the tabs,
// buttons and lists reached and moved with the keyboard.
#include "tests/PeloraVoiceApp/window/desktop/WindowFixture.h"

#include "PeloraVoiceApp/window/MainWorkspaceView.h"
#include "PeloraVoiceApp/window/OutputCard.h"
#include "PeloraVoiceApp/window/StudioPage.h"
#include "PeloraVoiceApp/window/TimestampListModel.h"
#include "tests/support/RunCommand.h"

#include <QLabel>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTabBar>
#include <QTest>
#include <QTextEdit>

using namespace pelora;
using namespace pelora::window_testing;
using pelora::testing::runCommand;

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

class OutputCardResults : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        if (IsSkipped()) return;
        app->start();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
        settle();  // the boot of the first showing
    }
    OutputCard& card() { return *app->mainWindow().studioPage()->outputCard(); }

    // One manual dictation whose recogniser answers `spoken`; the transcription is left
    // held so that the test sees the card while it runs.
    void recordHeld(const std::string& spoken) {
        engine->speech->text = spoken;
        model->toggleManualRecording();
        model->toggleManualRecording();
        ASSERT_TRUE(model->isTranscribing());
    }
    void dictate(const std::string& spoken) {
        recordHeld(spoken);
        settle();
        ASSERT_FALSE(model->isTranscribing());
        ASSERT_TRUE(model->currentResult().has_value());
    }
    static std::string clipboardText() {
        const auto read = runCommand({"xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING"}, {}, 20s);
        EXPECT_EQ(read.exitCode, 0) << read.err;
        return read.out;
    }
};

TEST_F(OutputCardResults, ADictationFillsTheTabsStatusAndFooter) {
    recordHeld("えーと今日は晴れです。明日は雨が降るでしょう。");
    // While it is recognised: the indicator, no timing, the placeholder still there.
    EXPECT_TRUE(card().busyIndicator()->isVisible());
    EXPECT_FALSE(card().timingLabel()->isVisible());
    EXPECT_EQ(card().body()->currentWidget(), card().placeholder());
    settle();

    const TranscriptionResult& result = *model->currentResult();
    ASSERT_FALSE(result.text.empty());
    EXPECT_EQ(result.text.find("えーと"), std::string::npos) << "the engine's own stages ran: " << result.text;
    EXPECT_FALSE(card().busyIndicator()->isVisible());
    ASSERT_TRUE(card().timingLabel()->isVisible());
    EXPECT_EQ(card().timingLabel()->text(), OutputCard::timingSummary(result.telemetry.audioDurationSeconds,
                                                                       result.telemetry.totalProcessingMs));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^1\\.0秒の音声 · \\d+\\.\\d\\d秒で処理 \\(\\d+×\\)$"))
                    .match(card().timingLabel()->text())
                    .hasMatch())
        << card().timingLabel()->text().toStdString();

    // Text tab: the final text.
    EXPECT_NE(card().body()->currentWidget(), card().placeholder());
    EXPECT_EQ(card().formattedText()->toPlainText(), qs(result.text));
    EXPECT_TRUE(card().formattedText()->isVisible());

    // Timestamps tab: one row per word, in order, with its span.
    card().tabs()->setCurrentIndex(1);
    EXPECT_EQ(model->selectedOutputTab(), OutputTab::timestamps);
    ASSERT_FALSE(result.words.empty());
    QListView* list = card().timestampList();
    EXPECT_TRUE(list->isVisible());
    while (list->model()->canFetchMore({})) list->model()->fetchMore({});
    ASSERT_EQ(list->model()->rowCount(), static_cast<int>(result.words.size()));
    for (int row = 0; row < list->model()->rowCount(); ++row) {
        const TranscribedWord& word = result.words[static_cast<std::size_t>(row)];
        const QModelIndex index = list->model()->index(row, 0);
        EXPECT_EQ(index.data().toString(), qs(word.text)) << row;
        EXPECT_EQ(index.data(TimestampListModel::spanRole).toString(), TimestampListModel::span(word.start, word.end));
    }

    // SRT tab: the engine's rendering.
    card().tabs()->setCurrentIndex(2);
    EXPECT_EQ(model->selectedOutputTab(), OutputTab::srt);
    EXPECT_TRUE(card().srtText()->isVisible());
    EXPECT_EQ(card().srtText()->toPlainText(), qs(result.formattedSRT()));
    EXPECT_TRUE(card().srtText()->toPlainText().startsWith(QStringLiteral("1\n00:00:00,000 --> ")))
        << card().srtText()->toPlainText().toStdString();

    // The insertion's outcome and the hint in the footer; reinsert and copy enabled.
    ASSERT_TRUE(model->lastInjectionOutcome().has_value());
    EXPECT_TRUE(card().footer()->isVisible());
    EXPECT_EQ(card().outcomeText()->text(), qs(model->lastInjectionOutcome()->summaryBadge()));
    EXPECT_EQ(card().outcomeIcon()->property("symbol").toString(), "checkmark.circle.fill");
    EXPECT_EQ(card().footerHint()->text(), "入れ損ねた時は、入力欄をクリックして ⌥⇧V でいつでも再挿入できます");
    EXPECT_TRUE(card().reinsertButton()->isEnabled());
    EXPECT_TRUE(card().copyButton()->isEnabled());

    // A later recording shows the indicator over the older result.
    recordHeld("次の文です。");
    EXPECT_TRUE(card().busyIndicator()->isVisible());
    EXPECT_FALSE(card().timingLabel()->isVisible());
    EXPECT_EQ(card().srtText()->toPlainText(), qs(result.formattedSRT()));
    settle();
}

TEST_F(OutputCardResults, FooterIconFollowsTheOutcomeAndEmptyResultsSayNothingWasFound) {
    struct Case {
        const char* what;
        std::optional<TextInjectionOutcome> outcome;
        const char* symbol;
    };
    const Case cases[] = {
        {"inserted by typing", TextInjectionOutcome::injectedViaUnicodeTyping("Editor"), "checkmark.circle.fill"},
        {"left on the clipboard", TextInjectionOutcome::copiedToClipboardFallback("入力欄が見つかりません"),
         "info.circle.fill"},
        {"skipped", TextInjectionOutcome::skipped("重複"), "info.circle.fill"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        paster.outcome = c.outcome;
        dictate("今日は晴れです。");
        ASSERT_TRUE(model->lastInjectionOutcome().has_value());
        EXPECT_EQ(card().outcomeIcon()->property("symbol").toString(), QString::fromUtf8(c.symbol));
        EXPECT_EQ(card().outcomeText()->text(), qs(c.outcome->summaryBadge()));
        EXPECT_TRUE(card().outcomeIcon()->isVisible());
    }

    // A recognition that found nothing: every tab says so.
    dictate("");
    ASSERT_TRUE(model->currentResult()->text.empty());
    card().tabs()->setCurrentIndex(0);
    EXPECT_EQ(card().formattedText()->toPlainText(), "(音声が検出されませんでした)");
    card().tabs()->setCurrentIndex(2);
    if (model->currentResult()->formattedSRT().empty()) {
        EXPECT_EQ(card().srtText()->toPlainText(), "(SRTデータなし)");
    }
    card().tabs()->setCurrentIndex(1);
    if (model->currentResult()->words.empty()) {
        EXPECT_TRUE(card().noTimestamps()->isVisible());
        EXPECT_EQ(card().noTimestamps()->text(), "タイムスタンプ情報がありません");
    }
}

TEST_F(OutputCardResults, EachTabShowsTheNewestResultWhenItIsChosen) {
    auto shown = [&](int tab) {
        card().tabs()->setCurrentIndex(tab);
        switch (tab) {
            case 0: return card().formattedText()->toPlainText().toStdString();
            case 1: return card().timestampModel()->rowCount() > 0
                               ? card().timestampModel()->index(0, 0).data().toString().toStdString()
                               : std::string();
            default: return card().srtText()->toPlainText().toStdString();
        }
    };
    // Results arriving while each tab in turn is shown; every tab then shows the last one.
    const char* spoken[] = {"最初の結果です。", "二番目の結果です。", "三番目の結果です。"};
    for (int tab = 0; tab < 3; ++tab) {
        card().tabs()->setCurrentIndex((tab + 2) % 3);
        dictate(spoken[tab]);
        const TranscriptionResult& result = *model->currentResult();
        for (int other : {(tab + 2) % 3, tab, (tab + 1) % 3}) {
            SCOPED_TRACE(::testing::Message() << "result " << tab << ", tab " << other);
            const std::string expected = other == 0   ? result.text
                                         : other == 1 ? result.words.at(0).text
                                                      : result.formattedSRT();
            EXPECT_EQ(shown(other), expected);
        }
    }
}

TEST_F(OutputCardResults, ALongResultIsShownWholeAndANewerOneArrivingFirstWins) {
    std::string sentences;
    while (sentences.size() < 30'000) sentences += "今日は会議の資料を確認しました。";
    dictate(sentences);
    const std::string longText = model->currentResult()->text;
    ASSERT_GT(longText.size(), 20'000u);
    EXPECT_TRUE(spinUntil([&] { return card().formattedText()->toPlainText() == qs(longText); }, 10s));

    // Another long result, then a short one before the loop has turned: the short one shows.
    dictate(sentences + "追加の文。");
    dictate("短い結果です。");
    spinFor(200ms);
    EXPECT_EQ(card().formattedText()->toPlainText(), qs(model->currentResult()->text));
    card().tabs()->setCurrentIndex(2);
    EXPECT_EQ(card().srtText()->toPlainText(), qs(model->currentResult()->formattedSRT()));
}

TEST_F(OutputCardResults, CopyPutsTheShownTextOnTheClipboardForOtherApplications) {
    paster.outcome = TextInjectionOutcome::injectedViaAX("Editor");
    dictate("会議は三時からです。");
    const std::string text = model->currentResult()->text;
    ASSERT_FALSE(text.empty());
    QTest::mouseClick(card().copyButton(), Qt::LeftButton);
    EXPECT_EQ(clipboardText(), text);

    // An older history entry selected: the card and the copy follow it.
    dictate("資料は明日送ります。");
    ASSERT_EQ(model->history().size(), 2u);
    ASSERT_NE(model->currentResult()->text, text);
    vm().selectHistoryEntry(qs(model->history()[1].id));
    EXPECT_EQ(card().formattedText()->toPlainText(), qs(text));
    QTest::mouseClick(card().copyButton(), Qt::LeftButton);
    EXPECT_EQ(clipboardText(), text);
}

TEST_F(OutputCardResults, KeyboardReachesTheTabsButtonsAndListsAndArrowsMoveThem) {
    dictate("一つ目の文です。二つ目の文です。三つ目の文です。");
    app->mainWindow().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&app->mainWindow()));

    // Keys may reach a widget only after a round trip over the accessibility bus (Qt routes
    // them through it while any client there listens for events), so each step waits for
    // its effect.
    auto press = [](QWidget* widget, Qt::Key key, const std::function<bool()>& effect) {
        QTest::keyClick(widget, key);
        return spinUntil(effect, 5s);
    };

    // Arrows move between the tabs, and the controller follows.
    QTabBar* tabs = card().tabs();
    tabs->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(tabs->hasFocus());
    EXPECT_TRUE(press(tabs, Qt::Key_Right, [&] { return model->selectedOutputTab() == OutputTab::timestamps; }));
    EXPECT_TRUE(card().timestampList()->isVisible());
    EXPECT_TRUE(press(tabs, Qt::Key_Right, [&] { return model->selectedOutputTab() == OutputTab::srt; }));
    EXPECT_TRUE(press(tabs, Qt::Key_Left, [&] { return model->selectedOutputTab() == OutputTab::timestamps; }));

    // Tab from the tab bar reaches reinsert, copy and then the list.
    std::vector<QWidget*> reached;
    for (int step = 0; step < 8; ++step) {
        QWidget* from = QApplication::focusWidget();
        ASSERT_TRUE(press(from, Qt::Key_Tab, [&] { return QApplication::focusWidget() != from; })) << step;
        reached.push_back(QApplication::focusWidget());
    }
    auto position = [&](QWidget* widget) { return std::find(reached.begin(), reached.end(), widget) - reached.begin(); };
    const auto reinsertAt = position(card().reinsertButton());
    const auto copyAt = position(card().copyButton());
    const auto listAt = position(card().timestampList());
    ASSERT_LT(reinsertAt, 8);
    ASSERT_LT(copyAt, 8);
    ASSERT_LT(listAt, 8);
    EXPECT_LT(reinsertAt, copyAt);
    EXPECT_LT(copyAt, listAt);

    // Arrows move through the timestamp rows.
    QListView* list = card().timestampList();
    ASSERT_GE(list->model()->rowCount(), 2);
    list->setFocus(Qt::TabFocusReason);
    list->setCurrentIndex(list->model()->index(0, 0));
    EXPECT_TRUE(press(list, Qt::Key_Down, [&] { return list->currentIndex().row() == 1; }));
    EXPECT_TRUE(press(list, Qt::Key_Up, [&] { return list->currentIndex().row() == 0; }));

    // Space on the focused copy button copies.
    const std::string text = model->currentResult()->text;
    card().copyButton()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(card().copyButton(), Qt::Key_Space);
    EXPECT_TRUE(spinUntil([&] { return clipboardText() == text; }, 10s));
}

}  // namespace
