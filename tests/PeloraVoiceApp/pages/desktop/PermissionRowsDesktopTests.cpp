// The permission card's and the sheet's rows over the session's real sources: the
// accessibility bus's switch, a sound server stopped and started by its process id, and a
// file manager on the session bus that records what it is asked to show.
#include "tests/PeloraVoiceApp/pages/PagesFixture.h"

#include "PeloraVoiceApp/controller/DesktopPermissionAccess.h"
#include "PeloraVoiceApp/pages/PermissionSheetView.h"
#include "PeloraVoiceApp/pages/PermissionStepRow.h"
#include "PeloraVoiceApp/pages/ShortcutsPageView.h"
#include "PeloraVoiceApp/system/PasterPermissions.h"
#include "PeloraVoiceApp/system/SessionPermissionSources.h"
#include "platform/audio/PulseAudioService.h"
#include "platform/keymonitor/X11KeyMonitor.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateSoundServer.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/SessionAccessibility.h"
#include "tests/support/TempDir.h"

#include <QLabel>
#include <QPushButton>
#include <QUrl>

#include <algorithm>
#include <thread>

using namespace std::chrono_literals;
using namespace pelora;
using namespace pelora::pages;
using namespace pelora::pages_testing;
using pelora::testing::ChildProcess;
using pelora::testing::PrivateSoundServer;
using pelora::testing::ScopedEnvironment;
using pelora::testing::TempDir;

namespace {

// The desktop's permission reads and repairs, as the program builds them.
struct SessionDesktop {
    explicit SessionDesktop(MainThreadScheduler& scheduler, std::optional<std::string> executablePath = std::nullopt)
        : permissions(sources(executablePath)), access(permissions, scheduler) {}

    PasterPermissions::Sources sources(const std::optional<std::string>& executablePath) {
        PasterPermissions::Sources made = sessionPermissionSources(keys, audio);
        if (executablePath) made.executablePath = *executablePath;
        return made;
    }

    keymonitor::X11KeyMonitor keys;
    audio::PulseAudioService audio;
    PasterPermissions permissions;
    DesktopPermissionAccess access;
};

class PermissionRowsDesktop : public PagesFixture {
protected:
    void SetUp() override {
        PagesFixture::SetUp();
        ASSERT_NE(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr) << "runs in the private desktop";
    }
    void TearDown() override {
        sheet_.reset();
        page_.reset();
        PagesFixture::TearDown();
        model.reset();
        desktop_.reset();
        pelora::testing::setAccessibilityEnabled(true);
    }
    // The page and the sheet over a controller that reads `desktop`.
    void show(std::unique_ptr<SessionDesktop> desktop) {
        desktop_ = std::move(desktop);
        realPermissions = &desktop_->access;
        makeAdapter();
        page_ = std::make_unique<ShortcutsPageView>(*adapter_);
        sheet_ = std::make_unique<PermissionSheetView>(*adapter_);
    }
    // Controller ticks, each 1.2 s apart in real time too, until `done` or about 15 s.
    bool ticksUntil(const std::function<bool()>& done) {
        for (int tick = 0; tick < 12 && !done(); ++tick) {
            std::this_thread::sleep_for(1200ms);
            scheduler.advance(1200ms);
            QCoreApplication::processEvents();
        }
        return done();
    }
    // Shown as granted: the badge reading "許可済み", no button.
    static bool readsGranted(const PermissionStepRow* row) {
        return row->grantedBadge()->isVisibleTo(row) && row->grantedBadge()->text() == QString::fromUtf8("許可済み") &&
               !row->button()->isVisibleTo(row);
    }
    static bool offersButton(const PermissionStepRow* row) {
        return row->button()->isVisibleTo(row) && !row->grantedBadge()->isVisibleTo(row);
    }

