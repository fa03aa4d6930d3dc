// The shortcuts page and the permission sheet over the real controller: each control's key
// in the settings document, the key watchers, the permission rows following the state and
// the repairs they start, the sheet's closing, and the keyboard.
#include "tests/PeloraVoiceApp/pages/PagesFixture.h"

#include "PeloraVoiceApp/pages/PermissionSheetView.h"
#include "PeloraVoiceApp/pages/PermissionStepRow.h"
#include "PeloraVoiceApp/pages/ShortcutsPageView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTest>

using namespace pelora;
using namespace pelora::pages;
using namespace pelora::pages_testing;

namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

class ShortcutsFixture : public PagesFixture {
protected:
    ShortcutsPageView& makePage() {
        page_.reset();
        makeAdapter();
        page_ = std::make_unique<ShortcutsPageView>(*adapter_);
        return *page_;
    }
    PermissionSheetView& makeSheet() {
        sheet_.reset();
        if (!adapter_) makeAdapter();
        sheet_ = std::make_unique<PermissionSheetView>(*adapter_);
        return *sheet_;
    }
    void TearDown() override {
        sheet_.reset();
        page_.reset();
        PagesFixture::TearDown();
    }
    // The permission state as the desktop reports it, read by the controller's next tick.
    void desktopReports(bool microphone, bool accessibility) {
        permissions.health.microphoneAuthorized = microphone;
        permissions.health.accessibilityTrusted = accessibility;
        permissions.health.postEventPermitted = accessibility;
        model->refreshPermissions();
    }
    std::unique_ptr<ShortcutsPageView> page_;
    std::unique_ptr<PermissionSheetView> sheet_;
};

