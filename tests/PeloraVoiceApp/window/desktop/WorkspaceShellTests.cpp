// The main window's shell and the tray menu over the real controller: titles and enabling
// that follow the controller, the permission button and sheet, the mode menu, the notice
// line, and bringing the window back from hidden or behind another window.
#include "tests/PeloraVoiceApp/window/desktop/WindowFixture.h"

#include "PeloraVoiceApp/window/CardFrame.h"
#include "PeloraVoiceApp/window/MainWorkspaceView.h"
#include "PeloraVoiceApp/window/MenuBarExtra.h"
#include "PeloraVoiceApp/window/SidebarView.h"
#include "PeloraVoiceApp/window/StatusNoticeLine.h"
#include "PeloraVoiceApp/window/StudioPage.h"

#include <QAction>
#include <QActionGroup>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QSplitter>
#include <QStackedWidget>
#include <QSystemTrayIcon>
#include <QTest>
#include <QToolButton>

using namespace pelora;
using namespace pelora::window_testing;

namespace {

class WorkspaceShell : public WindowFixture {
protected:
    MainWorkspaceView& window() { return app->mainWindow(); }
    MenuBarExtra& tray() { return app->menuBarExtra(); }

    void startAndWaitActive() {
        app->start();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
        window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    }
    // The boot the first showing started, run to its end.
    void finishBoot() {
        workers.runAll();
        scheduler.runPosted();
    }
    std::vector<QString> trayTexts() {
        std::vector<QString> texts;
        for (QAction* action : tray().menu()->actions()) texts.push_back(action->isSeparator() ? QStringLiteral("—") : action->text());
        return texts;
    }
};

TEST_F(WorkspaceShell, WindowOpensAtItsSizesWithTheSidebarWithinItsBounds) {
    startAndWaitActive();
    EXPECT_EQ(window().windowTitle(), "PeloraVoice 2");
    EXPECT_EQ(window().minimumSize(), QSize(880, 580));
    EXPECT_EQ(window().size(), QSize(1020, 680));
    const int sidebar = window().splitter()->sizes().at(0);
    EXPECT_GE(sidebar, 220);
    EXPECT_LE(sidebar, 270);
    // At the smallest size the sidebar keeps its minimum.
    window().resize(880, 580);
    spinUntil([&] { return window().size() == QSize(880, 580); });
    EXPECT_GE(window().sidebar()->width(), 220);
    // The rules and shortcuts pages scroll as a whole, the studio does not.
    EXPECT_NE(window().rulesScroll(), nullptr);
    EXPECT_NE(window().shortcutsScroll(), nullptr);
    EXPECT_EQ(qobject_cast<QScrollArea*>(window().studioPage()->parentWidget()), nullptr);
}

TEST_F(WorkspaceShell, FileMenuAndTrayMenuTitlesFollowRecordingAndKeys) {
    startAndWaitActive();
    EXPECT_EQ(window().fileMenu()->title(), "ファイル");
    EXPECT_EQ(window().openFileAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_EQ(window().recordAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    EXPECT_EQ(window().quitAction()->text(), "PeloraVoice 2 を終了");
    EXPECT_EQ(window().quitAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));

    const std::vector<QString> idle = {
        "PeloraVoice 2", "○ 準備中...", "—", "● 音声入力を開始 (右⌥)", "↩ 直前のテキストを再挿入 (⌥⇧V)",
        "音声ファイルを開く...", "—", "Push-to-Talk (右 Option (⌥ Right))", "フォーカス欄へ自動挿入", "—",
        "メインウィンドウを表示", "設定を開く...", "—", "PeloraVoice 2 を終了"};
    EXPECT_EQ(trayTexts(), idle);
    EXPECT_EQ(window().recordAction()->text(), "マイク音声入力を開始");
    EXPECT_STREQ(tray().iconName(), "waveform.circle.fill");

    // Ctrl+R starts a recording: every title and the tray icon switch, and back again.
    QTest::keyClick(&window(), Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(model->isRecording());
    EXPECT_EQ(window().recordAction()->text(), "音声入力を完了");
    EXPECT_EQ(tray().recordItem()->text(), "■ 録音を停止して挿入");
    EXPECT_STREQ(tray().iconName(), "record.circle.fill");
    tray().recordItem()->trigger();
    EXPECT_FALSE(model->isRecording());
    EXPECT_EQ(window().recordAction()->text(), "マイク音声入力を開始");
    EXPECT_EQ(tray().recordItem()->text(), "● 音声入力を開始 (右⌥)");
    EXPECT_STREQ(tray().iconName(), "waveform.circle.fill");

    // Keys changed in the settings change the titles at once.
    vm().setPushToTalkKey("right_command");
    vm().setReinsertShortcutPreset("command_shift_u");
    EXPECT_EQ(tray().recordItem()->text(), "● 音声入力を開始 (右⌘)");
    EXPECT_EQ(tray().pushToTalkItem()->text(), "Push-to-Talk (右 Command (⌘ Right))");
    EXPECT_EQ(tray().reinsertItem()->text(), "↩ 直前のテキストを再挿入 (⌘⇧U)");
    EXPECT_EQ(window().reinsertAction()->text(), "直前のテキストを再挿入 (⌘⇧U)");
}

TEST_F(WorkspaceShell, ReinsertCommandsAreDisabledBeforeAnyResultAndTogglesBindBothWays) {
    startAndWaitActive();
    EXPECT_FALSE(window().reinsertAction()->isEnabled());
    EXPECT_FALSE(tray().reinsertItem()->isEnabled());

    ASSERT_TRUE(tray().pushToTalkItem()->isChecked());
    tray().pushToTalkItem()->trigger();
    EXPECT_FALSE(model->pushToTalkEnabled());
    tray().autoPasteItem()->trigger();
    EXPECT_FALSE(model->autoPasteEnabled());
    vm().setAutoPasteEnabled(true);
    EXPECT_TRUE(tray().autoPasteItem()->isChecked());
    // Only the window's menu carries Ctrl+O, Ctrl+R and Ctrl+Q; no "new window" item.
    for (QAction* action : window().fileMenu()->actions())
        EXPECT_FALSE(action->text().contains(QStringLiteral("新規"))) << action->text().toStdString();
}

TEST_F(WorkspaceShell, StatusLineTellsReadyJapaneseOnlyAndPreparing) {
    struct Case {
        const char* what;
        bool eg2;
        const char* line;
    };
    for (const Case& c : {Case{"acoustic models loaded", true, "● 準備完了"},
                          Case{"Japanese recognition only", false, "● 準備完了 (日本語モード)"}}) {
        SCOPED_TRACE(c.what);
        app.reset();
        engine->transcriberHasEG2 = c.eg2;
        make();
        app = std::make_unique<PeloraVoiceApp>(*model);
        app->setQuitHandler([this] { ++quits; });
        app->start();  // the window's showing starts the boot
        EXPECT_TRUE(model->isLoadingEngine());
        EXPECT_EQ(tray().statusItem()->text(), "○ 準備中...");
        finishBoot();
        EXPECT_EQ(tray().statusItem()->text(), c.line);
    }
    // A boot that built nothing (no speech model) stays "preparing".
    app.reset();
    engine->transcriberHasEG2 = true;
    engine->buildFailure = "日本語音声モデルが見つかりません";
    make();
    app = std::make_unique<PeloraVoiceApp>(*model);
    app->start();
    finishBoot();
    EXPECT_EQ(tray().statusItem()->text(), "○ 準備中...");
}

TEST_F(WorkspaceShell, PermissionButtonShowsWhileInsertionOrMicrophoneIsMissing) {
    struct Case {
        PermissionHealthStatus health;
        bool button;
        const char* bannerTitle;
    };
    const Case cases[] = {
        {{false, true, true, true}, false, nullptr},
        {{true, false, true, true}, false, nullptr},
        {{true, true, true, false}, true, "マイクの権限が必要です"},
        {{false, false, true, true}, true, "アクセシビリティ権限を有効にすると、入力欄へ直接テキストを自動挿入できます"},
        {{false, false, true, false}, true, "マイクの権限が必要です"},
    };
    startAndWaitActive();
    for (const Case& c : cases) {
        permissions.health = c.health;
        model->applicationDidBecomeActive();  // reads the permissions again
        EXPECT_EQ(window().permissionAction()->isVisible(), c.button);
        EXPECT_EQ(window().studioPage()->permissionBanner()->isVisible(), c.button);
        if (c.bannerTitle) {
            EXPECT_EQ(window().studioPage()->permissionTitle()->text(), c.bannerTitle);
        }
    }
}

TEST_F(WorkspaceShell, PermissionSheetIsAFixedWindowModalDialogBoundBothWays) {
    permissions.health = {false, false, false, false};
    startAndWaitActive();
    QDialog* sheet = window().permissionSheet();
    EXPECT_EQ(window().permissionAction()->toolTip(), "マイクとアクセシビリティの権限を設定します");

    window().permissionAction()->trigger();
    EXPECT_TRUE(model->isPermissionSheetPresented());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->size(), QSize(540, 340));
    EXPECT_EQ(sheet->minimumSize(), sheet->maximumSize());

    // Escape closes it and clears the flag.
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_FALSE(model->isPermissionSheetPresented());

    // The studio banner opens it too; the window manager's close clears the flag.
    window().studioPage()->permissionButton()->click();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    sheet->close();
    EXPECT_FALSE(model->isPermissionSheetPresented());

    // The controller closing it closes the dialog.
    vm().setIsPermissionSheetPresented(true);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet));
    vm().setIsPermissionSheetPresented(false);
    EXPECT_FALSE(sheet->isVisible());
}

