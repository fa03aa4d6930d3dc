#include <gtest/gtest.h>

#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QVBoxLayout>
#include <unistd.h>

#include "tests/PeloraVoiceApp/system/orchestrator/OrchestratorDesktop.h"
#include "tests/support/TargetApplication.h"

using namespace orchestrator;
using pelora::testing::TargetApplication;
using pelora::testing::TempDir;

namespace {

const Snapshot self{static_cast<std::int32_t>(getpid()), "ai.pelora.PeloraVoice2", "PeloraVoice 2"};

// A Qt field that takes keys and pastes but that the accessibility bus sees as read-only
// text: only the keyboard replace can correct it.
TargetApplication keysOnlyTarget(const std::string& text, std::vector<std::string> more = {}) {
    std::vector<std::string> arguments = {"--keys-only", text, "--focus", "keysonly"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    auto app = TargetApplication::qt({arguments});
    app.activate();
    return app;
}

}  // namespace

TEST(InPlaceCorrectionDesktopTest, AFieldReadOnlyToAccessibilityIsCorrectedByKeys) {
    struct Case {
        std::string inserted, corrected;
    };
    const Case cases[] = {
        {"思考錯誤です", "試行錯誤です"},   // the whole text selected and pasted over
        {"今日は雨でした", "今日は飴でした"},  // only the changed tail
        {"はいはい", "はい"},               // a tail deleted with one BackSpace
        {"了解😀です", "了解😃です"},         // Shift+Left counts characters, not UTF-16 units
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.inserted + " -> " + c.corrected);
        Delivery delivery;
        auto owner = xclipOwn(dir, "UTF8_STRING", "以前のクリップボード");
        ASSERT_TRUE(clipboardHolds("UTF8_STRING", "以前のクリップボード"));
        auto app = keysOnlyTarget(c.inserted);
        auto target = delivery.frontSnapshot(app.pid());
        EXPECT_TRUE(delivery.correct(c.inserted, c.corrected, target, true));
        EXPECT_TRUE(app.waitForField("keysonly", c.corrected)) << app.field("keysonly");
        EXPECT_EQ(app.state().value("keysonlySelection", std::string("?")), "");
        // Restored after a paste; never touched by a BackSpace.
        EXPECT_TRUE(clipboardHolds("UTF8_STRING", "以前のクリップボード"));
    }
}

// Each refusal leaves the field as it was, with nothing selected; without a restore the
// corrected text waits on the clipboard.
TEST(InPlaceCorrectionDesktopTest, RefusalsLeaveTheFieldAlone) {
    TempDir dir;
    {
        SCOPED_TRACE("the caret no longer follows the inserted text");
        Delivery delivery;
        auto app = keysOnlyTarget("思考錯誤です", {"--cursor", "2"});
        auto target = delivery.frontSnapshot(app.pid());
        EXPECT_FALSE(delivery.correct("思考錯誤です", "試行錯誤です", target, false));
        EXPECT_TRUE(clipboardHolds("UTF8_STRING", "試行錯誤です"));
        EXPECT_EQ(app.field("keysonly"), "思考錯誤です");
        EXPECT_EQ(app.state().value("keysonlySelection", std::string("?")), "");
    }
    {
        SCOPED_TRACE("the user moved to another application");
        Delivery delivery;
        auto app = keysOnlyTarget("思考錯誤です");
        auto target = delivery.frontSnapshot(app.pid());
        auto other = TargetApplication::qt();
        other.activate();
        delivery.frontSnapshot(other.pid());
        EXPECT_FALSE(delivery.correct("思考錯誤です", "試行錯誤です", target, false));
        EXPECT_TRUE(clipboardHolds("UTF8_STRING", "試行錯誤です"));
        EXPECT_EQ(app.field("keysonly"), "思考錯誤です");
        EXPECT_EQ(other.field("line"), "");
    }
    {
        SCOPED_TRACE("a typed-into terminal is never corrected in place");
        Delivery delivery;
        auto terminal = TargetApplication::terminal();
        terminal.activate();
        auto target = delivery.frontSnapshot(terminal.pid());
        EXPECT_FALSE(delivery.correct("思考錯誤", "試行錯誤", target, false));
        EXPECT_TRUE(clipboardHolds("UTF8_STRING", "試行錯誤"));
        EXPECT_EQ(terminal.received(), "");
    }
    {
        SCOPED_TRACE("nothing to change touches nothing");
        Delivery delivery;
        auto owner = xclipOwn(dir, "UTF8_STRING", "以前のクリップボード");
        ASSERT_TRUE(clipboardHolds("UTF8_STRING", "以前のクリップボード"));
        auto app = keysOnlyTarget("同じ");
        auto target = delivery.frontSnapshot(app.pid());
        EXPECT_FALSE(delivery.correct("同じ", "同じ", target, false));
        EXPECT_TRUE(clipboardHolds("UTF8_STRING", "以前のクリップボード", 0ms));
        EXPECT_EQ(app.field("keysonly"), "同じ");
    }
}

