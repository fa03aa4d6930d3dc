#include "engine/japanese/MirkInputSecretStore.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>

#include "platform/secrets/SecretStore.h"
#include "tests/support/KeyringSession.h"
#include "tests/support/RerunTest.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempDir.h"

namespace pelora {
namespace {

namespace fs = std::filesystem;
using Store = MirkInputSecretStore;
using testing::ScopedEnvironment;

// Each test runs in a fresh process that sees only one backend: the user's Secret
// Service (a private gnome-keyring), or no session bus at all, so the key goes to a
// private file under $XDG_CONFIG_HOME/PeloraVoice2/.
enum class Backend { keyring, file };

class MirkInputSecretStoreBackend : public ::testing::TestWithParam<Backend> {
protected:
    // False in the test's own process, which has already run the test in a fresh one.
    bool inFreshProcess() {
        std::map<std::string, std::string> environment;
        std::vector<std::string> launcher;
        if (GetParam() == Backend::keyring) {
            launcher = testing::keyringSessionLauncher();
            environment = testing::keyringSessionEnvironment(home_.path());
        } else {
            environment = {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (home_ / "no-bus").string()},
                           {"XDG_CONFIG_HOME", (home_ / "config").string()}};
        }
        environment[std::string(Store::environmentVariable)] = "";
        return !testing::rerunCurrentTestIn(launcher, environment);
    }

    static fs::path keyFile() {
        return secrets::secretFilePath(secrets::userConfigHome() / "PeloraVoice2", Store::service, Store::account);
    }

    // Where the key really is: the keyring item, or the file.
    std::unique_ptr<secrets::SecretStore> backing() const {
        if (GetParam() == Backend::keyring) return secrets::secretServiceStore();
        return secrets::fileSecretStore(secrets::userConfigHome() / "PeloraVoice2");
    }

    secrets::ReadResult stored() const { return backing()->read(Store::service, Store::account); }