TEST_F(WorkspaceShell, ModeMenuNamesTheModeAndSetsIt) {
    startAndWaitActive();
    QToolButton* button = window().modeButton();
    EXPECT_EQ(button->text(), "日本語 + 英語用語");
    EXPECT_EQ(button->toolTip(), "音声認識モードを切り替えます");
    const QList<QAction*> rows = window().modeActions()->actions();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0]->text(), "日本語 + 英語用語");
    EXPECT_EQ(rows[1]->text(), "英語のみ");
    EXPECT_EQ(rows[2]->text(), "日本語のみ");
    rows[2]->trigger();
    EXPECT_EQ(model->engineMode(), EngineMode::appleSpeechJa);
    EXPECT_EQ(button->text(), "日本語のみ");
    EXPECT_TRUE(rows[2]->isChecked());
    vm().setEngineMode("pure_eg2_en");  // from the shortcuts page, say
    EXPECT_EQ(button->text(), "英語のみ");
    EXPECT_TRUE(rows[1]->isChecked());
}

TEST_F(WorkspaceShell, NoticeShowsOnEveryPageUntilClosed) {
    recorder.samples = std::vector<float>(16000, 0.0f);  // a silent recording leaves the silence notice
    startAndWaitActive();
    StatusNoticeLine* line = window().noticeLine();
    EXPECT_FALSE(line->isVisible());
    model->toggleManualRecording();
    model->toggleManualRecording();
    ASSERT_TRUE(model->statusNoticeMessage().has_value());
    for (const char* section : {"studio", "rules", "shortcuts"}) {
        vm().setSelectedSection(section);
        EXPECT_TRUE(line->isVisible()) << section;
        EXPECT_EQ(line->textLabel()->text().toStdString(), *model->statusNoticeMessage());
    }
    QTest::mouseClick(line->closeButton(), Qt::LeftButton);
    EXPECT_FALSE(model->statusNoticeMessage().has_value());
    EXPECT_FALSE(line->isVisible());
}

