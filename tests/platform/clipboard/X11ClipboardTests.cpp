#include "platform/clipboard/X11Clipboard.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <map>
#include <random>

#include "tests/platform/clipboard/StandInClipboardManager.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RunCommand.h"
#include "tests/support/TempDir.h"

using namespace pelora::clipboard;
using pelora::testing::ChildProcess;
using pelora::testing::runCommand;
using pelora::testing::TempDir;
using pelora::testing::waitUntil;
using namespace std::chrono_literals;

namespace {

// xclip is the independent owner and reader: what it reads is what any application pastes.
std::string xclipRead(const std::string& target) {
    auto result = runCommand({"xclip", "-o", "-selection", "clipboard", "-t", target}, {}, std::chrono::seconds(20));
    EXPECT_EQ(result.exitCode, 0) << "xclip -o -t " << target << ": " << result.err;
    return result.out;
}

// What the clipboard offers now; nothing while no owner has claimed it yet (polled).
std::vector<std::string> xclipTargets() {
    std::vector<std::string> targets;
    auto result = runCommand({"xclip", "-o", "-selection", "clipboard", "-t", "TARGETS"}, {}, std::chrono::seconds(20));
    if (result.exitCode != 0) return targets;
    const std::string& out = result.out;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        if (end > start) targets.push_back(out.substr(start, end - start));
        start = end + 1;
    }
    return targets;
}

// An xclip process owning the clipboard with one target, kept in the foreground so the
// test can stop it.
std::unique_ptr<ChildProcess> xclipOwn(const TempDir& dir, const std::string& target, const std::string& bytes) {
    static int counter = 0;
    auto file = dir / ("offer-" + std::to_string(counter++));
    pelora::testing::writeFile(file, bytes);
    auto owner = std::make_unique<ChildProcess>(ChildProcess::Options{
        {"xclip", "-quiet", "-i", "-selection", "clipboard", "-t", target, file.string()}, {}, "/dev/null"});
    return owner;
}

std::string randomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(random() & 0xFF);
    return bytes;
}

bool offers(const std::vector<std::string>& targets, const std::string& name) {
    return std::find(targets.begin(), targets.end(), name) != targets.end();
}

}  // namespace

TEST(X11ClipboardTest, WrittenTextIsWhatOtherApplicationsPaste) {
    struct Case {
        std::string text;
        bool latin1;
    };
    const Case cases[] = {
        {"plain ascii", true},
        {"caf\xC3\xA9 na\xC3\xAFve", true},
        {"今日は晴れです。", false},
        {"絵文字😀と𠮷", false},
        {"two\nlines\n", true},
    };
    X11Clipboard clipboard;
    ASSERT_TRUE(clipboard.connected());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(clipboard.writeText(c.text));
        EXPECT_EQ(xclipRead("UTF8_STRING"), c.text);
        EXPECT_EQ(xclipRead("text/plain;charset=utf-8"), c.text);
        auto targets = xclipTargets();
        for (const char* t : {"UTF8_STRING", "text/plain;charset=utf-8", "text/plain", "TEXT"}) {
            EXPECT_TRUE(offers(targets, t)) << t;
        }
        EXPECT_EQ(offers(targets, "STRING"), c.latin1);
        EXPECT_EQ(clipboard.readText(), c.text);
    }
}

TEST(X11ClipboardTest, ChangeCountSeesOwnWritesAtOnceAndOtherOwners) {
    TempDir dir;
    X11Clipboard clipboard;
    auto before = clipboard.changeCount();
    ASSERT_TRUE(clipboard.writeText("first"));
    EXPECT_EQ(clipboard.changeCount(), before + 1) << "our own write is counted before writeText returns";
    auto owner = xclipOwn(dir, "UTF8_STRING", "from another application");
    EXPECT_TRUE(waitUntil(10s, [&] { return clipboard.changeCount() >= before + 2; }));
    EXPECT_TRUE(waitUntil(10s, [&] { return clipboard.readText() == std::optional<std::string>("from another application"); }));
}

