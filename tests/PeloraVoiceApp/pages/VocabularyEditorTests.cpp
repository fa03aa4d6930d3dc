// The custom dictionary editor over the real controller: the add form, the row switches and
// delete buttons, the reset, and what reaches the settings document.
#include "tests/PeloraVoiceApp/pages/PagesFixture.h"

#include "PeloraVoiceApp/pages/VocabularyEditor.h"
#include "PeloraVoiceApp/pages/VocabularyListModel.h"

#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>

using namespace pelora;
using namespace pelora::pages;
using namespace pelora::pages_testing;

namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

class VocabularyFixture : public PagesFixture {
protected:
    VocabularyEditor& makeEditor() {
        editor_.reset();
        makeAdapter();
        editor_ = std::make_unique<VocabularyEditor>(*adapter_, local_);
        editor_->resize(760, editor_->sizeHint().height());
        return *editor_;
    }
    void TearDown() override {
        editor_.reset();
        PagesFixture::TearDown();
    }
    // The centre of a part of a row, in the list's viewport: the switch or the trash.
    QPoint switchOf(int row) const {
        const QRect rect = editor_->list()->visualRect(editor_->model()->index(row));
        return {rect.left() + 10 + 16, rect.top() + 16};
    }
    QPoint trashOf(int row) const {
        const QRect rect = editor_->list()->visualRect(editor_->model()->index(row));
        return {rect.right() - 10 - 9, rect.top() + 16};
    }

    RulesPageLocalState local_;
    std::unique_ptr<VocabularyEditor> editor_;
};

