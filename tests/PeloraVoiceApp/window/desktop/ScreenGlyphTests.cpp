// What reaches the screen: screenshots of the X root in which the studio's labels hold
// their text as drawn here, independently, in the font and colour they are meant to have
// (and not the boxes of missing glyphs); and every text of the window, its menus and the
// tray menu drawable with the installed fonts.
#include "tests/PeloraVoiceApp/window/desktop/WindowFixture.h"

#include "PeloraVoiceApp/window/MainWorkspaceView.h"
#include "PeloraVoiceApp/window/MenuBarExtra.h"
#include "PeloraVoiceApp/window/OutputCard.h"
#include "PeloraVoiceApp/window/StudioPage.h"
#include "PeloraVoiceApp/window/WindowStyle.h"
#include "tests/support/ScreenText.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTabBar>
#include <QTest>
#include <QToolTip>

#include <map>

using namespace pelora;
using namespace pelora::window_testing;
namespace style = window_style;

namespace {

class ScreenGlyphs : public WindowFixture {
protected:
    void SetUp() override {
        WindowFixture::SetUp();
        if (IsSkipped()) return;
        app->start();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
        app->mainWindow().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&app->mainWindow()));
        settle();
    }
    StudioPage& page() { return *app->mainWindow().studioPage(); }
    OutputCard& card() { return *page().outputCard(); }
};

// Every text a widget under `root` shows (visible now or on another page), with its font.
void collectTexts(QWidget* root, std::vector<std::pair<QString, QFont>>& texts) {
    auto add = [&](const QString& text, const QFont& font) {
        if (!text.isEmpty()) texts.emplace_back(text, font);
    };
    const QList<QWidget*> widgets = root->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        add(widget->toolTip(), QToolTip::font());
        add(widget->accessibleName(), widget->font());
        if (auto* label = qobject_cast<QLabel*>(widget)) add(label->text(), label->font());
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) add(button->text(), button->font());
        if (auto* line = qobject_cast<QLineEdit*>(widget)) add(line->placeholderText(), line->font());
        if (auto* combo = qobject_cast<QComboBox*>(widget))
            for (int i = 0; i < combo->count(); ++i) add(combo->itemText(i), combo->font());
        if (auto* tabs = qobject_cast<QTabBar*>(widget))
            for (int i = 0; i < tabs->count(); ++i) add(tabs->tabText(i), tabs->font());
        if (auto* view = qobject_cast<QAbstractItemView*>(widget)) {
            QAbstractItemModel* model = view->model();
            for (int row = 0; model && row < std::min(model->rowCount(), 50); ++row)
                add(model->index(row, 0).data().toString(), view->font());
        }
        for (QAction* action : widget->actions()) add(action->text(), widget->font());
    }
}

TEST_F(ScreenGlyphs, StudioLabelsOnScreenAreTheirTextInTheirFontAndColour) {
    paster.outcome = TextInjectionOutcome::injectedViaAX("Editor");
    engine->speech->text = "今日は晴れです。";
    model->toggleManualRecording();
    model->toggleManualRecording();
    settle();
    ASSERT_TRUE(model->currentResult().has_value());
    spinFor(300ms);  // painted and composed on the screen
    const QImage screen = pelora::testing::grabScreen();

    struct Case {
        const char* what;
        QLabel* label;
        QFont font;
        QColor colour;
    };
    const Case cases[] = {
        {"record title", page().recordTitle(), style::font(15, QFont::Bold), style::primary()},
        {"key hint", page().keyHint(), style::font(12), style::secondary()},
        {"timing summary", card().timingLabel(), style::monospaced(11.5, QFont::Medium), style::secondary()},
        {"footer hint", card().footerHint(), style::font(11), style::tertiary()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(c.label->isVisible());
        EXPECT_EQ(c.label->font(), c.font);
        const QRect box(c.label->mapToGlobal(c.label->contentsRect().topLeft()), c.label->contentsRect().size());
        const int flags = int(c.label->alignment()) | (c.label->wordWrap() ? int(Qt::TextWordWrap) : 0);
        const auto ink = pelora::testing::compareText(screen, box, c.label->text(), c.font, c.colour, flags);
        EXPECT_GT(ink.inked, 20) << "nothing drawn for " << c.label->text().toStdString();
        // Antialiased edges may round differently; the glyphs themselves must match.
        EXPECT_LE(ink.differing, std::max(6, ink.inked / 20))
            << ink.differing << " of " << ink.inked << " inked pixels differ from \"" << c.label->text().toStdString()
            << "\" drawn here";
        EXPECT_LT(ink.differing * 3, ink.differingBoxes) << "boxes match as well as the glyphs do";
    }
}

TEST_F(ScreenGlyphs, EveryTextOfTheWindowAndTrayHasItsGlyphs) {
    // The texts that only results, outcomes and notices bring, for every outcome.
    const TextInjectionOutcome outcomes[] = {
        TextInjectionOutcome::injectedViaAX("Editor"), TextInjectionOutcome::injectedViaMenuPaste("Editor"),
        TextInjectionOutcome::injectedViaCommandV("Editor"), TextInjectionOutcome::injectedViaUnicodeTyping("Editor"),
        TextInjectionOutcome::copiedToClipboardFallback("入力欄が見つかりません"),
        TextInjectionOutcome::skipped("重複")};
    std::vector<std::pair<QString, QFont>> texts;
    for (const TextInjectionOutcome& outcome : outcomes) {
        paster.outcome = outcome;
        engine->speech->text = "今日は晴れです。";
        model->toggleManualRecording();
        model->toggleManualRecording();
        settle();
        ASSERT_EQ(card().outcomeText()->text().toStdString(), outcome.summaryBadge());
        texts.emplace_back(card().outcomeText()->text(), card().outcomeText()->font());
    }
    for (const char* preset : {"option_shift_v", "control_shift_p", "option_shift_p", "command_shift_u"}) {
        vm().setReinsertShortcutPreset(preset);
        collectTexts(&app->mainWindow(), texts);
    }
    for (const char* key : {"right_option", "fn_key", "right_command", "left_option", "right_control"}) {
        vm().setPushToTalkKey(key);
        collectTexts(&app->mainWindow(), texts);
    }
    for (QAction* action : app->mainWindow().menuBar()->actions()) {
        texts.emplace_back(action->text(), app->mainWindow().menuBar()->font());
        if (action->menu())
            for (QAction* item : action->menu()->actions()) texts.emplace_back(item->text(), action->menu()->font());
    }
    for (QAction* item : app->menuBarExtra().menu()->actions()) texts.emplace_back(item->text(), app->menuBarExtra().menu()->font());
    texts.emplace_back(app->mainWindow().windowTitle(), QApplication::font());

    std::map<QString, QStringList> missing;  // character -> texts it appears in
    for (const auto& [text, font] : texts)
        for (const QString& character : pelora::testing::missingGlyphs(text, font))
            if (!missing[character].contains(text)) missing[character].push_back(text);
    for (const auto& [character, where] : missing)
        ADD_FAILURE() << "no font draws U+" << QString::number(character.toUcs4().value(0), 16).toUpper().toStdString()
                      << " \"" << character.toStdString() << "\", used in: " << where.join(" | ").toStdString();
}

}  // namespace