TEST_F(ShortcutsFixture, EachControlWritesItsKeyIntoTheDocument) {
    struct Case {
        const char* name;
        std::function<void(ShortcutsPageView&)> act;
        const char* key;
        nlohmann::json value;
    };
    auto pick = [](const char* picker, int row) {
        return [picker, row](ShortcutsPageView& page) {
            auto* combo = child<QComboBox>(page, picker);
            combo->setCurrentIndex(row);
            emit combo->activated(row);
        };
    };
    auto click = [](const char* name) {
        return [name](ShortcutsPageView& page) { child<QAbstractButton>(page, name)->click(); };
    };
    const Case cases[] = {
        {"right command", pick("pushToTalkKey", 2), "pushToTalkKey", "right_command"},
        {"left option", pick("pushToTalkKey", 3), "pushToTalkKey", "left_option"},
        {"right control", pick("pushToTalkKey", 4), "pushToTalkKey", "right_control"},
        {"double tap", click("doubleTapLockEnabled"), "doubleTapToggleEnabled", false},
        {"control shift P", pick("reinsertPreset", 1), "reinsertShortcutPreset", "control_shift_p"},
        {"command shift U", pick("reinsertPreset", 3), "reinsertShortcutPreset", "command_shift_u"},
        {"English only", pick("engineMode", 1), "engineMode", "pure_eg2_en"},
        {"Japanese only", pick("engineMode", 2), "engineMode", "apple_speech_ja"},
        {"auto paste", click("autoPasteEnabled"), "autoPasteEnabled", false},
        {"clipboard", click("copyToClipboardOnComplete"), "copyToClipboardOnComplete", false},
        {"sound", click("soundFeedbackEnabled"), "soundFeedbackEnabled", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(documentFile().parent_path());
        ShortcutsPageView& page = makePage();
        c.act(page);
        ASSERT_FALSE(document().is_null());
        EXPECT_EQ(document()[c.key], c.value);
    }
}

TEST_F(ShortcutsFixture, PickersShowTheLabelsAndTheKeysFollow) {
    ShortcutsPageView& page = makePage();
    auto* key = child<QComboBox>(page, "pushToTalkKey");
    const char* keyLabels[] = {"右 Option (⌥ Right)", "Fn (🌐 地球儀キー)", "右 Command (⌘ Right)", "左 Option (⌥ Left)",
                               "右 Control (⌃ Right)"};
    ASSERT_EQ(key->count(), 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(key->itemText(i), qs(keyLabels[i]));
    // Fn is listed but cannot be chosen: X11 never reports it.
    auto* items = qobject_cast<QStandardItemModel*>(key->model());
    ASSERT_NE(items, nullptr);
    EXPECT_FALSE(items->item(1)->isEnabled());
    EXPECT_TRUE(items->item(0)->isEnabled());
    auto* preset = child<QComboBox>(page, "reinsertPreset");
    const char* presetLabels[] = {"⌥⇧V (Option + Shift + V)", "⌃⇧P (Control + Shift + P)", "⌥⇧P (Option + Shift + P)",
                                  "⌘⇧U (Command + Shift + U)"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(preset->itemText(i), qs(presetLabels[i]));
    auto* mode = child<QComboBox>(page, "engineMode");
    EXPECT_EQ(mode->itemText(0), qs("日本語 + 英語用語"));
    EXPECT_EQ(mode->itemText(1), qs("英語のみ"));
    EXPECT_EQ(mode->itemText(2), qs("日本語のみ"));

    // A stored Fn key still shows.
    model->setPushToTalkKey(PTTShortcutKey::fnKey);
    EXPECT_EQ(key->currentText(), qs("Fn (🌐 地球儀キー)"));

    // A choice reaches the key watchers at once, before the save.
    log.clear();
    key->setCurrentIndex(3);
    emit key->activated(3);
    EXPECT_EQ(pushToTalk.configurations.back().shortcut, PTTShortcutKey::leftOption);
    preset->setCurrentIndex(2);
    emit preset->activated(2);
    EXPECT_EQ(reinsertShortcut.preset, ReinsertShortcutPreset::optionShiftP);
    const std::size_t before = pushToTalk.configurations.size();
    child<QCheckBox>(page, "doubleTapLockEnabled")->click();
    ASSERT_EQ(pushToTalk.configurations.size(), before + 1);
    EXPECT_FALSE(pushToTalk.configurations.back().doubleTapToggleEnabled);

    // Changes from elsewhere show.
    model->setEngineMode(EngineMode::appleSpeechJa);
    EXPECT_EQ(mode->currentText(), qs("日本語のみ"));
    model->setSoundFeedbackEnabled(false);
    EXPECT_FALSE(child<QCheckBox>(page, "soundFeedbackEnabled")->isChecked());
}

// Both rows and the sheet follow the state; each request button starts its repair.
TEST_F(ShortcutsFixture, PermissionRowsFollowTheStateAndStartTheirRepairs) {
    struct Case {
        bool microphone, accessibility;
    };
    const Case cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "microphone " << c.microphone << ", accessibility " << c.accessibility);
        ShortcutsPageView& page = makePage();
        PermissionSheetView& sheet = makeSheet();
        desktopReports(c.microphone, c.accessibility);
        for (PermissionStepRow* row : {page.microphoneRow(), sheet.microphoneRow()}) {
            EXPECT_EQ(row->isGranted(), c.microphone);
            EXPECT_EQ(row->button()->isVisibleTo(row), !c.microphone);
            EXPECT_EQ(row->grantedBadge()->isVisibleTo(row), c.microphone);
        }
        for (PermissionStepRow* row : {page.accessibilityRow(), sheet.accessibilityRow()}) {
            EXPECT_EQ(row->isGranted(), c.accessibility);
            EXPECT_EQ(row->button()->isVisibleTo(row), !c.accessibility);
        }
        EXPECT_EQ(child(sheet, "microphoneRepair")->isVisibleTo(&sheet), !c.microphone);
        EXPECT_EQ(child(sheet, "accessibilityRepair")->isVisibleTo(&sheet), !c.accessibility);
        // The guide and the reset stay available.
        EXPECT_TRUE(child(page, "openPermissionGuide")->isVisibleTo(&page));
        EXPECT_TRUE(child(page, "resetPermissions")->isVisibleTo(&page));
        page_.reset();
        sheet_.reset();
        adapter_.reset();
    }

    desktopReports(false, false);
    makePage();
    PermissionSheetView& sheet = makeSheet();
    ShortcutsPageView& page = *page_;
    struct Action {
        const char* name;
        std::function<void()> press;
        std::vector<std::string> repairs;
    };
    const Action actions[] = {
        {"page: accessibility", [&] { page.accessibilityRow()->button()->click(); }, {"requestAccessibilityAndOpenSettings"}},
        {"page: microphone", [&] { page.microphoneRow()->button()->click(); }, {"openMicrophoneSettings"}},
        {"sheet: accessibility", [&] { sheet.accessibilityRow()->button()->click(); }, {"requestAccessibilityAndOpenSettings"}},
        {"sheet: accessibility reset", [&] { child<QPushButton>(sheet, "resetAccessibility")->click(); }, {"resetAccessibility"}},
        {"sheet: reveal", [&] { child<QPushButton>(sheet, "revealApp")->click(); }, {"revealAppInFinder"}},
        {"page: reset", [&] { child<QPushButton>(page, "resetPermissions")->click(); }, {"resetAccessibility"}},
    };
    for (const Action& a : actions) {
        SCOPED_TRACE(a.name);
        permissions.actions.clear();
        a.press();
        scheduler.runPosted();
        EXPECT_EQ(permissions.actions, a.repairs);
    }
}

TEST_F(ShortcutsFixture, TheResetRunsInOrderAndLeavesItsNotice) {
    ShortcutsPageView& page = makePage();
    desktopReports(false, false);
    permissions.actions.clear();
    permissions.resetAnswers.clear();
    const int checks = permissions.checks;
    child<QPushButton>(page, "resetPermissions")->click();
    EXPECT_EQ(permissions.actions, std::vector<std::string>{"resetAccessibility"});
    EXPECT_GT(permissions.checks, checks) << "the permissions are read again";
    ASSERT_TRUE(model->statusNoticeMessage().has_value());
    EXPECT_EQ(*model->statusNoticeMessage(),
              "アクセシビリティとマイクの接続をやり直しました。反映されない場合は「状態を再確認」を押してください。");
    // The microphone is tried again on its own, without holding the page up.
    scheduler.runPosted();
    EXPECT_EQ(permissions.resetAnswers.size(), 1u);

    // "状態を再確認" reads the state again.
    const int before = permissions.checks;
    child<QPushButton>(page, "refreshPermissions")->click();
    EXPECT_GT(permissions.checks, before);
    // The guide opens the sheet.
    child<QPushButton>(page, "openPermissionGuide")->click();
    EXPECT_TRUE(model->isPermissionSheetPresented());
}

TEST_F(ShortcutsFixture, TheSheetClosesWithOrWithoutARefresh) {
    struct Case {
        const char* name;
        std::function<void(PermissionSheetView&)> close;
        bool refreshes;
    };
    const Case cases[] = {
        {"閉じる", [](PermissionSheetView& sheet) { child<QPushButton>(sheet, "closeSheet")->click(); }, false},
        {"Escape",
         [](PermissionSheetView& sheet) {
             QWidget* focus = child<QPushButton>(sheet, "doneSheet");
             focus->setFocus();
             QTest::keyClick(focus, Qt::Key_Escape);
         },
         false},
        {"完了", [](PermissionSheetView& sheet) { child<QPushButton>(sheet, "doneSheet")->click(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        makeAdapter();
        PermissionSheetView& sheet = makeSheet();
        sheet.show();
        sheet.activateWindow();
        ASSERT_TRUE(spinUntil([&] { return QApplication::activeWindow() == &sheet; }));
        model->setIsPermissionSheetPresented(true);
        const int checks = permissions.checks;
        c.close(sheet);
        EXPECT_FALSE(model->isPermissionSheetPresented());
        EXPECT_EQ(permissions.checks > checks, c.refreshes);
        sheet_.reset();
    }
}

TEST_F(ShortcutsFixture, TabGoesTopToBottomAndSpaceToggles) {
    ShortcutsPageView& page = makePage();
    desktopReports(false, false);
    page.resize(900, 900);
    page.show();
    page.activateWindow();
    ASSERT_TRUE(spinUntil([&] { return QApplication::activeWindow() == &page; }));
    const char* order[] = {"pushToTalkKey", "doubleTapLockEnabled", "reinsertPreset", "engineMode", "autoPasteEnabled",
                           "copyToClipboardOnComplete", "soundFeedbackEnabled", "refreshPermissions"};
    child(page, order[0])->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(spinUntil([&] { return QApplication::focusWidget() == child(page, order[0]); }));
    for (std::size_t i = 1; i < std::size(order); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), child(page, order[i])) << "after " << order[i - 1];
        if (QApplication::focusWidget() != child(page, order[i])) child(page, order[i])->setFocus(Qt::TabFocusReason);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), page.microphoneRow()->button());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), page.accessibilityRow()->button());

    // Arrows in a picker choose (Fn is skipped), Space toggles.
    auto* key = child<QComboBox>(page, "pushToTalkKey");
    key->setFocus(Qt::TabFocusReason);
    QTest::keyClick(key, Qt::Key_Down);
    EXPECT_EQ(model->pushToTalkKey(), PTTShortcutKey::rightCommand);
    auto* sound = child<QCheckBox>(page, "soundFeedbackEnabled");
    sound->setFocus(Qt::TabFocusReason);
    QTest::keyClick(sound, Qt::Key_Space);
    EXPECT_FALSE(model->soundFeedbackEnabled());
    EXPECT_EQ(document()["soundFeedbackEnabled"], false);
}

}  // namespace