// This application's own QLineEdit, QTextEdit and QPlainTextEdit take the dictation and its
// correction through their own cursors.
TEST(InPlaceCorrectionDesktopTest, OwnTextViewsTakeTheTextAndItsCorrection) {
    ensureApplication();
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* line = new QLineEdit(&window);
    auto* rich = new QTextEdit(&window);
    auto* plain = new QPlainTextEdit(&window);
    layout->addWidget(line);
    layout->addWidget(rich);
    layout->addWidget(plain);
    window.setWindowTitle("PeloraVoice 2 own views");
    ASSERT_TRUE(activateOwnWindow(window));

    struct View {
        const char* name;
        QWidget* widget;
        std::function<QString()> text;
        std::function<void(const QString&)> set;
        std::function<void(int)> moveCaret;
        std::function<void(int, int)> select;
    };
    const View views[] = {
        {"QLineEdit", line, [&] { return line->text(); }, [&](const QString& t) { line->setText(t); },
         [&](int p) { line->setCursorPosition(p); }, [&](int s, int n) { line->setSelection(s, n); }},
        {"QTextEdit", rich, [&] { return rich->toPlainText(); }, [&](const QString& t) { rich->setPlainText(t); },
         [&](int p) {
             auto c = rich->textCursor();
             c.setPosition(p);
             rich->setTextCursor(c);
         },
         [&](int s, int n) {
             auto c = rich->textCursor();
             c.setPosition(s);
             c.setPosition(s + n, QTextCursor::KeepAnchor);
             rich->setTextCursor(c);
         }},
        {"QPlainTextEdit", plain, [&] { return plain->toPlainText(); },
         [&](const QString& t) { plain->setPlainText(t); },
         [&](int p) {
             auto c = plain->textCursor();
             c.setPosition(p);
             plain->setTextCursor(c);
         },
         [&](int s, int n) {
             auto c = plain->textCursor();
             c.setPosition(s);
             c.setPosition(s + n, QTextCursor::KeepAnchor);
             plain->setTextCursor(c);
         }},
    };
    for (const auto& view : views) {
        SCOPED_TRACE(view.name);
        Delivery delivery;
        view.set("前置き、");
        view.moveCaret(4);
        view.widget->setFocus();
        ASSERT_TRUE(spin([&] { return QApplication::focusWidget() == view.widget; }));

        EXPECT_EQ(delivery.insert("思考錯誤😀", self, false), Outcome::injectedViaAX("PeloraVoice 2"));
        EXPECT_EQ(view.text(), QString("前置き、思考錯誤😀"));
        EXPECT_TRUE(clipboardHolds("UTF8_STRING", "思考錯誤😀"));

        // Refusals: the caret elsewhere, a selection, an input method composing.
        view.moveCaret(0);
        EXPECT_FALSE(delivery.correct("思考錯誤😀", "試行錯誤😀", self, true));
        view.select(4, 6);
        EXPECT_FALSE(delivery.correct("思考錯誤😀", "試行錯誤😀", self, true));
        view.moveCaret(10);
        QInputMethodEvent composing("しこう", {});
        QCoreApplication::sendEvent(view.widget, &composing);
        EXPECT_FALSE(delivery.correct("思考錯誤😀", "試行錯誤😀", self, true));
        QInputMethodEvent committed;
        QCoreApplication::sendEvent(view.widget, &committed);
        EXPECT_EQ(view.text(), QString("前置き、思考錯誤😀"));

        // Right behind the inserted text (UTF-16 units: the emoji counts two).
        view.moveCaret(10);
        EXPECT_TRUE(delivery.correct("思考錯誤😀", "試行錯誤😀", self, false));
        EXPECT_EQ(view.text(), QString("前置き、試行錯誤😀"));
        EXPECT_TRUE(clipboardHolds("UTF8_STRING", "試行錯誤😀"));
    }
}