TEST(X11ClipboardTest, SnapshotAndRestoreAreByteExactPerTarget) {
    struct Case {
        std::string target;
        std::string bytes;
    };
    const Case cases[] = {
        {"UTF8_STRING", "日本語のテキスト\n二行目"},
        {"text/html", "<meta charset=\"utf-8\"><b>太字</b> text"},
        {"image/png", randomBytes(70000, 1)},
        {"text/uri-list", "file:///tmp/a%20b.wav\r\nfile:///tmp/%E9%9F%B3.mp3\r\n"},
        {"application/octet-stream", randomBytes(20u << 20, 2)},  // above the INCR threshold both ways
    };
    TempDir dir;
    X11Clipboard clipboard;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        auto owner = xclipOwn(dir, c.target, c.bytes);
        ASSERT_TRUE(waitUntil(10s, [&] { return offers(xclipTargets(), c.target); }));
        ClipboardSnapshot saved = clipboard.snapshot();
        auto entry = std::find_if(saved.begin(), saved.end(), [&](const auto& e) { return e.target == c.target; });
        ASSERT_NE(entry, saved.end());
        EXPECT_EQ(entry->bytes.size(), c.bytes.size());
        EXPECT_TRUE(entry->bytes == c.bytes);

        // Someone else takes the clipboard; the restore brings the saved bytes back.
        ASSERT_TRUE(clipboard.writeText("dictated text"));
        owner->stop();
        ASSERT_TRUE(clipboard.restore(saved));
        std::string read = xclipRead(c.target);
        EXPECT_EQ(read.size(), c.bytes.size());
        EXPECT_TRUE(read == c.bytes);
    }
}

TEST(X11ClipboardTest, SeveralRepresentationsKeepTypesFormatsAndTextComesFirst) {
    // A second clipboard object is an owner offering several targets, as applications do.
    ClipboardSnapshot offered = {
        {"application/x-pelora-numbers", "INTEGER", 32, std::string("\x01\x00\x00\x00\xff\xff\xff\xff\x02\x00\x00\x00", 12)},
        {"image/png", "image/png", 8, randomBytes(4096, 3)},
        {"text/html", "text/html", 8, "<i>x</i>"},
        {"UTF8_STRING", "UTF8_STRING", 8, "x"},
        {"application/x-pelora-pairs", "application/x-pelora-pairs", 16, std::string("\x01\x02\x03\x04", 4)},
    };
    X11Clipboard owner;
    ASSERT_TRUE(owner.restore(offered));
    X11Clipboard reader;
    ClipboardSnapshot read = reader.snapshot();
    ASSERT_EQ(read.size(), offered.size());
    EXPECT_EQ(read[0].target, "UTF8_STRING");
    EXPECT_EQ(read[1].target, "text/html");
    EXPECT_EQ(read[2].target, "image/png");
    for (const auto& entry : offered) {
        SCOPED_TRACE(entry.target);
        auto found = std::find(read.begin(), read.end(), entry);
        EXPECT_NE(found, read.end()) << "target, type, format and bytes kept";
    }
}

TEST(X11ClipboardTest, ReadingAnOwnClipboardNeedsNoRoundTrip) {
    X11Clipboard clipboard;
    ASSERT_TRUE(clipboard.writeText("own"));
    auto snapshot = clipboard.snapshot();
    ASSERT_FALSE(snapshot.empty());
    EXPECT_EQ(snapshot.front().target, "UTF8_STRING");
    EXPECT_EQ(snapshot.front().bytes, "own");
}

TEST(X11ClipboardTest, FetchesOfTheCurrentContentsAreCounted) {
    X11Clipboard clipboard;
    ASSERT_TRUE(clipboard.writeText("pasted"));
    EXPECT_EQ(clipboard.fetchCount(), 0u);
    xclipTargets();  // asking what is offered is not a fetch
    EXPECT_EQ(clipboard.fetchCount(), 0u);
    EXPECT_EQ(xclipRead("UTF8_STRING"), "pasted");
    EXPECT_TRUE(clipboard.waitForFetches(1, 5s));
    ASSERT_TRUE(clipboard.writeText("next"));
    EXPECT_EQ(clipboard.fetchCount(), 0u) << "a new write starts a new count";
    EXPECT_FALSE(clipboard.waitForFetches(1, 100ms));

    // A large reply counts once its last chunk is out.
    ASSERT_TRUE(clipboard.restore({{"image/png", "image/png", 8, randomBytes(3u << 20, 4)}}));
    EXPECT_EQ(xclipRead("image/png").size(), 3u << 20);
    EXPECT_TRUE(clipboard.waitForFetches(1, 5s));
}