    testing::TempDir home_;
};

TEST_P(MirkInputSecretStoreBackend, SavesTheTrimmedKeyAndReplacesIt) {
    if (!inFreshProcess()) return;
    EXPECT_TRUE(Store::deleteAPIKey()) << "nothing stored yet";
    EXPECT_EQ(Store::loadAPIKey(), std::nullopt);
    EXPECT_FALSE(Store::hasAPIKey());

    ASSERT_TRUE(Store::saveAPIKey("  sk-first \n"));
    EXPECT_EQ(stored().outcome, secrets::Outcome::done);
    EXPECT_EQ(stored().bytes, "sk-first");
    EXPECT_EQ(Store::loadAPIKey(), "sk-first");
    EXPECT_TRUE(Store::hasAPIKey());
    EXPECT_TRUE(Store::hasConfiguredKey());

    ASSERT_TRUE(Store::saveAPIKey("sk-second")) << "a second save replaces the key";
    EXPECT_EQ(Store::loadAPIKey(), "sk-second");

    if (GetParam() == Backend::file) {
        struct stat info {};
        ASSERT_EQ(::stat(keyFile().c_str(), &info), 0) << keyFile();
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    } else {
        EXPECT_FALSE(fs::exists(keyFile())) << "with a keyring nothing goes to a file";
    }

    EXPECT_TRUE(Store::deleteAPIKey());
    EXPECT_EQ(stored().outcome, secrets::Outcome::notFound);
    EXPECT_EQ(Store::loadAPIKey(), std::nullopt);
    EXPECT_TRUE(Store::deleteAPIKey()) << "deleting again still succeeds";
}

TEST_P(MirkInputSecretStoreBackend, SavingABlankKeyDeletesTheStoredOne) {
    if (!inFreshProcess()) return;
    EXPECT_TRUE(Store::saveAPIKey(" \n\t ")) << "also when nothing was stored";
    ASSERT_TRUE(Store::saveAPIKey("sk-key"));
    EXPECT_TRUE(Store::saveAPIKey("\u3000 \n"));
    EXPECT_EQ(stored().outcome, secrets::Outcome::notFound);
    EXPECT_FALSE(Store::hasAPIKey());
}

TEST_P(MirkInputSecretStoreBackend, TheEnvironmentVariableWinsOnEveryCall) {
    if (!inFreshProcess()) return;
    ASSERT_TRUE(Store::saveAPIKey("sk-stored"));
    struct Case {
        std::optional<std::string> variable;
        const char* loaded;
    };
    const Case cases[] = {
        {"  sk-environment\n", "sk-environment"},
        {"   ", "sk-stored"},
        {"", "sk-stored"},
        {std::nullopt, "sk-stored"},
        {"\tsk-other ", "sk-other"},
    };
    for (const auto& c : cases) {
        ScopedEnvironment variable(std::string(Store::environmentVariable), c.variable);
        EXPECT_EQ(Store::loadAPIKey(), c.loaded) << "[" << c.variable.value_or("(unset)") << "]";
        EXPECT_TRUE(Store::hasAPIKey());
    }
}

TEST_P(MirkInputSecretStoreBackend, StoredBytesThatAreNoKeyLoadAsNone) {
    if (!inFreshProcess()) return;
    struct Case {
        std::string bytes;
        std::optional<std::string> loaded;
    };
    const Case cases[] = {
        {"\xff\xfe", std::nullopt},
        {"sk-\xed\xa0\x80", std::nullopt},  // an encoded surrogate is no UTF-8
        {"sk-\xc0\xaf", std::nullopt},      // nor is an overlong form
        {" \n\t", std::nullopt},
        {"\u3000\u2028", std::nullopt},
        {"\u00A0sk-key\u2028\n", "sk-key"},
        {"sk-日本", "sk-日本"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(backing()->write(Store::service, Store::account, "test", c.bytes), secrets::Outcome::done);
        EXPECT_EQ(Store::loadAPIKey(), c.loaded) << "[" << c.bytes << "]";
        EXPECT_EQ(Store::hasAPIKey(), c.loaded.has_value()) << "[" << c.bytes << "]";
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, MirkInputSecretStoreBackend, ::testing::Values(Backend::keyring, Backend::file),
                         [](const auto& info) { return info.param == Backend::keyring ? "keyring" : "file"; });

// A storage whose answers the test decides, recording what the key store asks of it.
class ScriptedStorage final : public secrets::SecretStore {
public:
    secrets::ReadResult read(std::string_view, std::string_view) override {
        calls.push_back("read");
        if (readOutcome != secrets::Outcome::done) return {readOutcome, {}};
        if (!item) return {secrets::Outcome::notFound, {}};
        return {secrets::Outcome::done, *item};
    }
    secrets::Outcome write(std::string_view service, std::string_view account, std::string_view,
                           std::string_view bytes) override {
        calls.push_back("write " + std::string(service) + " " + std::string(account));
        if (writeOutcome == secrets::Outcome::done) item = std::string(bytes);
        return writeOutcome;
    }
    secrets::Outcome remove(std::string_view, std::string_view) override {
        calls.push_back("remove");
        if (removeOutcome != secrets::Outcome::done) return removeOutcome;
        const bool had = item.has_value();
        item.reset();
        return had ? secrets::Outcome::done : secrets::Outcome::notFound;
    }

    std::optional<std::string> item;
    secrets::Outcome readOutcome = secrets::Outcome::done;
    secrets::Outcome writeOutcome = secrets::Outcome::done;
    secrets::Outcome removeOutcome = secrets::Outcome::done;
    std::vector<std::string> calls;
};

class MirkInputSecretStoreFailures : public ::testing::Test {
protected:
    void SetUp() override { Store::useStorageForTesting(storage_); }
    void TearDown() override { Store::useStorageForTesting(nullptr); }

    std::shared_ptr<ScriptedStorage> storage_ = std::make_shared<ScriptedStorage>();
    ScopedEnvironment noVariable_{std::string(Store::environmentVariable), std::nullopt};
};

TEST_F(MirkInputSecretStoreFailures, AFailedSaveKeepsTheOldKey) {
    storage_->item = "sk-old";
    storage_->writeOutcome = secrets::Outcome::failed;
    EXPECT_FALSE(Store::saveAPIKey("sk-new"));
    EXPECT_EQ(Store::loadAPIKey(), "sk-old");
    EXPECT_EQ(storage_->calls.front(), "write com.peloravoice.mirk-input-targeting api-key");
    for (const auto& call : storage_->calls) EXPECT_NE(call, "remove") << "a save never deletes first";

    storage_->writeOutcome = secrets::Outcome::unavailable;
    EXPECT_FALSE(Store::saveAPIKey("sk-new"));
    EXPECT_EQ(Store::loadAPIKey(), "sk-old");
}

TEST_F(MirkInputSecretStoreFailures, StorageProblemsBecomeNoKeyOrFalse) {
    struct Case {
        const char* what;
        secrets::Outcome read, remove;
        bool hasKey, deleted;
    };
    const Case cases[] = {
        {"all well", secrets::Outcome::done, secrets::Outcome::done, true, true},
        {"read refused", secrets::Outcome::failed, secrets::Outcome::done, false, true},
        {"nothing answers", secrets::Outcome::unavailable, secrets::Outcome::unavailable, false, false},
        {"remove refused", secrets::Outcome::done, secrets::Outcome::failed, true, false},
    };
    for (const auto& c : cases) {
        storage_->item = "sk-key";
        storage_->readOutcome = c.read;
        storage_->removeOutcome = c.remove;
        EXPECT_EQ(Store::hasAPIKey(), c.hasKey) << c.what;
        EXPECT_EQ(Store::deleteAPIKey(), c.deleted) << c.what;
        EXPECT_EQ(Store::saveAPIKey("  "), c.deleted) << c.what << ": a blank save is a delete";
    }
}

}  // namespace
}  // namespace pelora
