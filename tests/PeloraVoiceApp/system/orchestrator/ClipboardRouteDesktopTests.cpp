#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>

#include <random>

#include "tests/PeloraVoiceApp/system/orchestrator/OrchestratorDesktop.h"
#include "tests/support/TargetApplication.h"

using namespace orchestrator;
using pelora::testing::TargetApplication;
using pelora::testing::TempDir;

namespace {

std::string pngImage() {
    QImage image(320, 200, QImage::Format_ARGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 320, 200);
    gradient.setColorAt(0, QColor(10, 80, 160, 255));
    gradient.setColorAt(1, QColor(250, 200, 40, 128));
    painter.fillRect(image.rect(), gradient);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(random() & 0xFF);
    return bytes;
}

// An application the policy pastes into (its name contains "slack"), typing into a rich
// text field; `arguments` add to that.
TargetApplication pasteTarget(std::vector<std::string> arguments = {}) {
    std::vector<std::string> all = {"--focus", "rich", "--rich-html", ""};
    all.insert(all.end(), arguments.begin(), arguments.end());
    auto app = TargetApplication::qt({all, {}, "slack"});
    app.activate();
    return app;
}

bool richEndsWith(const TargetApplication& app, const std::string& text) {
    return app.waitForState([&](const nlohmann::json& state) {
        return state.value("rich", std::string()).ends_with(text);
    });
}

}  // namespace

// What the user had on the clipboard, as another application (xclip) offered it, is what
// any application reads again after the paste.
TEST(ClipboardRouteDesktopTest, ThePastedOverClipboardComesBackByteForByte) {
    struct Case {
        const char* name;
        std::string target;
        std::string bytes;
    };
    const Case cases[] = {
        {"text", "UTF8_STRING", "以前のクリップボード\n二行目"},
        {"HTML", "text/html", "<meta charset=\"utf-8\"><b>以前の</b>クリップボード"},
        {"PNG", "image/png", pngImage()},
        {"file list", "text/uri-list", "file:///tmp/a%20b.wav\r\nfile:///tmp/%E9%9F%B3.mp3\r\n"},
        {"20 MiB in chunks", "application/x-pelora-payload", randomBytes(20u << 20, 7)},
    };
    TempDir dir;
    Delivery delivery;
    auto app = pasteTarget();
    auto target = delivery.frontSnapshot(app.pid());
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto owner = xclipOwn(dir, c.target, c.bytes);
        ASSERT_TRUE(clipboardHolds(c.target, c.bytes)) << "xclip offers the earlier contents";
        const std::string text = "貼り付け" + std::to_string(++n);
        Outcome outcome = delivery.insert(text, target, true);
        EXPECT_EQ(outcome, Outcome::injectedViaMenuPaste(target.displayLabel())) << outcome.summaryBadge();
        EXPECT_TRUE(richEndsWith(app, text));
        owner->stop();
        EXPECT_TRUE(clipboardHolds(c.target, c.bytes)) << "restored byte for byte";
    }
}

// A target that reads the clipboard 1.5 s after its Paste item was pressed still pastes
// the dictated text, and the user's clipboard comes back after that.
TEST(ClipboardRouteDesktopTest, ASlowTargetPastesTheDictationNotTheOldClipboard) {
    TempDir dir;
    Delivery delivery;
    auto app = pasteTarget({"--paste-delay", "1500"});
    auto target = delivery.frontSnapshot(app.pid());
    auto owner = xclipOwn(dir, "UTF8_STRING", "以前のテキスト");
    ASSERT_TRUE(clipboardHolds("UTF8_STRING", "以前のテキスト"));
    EXPECT_TRUE(delivery.insert("遅れて読む", target, true).isDirectInsert());
    EXPECT_TRUE(spin([&] { return app.field("rich") != ""; }, 20s));
    EXPECT_EQ(app.field("rich"), "遅れて読む");
    owner->stop();
    EXPECT_TRUE(clipboardHolds("UTF8_STRING", "以前のテキスト"));
}

// Whatever replaces the clipboard after the paste stays there: the restore never
// overwrites it.
TEST(ClipboardRouteDesktopTest, ALaterCopyOrInsertionIsNeverOverwrittenByTheRestore) {
    struct Case {
        const char* name;
        std::function<void(Delivery&, const Snapshot&, const TempDir&, std::vector<std::unique_ptr<pelora::testing::ChildProcess>>&)>
            afterPaste;
        std::string clipboard;
    };
    const Case cases[] = {
        // The slow target has not fetched yet when the user copies something else.
        {"the user copies in another application",
         [](Delivery&, const Snapshot&, const TempDir& dir, auto& owners) {
             owners.push_back(xclipOwn(dir, "UTF8_STRING", "ユーザーのコピー"));
         },
         "ユーザーのコピー"},
        {"copyOnly", [](Delivery& d, const Snapshot&, const TempDir&, auto&) { d.paster->copyOnly("コピーだけ"); },
         "コピーだけ"},
        {"a new insertion without a restore",
         [](Delivery& d, const Snapshot& target, const TempDir&, auto&) {
             EXPECT_TRUE(d.insert("二つ目", target, false).isDirectInsert());
         },
         "二つ目"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Delivery delivery;
        auto app = pasteTarget({"--paste-delay", "1500"});
        auto target = delivery.frontSnapshot(app.pid());
        std::vector<std::unique_ptr<pelora::testing::ChildProcess>> owners;
        owners.push_back(xclipOwn(dir, "UTF8_STRING", "以前のテキスト"));
        ASSERT_TRUE(clipboardHolds("UTF8_STRING", "以前のテキスト"));
        EXPECT_TRUE(delivery.insert("一つ目", target, true).isDirectInsert());
        c.afterPaste(delivery, target, dir, owners);
        ASSERT_TRUE(clipboardHolds("UTF8_STRING", c.clipboard));
        // Past every bound of the restore (0.65 s after the paste, 3 s for the fetch).
        spinFor(4s);
        EXPECT_TRUE(clipboardHolds("UTF8_STRING", c.clipboard, 0ms));
        EXPECT_FALSE(delivery.paster->hasPendingClipboardRestore());
    }
}

TEST(ClipboardRouteDesktopTest, SeveralLinesArriveWithTheirEmptyAndTrailingLines) {
    const std::string texts[] = {"一行目\n\n三行目", "末尾に改行\n", "\n先頭が空"};
    TempDir dir;
    for (const auto& text : texts) {
        SCOPED_TRACE(text);
        Delivery delivery;
        auto app = pasteTarget();
        auto target = delivery.frontSnapshot(app.pid());
        auto owner = xclipOwn(dir, "text/html", "<i>以前</i>");
        ASSERT_TRUE(clipboardHolds("text/html", "<i>以前</i>"));
        EXPECT_TRUE(delivery.insert(text, target, true).isDirectInsert());
        EXPECT_TRUE(app.waitForField("rich", text)) << app.field("rich");
        owner->stop();
        EXPECT_TRUE(clipboardHolds("text/html", "<i>以前</i>"));
    }
}
