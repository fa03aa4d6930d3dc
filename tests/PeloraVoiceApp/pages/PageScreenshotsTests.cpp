// What the user sees of the settings pages in the main window, read back from the X
// screen: each checked label's region equals its text drawn here in its font and colour
// (and not the boxes of missing glyphs), and no text of a page falls on a missing glyph.
#include "tests/PeloraVoiceApp/pages/PagesFixture.h"

#include "PeloraVoiceApp/hud/UITheme.h"
#include "PeloraVoiceApp/pages/PermissionSheetView.h"
#include "PeloraVoiceApp/pages/RulesPageView.h"
#include "PeloraVoiceApp/pages/ShortcutsPageView.h"
#include "PeloraVoiceApp/window/MainWorkspaceView.h"
#include "PeloraVoiceApp/window/PeloraVoiceApplication.h"
#include "tests/support/ScreenText.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QWindow>

using namespace pelora;
using namespace pelora::pages;
using namespace pelora::pages_testing;

using pelora::testing::spinFor;

namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

// Every text a page shows or can show (labels, buttons, check boxes, combo items, field
// placeholders) with a character no installed font can draw, and those characters.
std::vector<std::string> textsWithMissingGlyphs(const QWidget& page) {
    std::vector<std::string> missing;
    auto check = [&](const QString& text, const QFont& font) {
        const QStringList lacking = pelora::testing::missingGlyphs(text, font);
        if (!lacking.isEmpty()) missing.push_back(text.toStdString() + " lacks " + lacking.join(u' ').toStdString());
    };
    for (const QLabel* label : page.findChildren<QLabel*>()) check(label->text(), label->font());
    for (const QAbstractButton* button : page.findChildren<QAbstractButton*>()) check(button->text(), button->font());
    for (const QComboBox* combo : page.findChildren<QComboBox*>())
        for (int i = 0; i < combo->count(); ++i) check(combo->itemText(i), combo->font());
    for (const QLineEdit* field : page.findChildren<QLineEdit*>()) check(field->placeholderText(), field->font());
    return missing;
}

QLabel* labelReading(const QWidget& root, const char* text) {
    for (QLabel* label : root.findChildren<QLabel*>())
        if (label->text() == qs(text) && label->isVisibleTo(&root)) return label;
    ADD_FAILURE() << "no label reads " << text;
    return nullptr;
}

class PageScreenshots : public PagesFixture {
protected:
    void SetUp() override {
        PagesFixture::SetUp();
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "runs in the private desktop";
        // The microphone granted, accessibility not: the sheet shows a badge, a button and a repair row.
        permissions.health = {false, false, false, true};
        make();
        app_ = std::make_unique<PeloraVoiceApp>(*model);
        app_->setQuitHandler([] {});
    }
    void TearDown() override {
        app_.reset();
        QCoreApplication::processEvents();
        PagesFixture::TearDown();
    }
    MainWorkspaceView& window() { return app_->mainWindow(); }

    // The window (or sheet) on screen, painted, with `label` scrolled into view.
    void bringIntoView(QLabel* label) {
        for (QScrollArea* scroll : {window().rulesScroll(), window().shortcutsScroll()})
            if (scroll->isAncestorOf(label)) scroll->ensureWidgetVisible(label, 0, 24);
        QWidget* top = label->window();
        ASSERT_TRUE(spinUntil([&] { return top->windowHandle() && top->windowHandle()->isExposed(); }));
        spinFor(250);  // the window manager's placement and the last paint
    }

    // Each label matches its text on screen in its colour; then the page's texts all have glyphs.
    void checkPage(const QWidget& page, const std::vector<std::pair<const char*, QColor>>& labels) {
        for (const auto& [text, colour] : labels) {
            SCOPED_TRACE(text);
            QLabel* label = labelReading(page, text);
            if (!label) continue;
            bringIntoView(label);
            ASSERT_EQ(label->visibleRegion().boundingRect(), label->rect()) << "wholly in view";
            // The label's text drawn here in its font and the colour it should have.
            const QRect area(label->mapToGlobal(label->contentsRect().topLeft()), label->contentsRect().size());
            const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
            const auto ink = pelora::testing::compareText(pelora::testing::grabScreen(), area, label->text(),
                                                          label->font(), colour, flags);
            EXPECT_GT(ink.inked, 20);
            // Equal, up to a rare edge pixel that the screen's backing store and this image
            // might round differently; far from the boxes of missing glyphs.
            EXPECT_LE(ink.differing * 50, ink.inked) << ink.differing << " of " << ink.inked << " ink pixels differ";
            EXPECT_LT(ink.differing * 5, ink.differingBoxes)
                << ink.differing << " pixels differ from the glyphs, " << ink.differingBoxes << " from boxes";
        }
        EXPECT_EQ(textsWithMissingGlyphs(page), std::vector<std::string>{});
    }

    std::unique_ptr<PeloraVoiceApp> app_;
};

TEST_F(PageScreenshots, EachPageShowsItsTextsInTheirFontsAndColours) {
    window().openAtDefaultSize();
    const QColor primary = window().palette().color(QPalette::WindowText);
    const QColor secondary = UITheme::withOpacity(primary, 0.5);

    {
        SCOPED_TRACE("rules page");
        model->setSelectedSection(SidebarSection::rules);
        auto* page = window().findChild<RulesPageView*>();
        ASSERT_NE(page, nullptr);
        checkPage(*page, {{"日本語ルール・辞書", primary},
                          {"句読点の入り方やフィラー除去、MIRK意図判断・音韻距離による高確度候補の自動置換を設定します。",
                           secondary},
                          {"句読点と自動整形", primary},
                          {"句読点の挿入バランス", primary},
                          {"標準・Peloraバランス（推奨）", secondary},
                          {"45組文脈ルール有効", secondary},
                          {"ルール・MIRK自動置換テスト", primary},
                          {"音声認識の仮テキストを入力して、同音異義語・音韻距離・MIRK高確度置換の結果をその場で確認できます。",
                           secondary},
                          {"カスタム辞書", primary}});
    }
    {
        SCOPED_TRACE("shortcuts page");
        model->setSelectedSection(SidebarSection::shortcuts);
        auto* page = window().findChild<ShortcutsPageView*>();
        ASSERT_NE(page, nullptr);
        checkPage(*page, {{"ショートカット・設定", primary},
                          {"音声入力キー (Push-to-Talk)", primary},
                          {"長押ししている間だけ録音し、離すとテキストを入力します", secondary},
                          {"システム権限ステータス", primary},
                          {"マイクへのアクセス", primary},
                          {"許可済み", UITheme::Ocean::success},
                          {"他のアプリやブラウザの入力欄へテキストを自動挿入します", secondary}});
    }
    {
        SCOPED_TRACE("permission sheet");
        model->setIsPermissionSheetPresented(true);
        ASSERT_TRUE(spinUntil([&] { return window().permissionSheet()->isVisible(); }));
        auto* sheet = window().permissionSheet()->findChild<PermissionSheetView*>();
        ASSERT_NE(sheet, nullptr);
        checkPage(*sheet, {{"システム権限のセットアップ", primary},
                           {"マイクでの音声認識と、他のアプリへのテキスト自動挿入に必要な権限を確認します。", secondary},
                           {"1. マイク音声取得", primary},
                           {"許可済み", UITheme::Ocean::success},
                           {"2. アクセシビリティ（自動テキスト挿入）", primary},
                           {"デスクトップのアクセシビリティ (AT-SPI) を有効にします。有効にした後に起動したアプリへ直接挿入できます。",
                            secondary}});
        model->setIsPermissionSheetPresented(false);
    }
}

}  // namespace
