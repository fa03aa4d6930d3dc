// The one-instance guard in process: where its private folder goes and when a folder is not
// private enough, and the request a later start sends to the first.
#include "PeloraVoiceApp/window/SingleInstance.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLocalSocket>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

using namespace pelora;
using namespace pelora::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

QCoreApplication& application() {
    static QCoreApplication* app = [] {
        static int argc = 1;
        static char name[] = "single-instance-tests";
        static char* argv[] = {name, nullptr};
        return new QCoreApplication(argc, argv);
    }();
    return *app;
}

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info.st_mode;
}

TEST(SingleInstanceFolder, IsMadePrivateOrRefusedWhenOthersCouldReachIt) {
    struct Case {
        const char* what;
        void (*prepare)(const fs::path& folder);
        bool accepted;
    };
    const Case cases[] = {
        {"missing: made 0700", [](const fs::path&) {}, true},
        {"ours and 0700", [](const fs::path& f) { fs::create_directory(f); ::chmod(f.c_str(), 0700); }, true},
        {"open to the group", [](const fs::path& f) { fs::create_directory(f); ::chmod(f.c_str(), 0750); }, false},
        {"open to everybody", [](const fs::path& f) { fs::create_directory(f); ::chmod(f.c_str(), 0777); }, false},
        {"a regular file", [](const fs::path& f) { writeFile(f, "x"); }, false},
        {"a link to a private folder",
         [](const fs::path& f) {
             fs::create_directory(f.string() + "-real");
             ::chmod((f.string() + "-real").c_str(), 0700);
             fs::create_directory_symlink(f.string() + "-real", f);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir parent;
        c.prepare(parent / "PeloraVoice2");
        std::string problem;
        const auto folder = SingleInstance::privateFolder(parent.path(), "PeloraVoice2", problem);
        EXPECT_EQ(folder.has_value(), c.accepted) << problem;
        if (folder) {
            EXPECT_EQ(*folder, parent / "PeloraVoice2");
            EXPECT_EQ(modeOf(*folder) & 0777, 0700u);
        } else {
            EXPECT_FALSE(problem.empty());
        }
    }
}

TEST(SingleInstanceFolder, AnotherUsersFolderIsRefused) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root to give a folder away";
    TempDir parent;
    const fs::path folder = parent / "PeloraVoice2";
    fs::create_directory(folder);
    ::chmod(folder.c_str(), 0700);
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    std::string problem;
    EXPECT_FALSE(SingleInstance::privateFolder(parent.path(), "PeloraVoice2", problem));
    EXPECT_NE(problem.find("another user"), std::string::npos) << problem;
}

TEST(SingleInstanceFolder, WithoutRuntimeFolderFallsBackToAUserFolderUnderTheFallbackParent) {
    application();
    TempDir fallback;
    ScopedEnvironment noRuntime("XDG_RUNTIME_DIR", std::nullopt);
    SingleInstance instance({.runtimeDirectory = {}, .fallbackParent = fallback.path()});
    ASSERT_EQ(instance.start({}), SingleInstance::Role::primary) << instance.problem();
    EXPECT_EQ(instance.folder(), fallback / ("PeloraVoice2-" + std::to_string(::getuid())));
    EXPECT_EQ(modeOf(instance.folder()) & 0777, 0700u);
}

TEST(SingleInstanceFolder, AnOpenRuntimeFolderIsPassedOverForTheFallback) {
    application();
    TempDir runtime, fallback;
    fs::create_directory(runtime / "PeloraVoice2");
    ::chmod((runtime / "PeloraVoice2").c_str(), 0777);
    ScopedEnvironment variable("XDG_RUNTIME_DIR", runtime.path().string());
    SingleInstance instance({.runtimeDirectory = {}, .fallbackParent = fallback.path()});
    ASSERT_EQ(instance.start({}), SingleInstance::Role::primary) << instance.problem();
    EXPECT_EQ(instance.folder().parent_path(), fallback.path());
}

TEST(SingleInstanceFolder, NoPrivateFolderAnywhereRunsUnguarded) {
    application();
    TempDir runtime, fallback;
    for (const fs::path& f : {runtime / "PeloraVoice2", fallback / ("PeloraVoice2-" + std::to_string(::getuid()))}) {
        fs::create_directory(f);
        ::chmod(f.c_str(), 0755);
    }
    SingleInstance instance({.runtimeDirectory = runtime.path(), .fallbackParent = fallback.path()});
    EXPECT_EQ(instance.start({}), SingleInstance::Role::unguarded);
    EXPECT_FALSE(instance.problem().empty());
}

// Runs the event loop (the first instance answers there) until the later start is done.
template <class T>
T serveUntil(std::future<T>& later) {
    while (later.wait_for(10ms) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return later.get();
}

TEST(SingleInstanceRequest, LaterStartAsksTheFirstToShowItsWindow) {
    application();
    TempDir runtime;
    SingleInstance first({.runtimeDirectory = runtime.path()});
    int shown = 0;
    ASSERT_EQ(first.start([&] { ++shown; }), SingleInstance::Role::primary);

    auto later = std::async(std::launch::async, [&] {
        SingleInstance second({.runtimeDirectory = runtime.path(), .answerTimeoutMs = 10000});
        return second.start([] { ADD_FAILURE() << "a forwarding start serves nobody"; });
    });
    EXPECT_EQ(serveUntil(later), SingleInstance::Role::forwarded);
    EXPECT_EQ(shown, 1);

    // The lock file names the process holding it.
    EXPECT_EQ(readFile(runtime / "PeloraVoice2" / "instance.lock"), std::to_string(::getpid()) + "\n");
}

TEST(SingleInstanceRequest, AFirstInstanceThatNeverAnswersMakesTheLaterStartFail) {
    application();
    TempDir runtime;
    SingleInstance first({.runtimeDirectory = runtime.path()});
    ASSERT_EQ(first.start([] {}), SingleInstance::Role::primary);
    // Nobody runs the first one's event loop: it holds the lock but never answers.
    SingleInstance second({.runtimeDirectory = runtime.path(), .answerTimeoutMs = 1500});
    EXPECT_EQ(second.start({}), SingleInstance::Role::failed);
}

TEST(SingleInstanceRequest, UnknownOrOverlongRequestsShowNothing) {
    application();
    TempDir runtime;
    SingleInstance first({.runtimeDirectory = runtime.path()});
    int shown = 0;
    ASSERT_EQ(first.start([&] { ++shown; }), SingleInstance::Role::primary);
    const QString path = QString::fromStdString((runtime / "PeloraVoice2" / "instance.socket").string());
    for (const QByteArray& request : {QByteArray("quit\n"), QByteArray(200, 'x'), QByteArray("show-main-window")}) {
        auto sent = std::async(std::launch::async, [&] {
            QLocalSocket socket;
            socket.connectToServer(path);
            if (!socket.waitForConnected(5000)) return false;
            socket.write(request);
            socket.flush();
            socket.waitForDisconnected(700);
            return true;
        });
        EXPECT_TRUE(serveUntil(sent));
    }
    EXPECT_EQ(shown, 0);
}

}  // namespace
