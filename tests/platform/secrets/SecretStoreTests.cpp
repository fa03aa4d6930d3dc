#include "platform/secrets/SecretStore.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdlib>
#include <optional>

#include "tests/support/KeyringSession.h"
#include "tests/support/RerunTest.h"
#include "tests/support/RunCommand.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempDir.h"

namespace pelora::secrets {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnvironment;
using testing::TempDir;

constexpr std::string_view service = "org.example.pelora-test";
constexpr std::string_view account = "api-key";

unsigned modeOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 0777;
}

std::size_t entriesIn(const fs::path& folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
    return count;
}

// Writes bigger than `bytes` fail (EFBIG) while the object lives; works for root too.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        ::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    sighandler_t oldHandler_;
};

TEST(FileSecretStore, StoresReplacesAndRemovesPrivateFiles) {
    TempDir home;
    const fs::path folder = home / "config/App";
    auto store = fileSecretStore(folder);

    EXPECT_EQ(store->read(service, account).outcome, Outcome::notFound);
    EXPECT_EQ(store->remove(service, account), Outcome::notFound);

    const std::string binary("k\0\xff\n", 4);
    ASSERT_EQ(store->write(service, account, "label", binary), Outcome::done);
    const fs::path file = secretFilePath(folder, service, account);
    EXPECT_EQ(file.parent_path(), folder);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(store->read(service, account).outcome, Outcome::done);
    EXPECT_EQ(store->read(service, account).bytes, binary);

    ASSERT_EQ(store->write(service, account, "label", "second"), Outcome::done);
    EXPECT_EQ(store->read(service, account).bytes, "second");
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(entriesIn(folder), 1u) << "no temporary file is left behind";
    EXPECT_EQ(store->read(service, "other").outcome, Outcome::notFound);

    EXPECT_EQ(store->remove(service, account), Outcome::done);
    EXPECT_EQ(store->read(service, account).outcome, Outcome::notFound);
}

TEST(FileSecretStore, AFailedWriteKeepsThePreviousSecret) {
    TempDir home;
    auto store = fileSecretStore(home.path());
    ASSERT_EQ(store->write(service, account, "", "old-key"), Outcome::done);
    {
        FileSizeLimit limit(4);
        EXPECT_EQ(store->write(service, account, "", "a-new-key-longer-than-the-limit"), Outcome::failed);
    }
    EXPECT_EQ(store->read(service, account).bytes, "old-key");
    EXPECT_EQ(entriesIn(home.path()), 1u) << "the unfinished temporary file is removed";

    // A folder that cannot be made fails the write too.
    testing::writeFile(home / "plain-file", "x");
    EXPECT_EQ(fileSecretStore(home / "plain-file/App")->write(service, account, "", "k"), Outcome::failed);
}

TEST(FileSecretStore, NamesStayInsideTheFolder) {
    const fs::path folder = "/base/App";
    struct Case {
        const char* service;
        const char* account;
    };
    const Case cases[] = {{"..", ".."}, {"../../etc", "passwd"}, {"a/b", "c/d"}, {"", ""}, {"サービス", "鍵"}};
    for (const auto& c : cases) {
        const fs::path path = secretFilePath(folder, c.service, c.account);
        EXPECT_EQ(path.parent_path(), folder) << c.service << " / " << c.account;
        EXPECT_NE(path.filename(), "..") << c.service;
    }
    EXPECT_NE(secretFilePath(folder, "a.b", "c"), secretFilePath(folder, "a", "b.c"));
    EXPECT_NE(secretFilePath(folder, "a@b", "c"), secretFilePath(folder, "a", "b@c"));
    EXPECT_NE(secretFilePath(folder, "a%40", "c"), secretFilePath(folder, "a@", "c"));
}

TEST(UserConfigHome, FollowsXDGConfigHomeWhenItIsAnAbsolutePath) {
    ScopedEnvironment home("HOME", "/home/tester");
    struct Case {
        std::optional<std::string> configHome;
        const char* expected;
    };
    const Case cases[] = {
        {"/custom/config", "/custom/config"},
        {std::nullopt, "/home/tester/.config"},
        {"", "/home/tester/.config"},
        {"relative/config", "/home/tester/.config"},
    };
    for (const auto& c : cases) {
        ScopedEnvironment configHome("XDG_CONFIG_HOME", c.configHome);
        EXPECT_EQ(userConfigHome(), fs::path(c.expected)) << c.configHome.value_or("(unset)");
    }
}