    std::unique_ptr<SessionDesktop> desktop_;
    std::unique_ptr<ShortcutsPageView> page_;
    std::unique_ptr<PermissionSheetView> sheet_;
};

// With the session's accessibility switched off both rows offer their button; pressing
// either switches it on on the bus, and the row reads "許可済み" by the next tick.
TEST_F(PermissionRowsDesktop, TheAccessibilityButtonSwitchesTheBusOn) {
    struct Case {
        const char* name;
        std::function<PermissionStepRow*()> row;
    };
    const Case cases[] = {
        {"settings page", [this] { return page_->accessibilityRow(); }},
        {"permission sheet", [this] { return sheet_->accessibilityRow(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pelora::testing::setAccessibilityEnabled(false);
        ASSERT_FALSE(pelora::testing::accessibilityEnabled());
        auto desktop = std::make_unique<SessionDesktop>(scheduler);
        ASSERT_FALSE(desktop->permissions.refreshNow().accessibilityTrusted);
        show(std::move(desktop));
        for (PermissionStepRow* row : {page_->accessibilityRow(), sheet_->accessibilityRow()})
            EXPECT_TRUE(offersButton(row));
        EXPECT_TRUE(shown(child(*sheet_, "accessibilityRepair"), *sheet_));

        c.row()->button()->click();
        EXPECT_TRUE(pelora::testing::accessibilityEnabled()) << "IsEnabled on the accessibility bus";
        scheduler.advance(AppViewModel::permissionMonitorPeriod);
        for (PermissionStepRow* row : {page_->accessibilityRow(), sheet_->accessibilityRow()})
            EXPECT_TRUE(readsGranted(row));
        EXPECT_FALSE(shown(child(*sheet_, "accessibilityRepair"), *sheet_));
        TearDown();
    }
}

// The microphone rows follow a sound server of the test's own: killed by its process id,
// both rows offer their button and the sheet its repair; started again, "許可済み".
TEST_F(PermissionRowsDesktop, TheMicrophoneRowsFollowTheSoundServer) {
    PrivateSoundServer server;
    ScopedEnvironment address("PULSE_SERVER", server.address());
    auto desktop = std::make_unique<SessionDesktop>(scheduler);
    ASSERT_TRUE(pelora::testing::waitUntil(10s, [&] { return desktop->permissions.refreshNow().microphoneAuthorized; }))
        << "the sound server is reached";
    show(std::move(desktop));
    auto rows = [&] { return std::array{page_->microphoneRow(), sheet_->microphoneRow()}; };
    for (PermissionStepRow* row : rows()) EXPECT_TRUE(readsGranted(row));

    server.kill();
    EXPECT_TRUE(ticksUntil([&] { return offersButton(page_->microphoneRow()); })) << "the server is gone";
    EXPECT_TRUE(offersButton(sheet_->microphoneRow()));
    EXPECT_TRUE(shown(child(*sheet_, "microphoneRepair"), *sheet_));

    server.start();
    EXPECT_TRUE(ticksUntil([&] { return readsGranted(page_->microphoneRow()); })) << "the server is back";
    EXPECT_TRUE(readsGranted(sheet_->microphoneRow()));
    EXPECT_FALSE(shown(child(*sheet_, "microphoneRepair"), *sheet_));
    EXPECT_EQ(model->statusNoticeMessage(), "✓ マイク音声取得の権限が有効になりました！音声入力が利用可能です。");
}

// A file manager of the test's own on the session bus, recording each call.
class FileManagerStandIn {
public:
    FileManagerStandIn()
        : process_({.argv = {PELORA_SOURCE_DIR "/tests/support/programs/file_manager_standin.py", "--calls",
                             (dir_ / "calls.jsonl").string(), "--ready", (dir_ / "ready").string()},
                    .log = dir_ / "standin.log"}) {
        if (!pelora::testing::waitUntil(10s, [&] { return std::filesystem::exists(dir_ / "ready"); }))
            throw std::runtime_error("the file manager stand-in did not take its name: " +
                                     pelora::testing::readFile(dir_ / "standin.log"));
    }
    // Each call as recorded: method and URIs.
    std::vector<nlohmann::json> calls() const {
        std::vector<nlohmann::json> found;
        std::ifstream in(dir_ / "calls.jsonl");
        for (std::string line; std::getline(in, line);) found.push_back(nlohmann::json::parse(line));
        return found;
    }

private:
    TempDir dir_;
    ChildProcess process_;
};

// "ファイルマネージャでアプリを表示" asks the desktop's file manager to show the program
// itself, by a file URI that stays valid for folders with spaces, quotes and Japanese names.
TEST_F(PermissionRowsDesktop, TheRevealAsksTheFileManagerToShowTheProgram) {
    FileManagerStandIn fileManager;
    TempDir folder;
    const std::filesystem::path odd = folder.path() / "Pelora Voice's 2" / "アプリ #1" / "PeloraVoice2";
    std::error_code error;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe", error).string();
    struct Case {
        const char* name;
        std::optional<std::string> executablePath;
        std::string expectedPath;
    };
    const Case cases[] = {
        {"this program", std::nullopt, self},
        {"a folder with spaces, a quote, a hash and Japanese", odd.string(), odd.string()},
    };
    pelora::testing::setAccessibilityEnabled(false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = fileManager.calls().size();
        auto desktop = std::make_unique<SessionDesktop>(scheduler, c.executablePath);
        desktop->permissions.refreshNow();
        show(std::move(desktop));
        auto* reveal = child<QPushButton>(*sheet_, "revealApp");
        ASSERT_TRUE(shown(reveal, *sheet_));
        EXPECT_EQ(reveal->text(), QString::fromUtf8("ファイルマネージャでアプリを表示"));
        reveal->click();
        const auto calls = fileManager.calls();
        ASSERT_EQ(calls.size(), before + 1);
        EXPECT_EQ(calls.back()["method"], "ShowItems");
        // One valid URI (nothing left unescaped that a URI may not hold) naming the file.
        const std::string uri = calls.back()["uris"][0];
        EXPECT_EQ(uri.rfind("file:///", 0), 0u) << uri;
        EXPECT_EQ(uri.find_first_of(" \"<>\\^`{|}"), std::string::npos) << uri;
        EXPECT_TRUE(std::all_of(uri.begin(), uri.end(), [](char ch) { return ch > 0x20 && ch < 0x7f; })) << uri;
        const QUrl parsed(QString::fromStdString(uri), QUrl::StrictMode);
        ASSERT_TRUE(parsed.isValid()) << uri;
        EXPECT_EQ(parsed.toLocalFile().toStdString(), c.expectedPath) << uri;
        page_.reset();
        sheet_.reset();
        adapter_.reset();
        model.reset();
        desktop_.reset();
    }
}

}  // namespace