TEST_F(WorkspaceShell, SectionListAndSelectedSectionFollowEachOther) {
    startAndWaitActive();
    QListWidget* sections = window().sidebar()->sectionList();
    ASSERT_EQ(sections->count(), 3);
    EXPECT_EQ(sections->item(0)->text(), "音声入力");
    EXPECT_EQ(sections->item(1)->text(), "日本語ルール・辞書");
    EXPECT_EQ(sections->item(2)->text(), "ショートカット・設定");
    QTest::mouseClick(sections->viewport(), Qt::LeftButton, {}, sections->visualItemRect(sections->item(1)).center());
    EXPECT_EQ(model->selectedSection(), SidebarSection::rules);
    EXPECT_EQ(window().pages()->currentWidget(), window().rulesScroll());
    // Arrow keys move through the sections (a key may arrive after a round trip over the
    // accessibility bus, while a client there listens for events).
    sections->setFocus();
    QTest::keyClick(sections, Qt::Key_Down);
    EXPECT_TRUE(spinUntil([&] { return model->selectedSection() == SidebarSection::shortcuts; }, 5s));
    vm().setSelectedSection("studio");
    EXPECT_EQ(sections->currentRow(), 0);
    EXPECT_EQ(window().pages()->currentWidget(), window().studioPage());
}

TEST_F(WorkspaceShell, SettingsFromTheTrayBringBackAHiddenOrCoveredWindow) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) GTEST_SKIP() << "the test desktop has no tray";
    startAndWaitActive();
    window().viewState().newVocabReading = QStringLiteral("きかいがくしゅう");

    // Closing hides the window while the tray is there; nothing quits.
    ASSERT_TRUE(spinUntil([&] { return tray().isInTray(); }));
    window().close();
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(quits, 0);
    tray().openSettingsItem()->trigger();
    EXPECT_EQ(model->selectedSection(), SidebarSection::shortcuts);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    EXPECT_EQ(window().viewState().newVocabReading, QStringLiteral("きかいがくしゅう"));

    // Behind another window: brought to the front and made active.
    QWidget other;
    other.setWindowTitle(QStringLiteral("other"));
    other.resize(1100, 760);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    tray().showMainWindowItem()->trigger();
    EXPECT_EQ(model->selectedSection(), SidebarSection::studio);
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window()));
}

TEST_F(WorkspaceShell, ClosingWithoutATrayQuits) {
    startAndWaitActive();
    window().setCloseHidesWindow([] { return false; });  // as on a desktop without a tray
    window().close();
    EXPECT_EQ(quits, 1);
    // The quit commands do the same.
    window().quitAction()->trigger();
    tray().quitItem()->trigger();
    EXPECT_EQ(quits, 3);
}

}  // namespace