TEST_F(VocabularyFixture, AddIsEnabledByTheReadingAndClearsOnlyWhatWasAdded) {
    struct Case {
        const char* name;
        const char* reading;
        const char* surface;
        bool enabled;
        bool adds;
    };
    const Case cases[] = {
        {"empty reading", "", "表記", false, false},
        {"spaces and tabs", " \t ", "表記", false, false},
        {"a reading, no written form", "よみ", "", true, false},
        {"a reading, a blank written form", "よみ", " \u3000", true, false},
        {"both", " てすと ", " テスト ", true, true},
        {"an ideographic space is not a blank reading", "\u3000", "語", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        local_ = {};
        VocabularyEditor& editor = makeEditor();
        const auto before = model->customVocabulary();
        child<QLineEdit>(editor, "newVocabReading")->setText(qs(c.reading));
        child<QLineEdit>(editor, "newVocabSurface")->setText(qs(c.surface));
        auto* add = child<QPushButton>(editor, "addVocabulary");
        EXPECT_EQ(add->isEnabled(), c.enabled);
        add->click();
        EXPECT_EQ(model->customVocabulary().size(), before.size() + (c.adds ? 1 : 0));
        // Cleared only when an entry was made; otherwise the typing is still there to fix.
        EXPECT_EQ(child<QLineEdit>(editor, "newVocabReading")->text().isEmpty(), c.adds || !*c.reading);
        EXPECT_EQ(child<QLineEdit>(editor, "newVocabSurface")->text().isEmpty(), c.adds || !*c.surface);
        EXPECT_EQ(local_.newVocabReading, child<QLineEdit>(editor, "newVocabReading")->text());
        if (c.adds) {
            EXPECT_EQ(editor.model()->data(editor.model()->index(0), VocabularyListModel::SurfaceRole).toString(),
                      qs(model->customVocabulary().front().surface.c_str()));
            EXPECT_EQ(document()["customVocabulary"][0]["surface"], model->customVocabulary().front().surface);
        }
    }
}

TEST_F(VocabularyFixture, RowsSwitchDeleteAndReset) {
    VocabularyEditor& editor = makeEditor();
    editor.show();
    ASSERT_TRUE(spinUntil([&] { return editor.isVisible(); }));
    const auto defaults = JapaneseEmbeddingReranker::defaultVocabulary();
    ASSERT_EQ(editor.model()->rowCount(), static_cast<int>(defaults.size()));
    ASSERT_GE(defaults.size(), 3u);

    // The switch of row 1, clicked: that entry's enabled flag, written to the document.
    QTest::mouseClick(editor.list()->viewport(), Qt::LeftButton, {}, switchOf(1));
    EXPECT_EQ(model->customVocabulary()[1].enabled, !defaults[1].enabled);
    EXPECT_EQ(document()["customVocabulary"][1]["enabled"], !defaults[1].enabled);
    EXPECT_EQ(editor.model()->data(editor.model()->index(1), Qt::CheckStateRole).toInt(),
              defaults[1].enabled ? Qt::Unchecked : Qt::Checked);
    EXPECT_EQ(model->customVocabulary()[0].enabled, defaults[0].enabled) << "the other rows are untouched";

    // Space on the current row switches it too.
    editor.list()->setFocus();
    editor.list()->setCurrentIndex(editor.model()->index(2));
    QTest::keyClick(editor.list(), Qt::Key_Space);
    EXPECT_EQ(model->customVocabulary()[2].enabled, !defaults[2].enabled);
    EXPECT_EQ(editor.list()->currentIndex().row(), 2) << "the row keeps the keyboard";

    // The trash of row 0 removes that entry by its identifier.
    QTest::mouseClick(editor.list()->viewport(), Qt::LeftButton, {}, trashOf(0));
    ASSERT_EQ(model->customVocabulary().size(), defaults.size() - 1);
    EXPECT_EQ(model->customVocabulary()[0].surface, defaults[1].surface);
    EXPECT_EQ(editor.model()->rowCount(), static_cast<int>(defaults.size()) - 1);
    EXPECT_EQ(document()["customVocabulary"].size(), defaults.size() - 1);

    // A click elsewhere on the row changes nothing.
    const auto now = model->customVocabulary();
    const QRect rect = editor.list()->visualRect(editor.model()->index(0));
    QTest::mouseClick(editor.list()->viewport(), Qt::LeftButton, {}, QPoint(rect.left() + 120, rect.top() + 16));
    EXPECT_EQ(model->customVocabulary(), now);

    // The reset brings the built-in list back, switches included; an empty list shows no rows.
    model->addVocabularyEntry("", "自作", "");
    child<QPushButton>(editor, "resetVocabulary")->click();
    EXPECT_EQ(model->customVocabulary(), defaults);
    EXPECT_EQ(editor.model()->rowCount(), static_cast<int>(defaults.size()));
    model->setCustomVocabulary({});
    EXPECT_EQ(editor.model()->rowCount(), 0);
    EXPECT_EQ(editor.list()->height(), 0);
}

TEST_F(VocabularyFixture, FiveHundredEntriesAreRowsOfOneModel) {
    std::vector<CustomVocabularyEntry> many;
    for (int i = 0; i < 500; ++i)
        many.push_back({CustomVocabularyEntry::newID(), "よみ" + std::to_string(i), "表記" + std::to_string(i), {}, {}, i % 2 == 0});
    VocabularyEditor& editor = makeEditor();
    model->setCustomVocabulary(many);
    ASSERT_EQ(editor.model()->rowCount(), 500);
    EXPECT_EQ(editor.model()->data(editor.model()->index(499), VocabularyListModel::ReadingRole).toString(), qs("よみ499"));
    // One switch changes one row of the model, not the whole list.
    int resets = 0, changedRows = 0;
    QObject::connect(editor.model(), &QAbstractItemModel::modelReset, [&] { ++resets; });
    QObject::connect(editor.model(), &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& from, const QModelIndex& to) { changedRows += to.row() - from.row() + 1; });
    editor.setEntryEnabled(251, true);
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(changedRows, 1);
    EXPECT_TRUE(model->customVocabulary()[251].enabled);
}

}  // namespace