TEST(X11ClipboardTest, AHungOrOversizedOwnerIsLeftOutWithinTheLimits) {
    TempDir dir;
    X11Clipboard::Limits limits;
    limits.idle = 300ms;
    limits.total = 1500ms;
    limits.totalBytes = 1u << 20;
    X11Clipboard clipboard({}, limits);

    // Larger than the byte limit: left out like an unreadable type.
    {
        auto owner = xclipOwn(dir, "image/png", randomBytes(2u << 20, 5));
        ASSERT_TRUE(waitUntil(10s, [&] { return offers(xclipTargets(), "image/png"); }));
        EXPECT_TRUE(clipboard.snapshot().empty());
    }
    // An owner that stopped answering: the snapshot still returns, empty.
    auto owner = xclipOwn(dir, "UTF8_STRING", "never delivered");
    ASSERT_TRUE(waitUntil(10s, [&] { return offers(xclipTargets(), "UTF8_STRING"); }));
    owner->signal(SIGSTOP);
    auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(clipboard.snapshot().empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s) << "a hung owner never hangs the caller";
    owner->signal(SIGCONT);
}

TEST(X11ClipboardTest, WithoutADisplayNothingIsReadOrWritten) {
    X11Clipboard clipboard(":999");
    EXPECT_FALSE(clipboard.connected());
    EXPECT_TRUE(clipboard.snapshot().empty());
    EXPECT_FALSE(clipboard.writeText("x"));
    EXPECT_FALSE(clipboard.restore({{"UTF8_STRING", "UTF8_STRING", 8, "x"}}));
    EXPECT_FALSE(clipboard.readText().has_value());
    EXPECT_FALSE(clipboard.saveToClipboardManager());
}

TEST(X11ClipboardTest, WithoutAClipboardManagerSavingIsRefusedQuickly) {
    X11Clipboard clipboard;
    ASSERT_TRUE(clipboard.writeText("kept until exit"));
    EXPECT_FALSE(clipboard.saveToClipboardManager());
}

TEST(X11ClipboardTest, AClipboardManagerKeepsWhatWeOwnedWhenWeQuit) {
    StandInClipboardManager manager;
    ASSERT_TRUE(manager.running());
    TempDir dir;
    const std::string png = "\x89PNG\r\n\x1a\n" + randomBytes(4096, 3);
    struct Case {
        const char* name;
        std::function<void(X11Clipboard&)> take;
        bool saved;
        std::map<std::string, std::string> served;  // what any application pastes afterwards
    };
    std::unique_ptr<ChildProcess> otherOwner;
    const Case cases[] = {
        {"a written text", [](X11Clipboard& c) { ASSERT_TRUE(c.writeText("終了後も残る text")); }, true,
         {{"UTF8_STRING", "終了後も残る text"}, {"text/plain;charset=utf-8", "終了後も残る text"}}},
        {"a restored clipboard of HTML and PNG",
         [&](X11Clipboard& c) {
             ASSERT_TRUE(c.restore({{"text/html", "text/html", 8, "<b>保存</b>"}, {"image/png", "image/png", 8, png}}));
         },
         true, {{"text/html", "<b>保存</b>"}, {"image/png", png}}},
        {"nothing ever owned", [](X11Clipboard&) {}, false, {{"image/png", png}}},
        {"another application copied since",
         [&](X11Clipboard& c) {
             ASSERT_TRUE(c.writeText("上書きされる"));
             otherOwner = xclipOwn(dir, "text/plain", "他のアプリ");
             ASSERT_TRUE(waitUntil(10s, [&] { return c.readText() != std::optional<std::string>("上書きされる"); }));
         },
         false, {{"text/plain", "他のアプリ"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int savesBefore = manager.saves();
        const auto begun = std::chrono::steady_clock::now();
        {
            X11Clipboard clipboard;
            ASSERT_TRUE(clipboard.connected());
            c.take(clipboard);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - begun, 10s);
        EXPECT_EQ(manager.saves(), savesBefore + (c.saved ? 1 : 0));
        for (const auto& [target, bytes] : c.served) EXPECT_EQ(xclipRead(target), bytes) << target;
    }
    if (otherOwner) otherOwner->stop();
}