// The item as another Secret Service client sees it: the object paths of unlocked items
// carrying exactly these attributes.
std::string searchItemsOverDBus() {
    const auto result = testing::runCommand(
        {"gdbus", "call", "--session", "--dest", "org.freedesktop.secrets", "--object-path", "/org/freedesktop/secrets",
         "--method", "org.freedesktop.Secret.Service.SearchItems",
         "{'service': '" + std::string(service) + "', 'account': '" + std::string(account) + "'}"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return result.out;
}

TEST(SecretServiceStore, StoresReplacesAndRemovesItemsOfTheKeyring) {
    TempDir home;
    if (testing::rerunCurrentTestIn(testing::keyringSessionLauncher(), testing::keyringSessionEnvironment(home.path()))) {
        return;
    }
    auto store = secretServiceStore();
    EXPECT_EQ(store->read(service, account).outcome, Outcome::notFound);
    EXPECT_EQ(store->remove(service, account), Outcome::notFound);

    const std::string binary("k\0\xff\n", 4);
    ASSERT_EQ(store->write(service, account, "Pelora test", binary), Outcome::done);
    EXPECT_EQ(store->read(service, account).outcome, Outcome::done);
    EXPECT_EQ(store->read(service, account).bytes, binary);
    EXPECT_NE(searchItemsOverDBus().find("/org/freedesktop/secrets/collection/login/"), std::string::npos);

    // A second write replaces the item instead of adding another one.
    ASSERT_EQ(store->write(service, account, "Pelora test", "second"), Outcome::done);
    EXPECT_EQ(store->read(service, account).bytes, "second");
    const std::string items = searchItemsOverDBus();
    EXPECT_EQ(items.find("/org/freedesktop/secrets/collection/login/"),
              items.rfind("/org/freedesktop/secrets/collection/login/"))
        << "exactly one item: " << items;
    EXPECT_EQ(store->read(service, "other").outcome, Outcome::notFound);

    EXPECT_EQ(store->remove(service, account), Outcome::done);
    EXPECT_EQ(store->read(service, account).outcome, Outcome::notFound);
    EXPECT_EQ(searchItemsOverDBus().find("/org/freedesktop/secrets/collection/"), std::string::npos);

    // The user store uses the keyring here: no file appears.
    ASSERT_EQ(userSecretStore("App")->write(service, account, "Pelora test", "in-keyring"), Outcome::done);
    EXPECT_EQ(store->read(service, account).bytes, "in-keyring");
    EXPECT_FALSE(fs::exists(userConfigHome() / "App"));
}

TEST(SecretServiceStore, WithoutASessionBusNothingAnswersAndTheUserStoreUsesFiles) {
    TempDir home;
    if (testing::rerunCurrentTestIn({}, {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (home / "no-bus").string()},
                                         {"XDG_CONFIG_HOME", (home / "config").string()}})) {
        return;
    }
    auto keyring = secretServiceStore();
    EXPECT_EQ(keyring->read(service, account).outcome, Outcome::unavailable);
    EXPECT_EQ(keyring->write(service, account, "", "k"), Outcome::unavailable);
    EXPECT_EQ(keyring->remove(service, account), Outcome::unavailable);

    auto user = userSecretStore("App");
    ASSERT_EQ(user->write(service, account, "", "in-file"), Outcome::done);
    EXPECT_EQ(user->read(service, account).bytes, "in-file");
    EXPECT_EQ(fileSecretStore(userConfigHome() / "App")->read(service, account).bytes, "in-file");
    EXPECT_EQ(user->remove(service, account), Outcome::done);
    EXPECT_EQ(user->read(service, account).outcome, Outcome::notFound);
}

TEST(SecretServiceStore, ASessionBusWithoutSecretServiceCountsAsNone) {
    TempDir home;
    // A bus that can start no services at all, as on a headless machine without a keyring.
    testing::writeFile(home / "bus.conf",
                       "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                       "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                       "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
                       "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                       "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    if (testing::rerunCurrentTestIn({"dbus-run-session", "--config-file=" + (home / "bus.conf").string(), "--"},
                                    {{"XDG_CONFIG_HOME", (home / "config").string()}})) {
        return;
    }
    EXPECT_EQ(secretServiceStore()->read(service, account).outcome, Outcome::unavailable);
    ASSERT_EQ(userSecretStore("App")->write(service, account, "", "in-file"), Outcome::done);
    EXPECT_EQ(fileSecretStore(userConfigHome() / "App")->read(service, account).bytes, "in-file");
}

}  // namespace
}  // namespace pelora::secrets
