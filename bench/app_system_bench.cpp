// Speed of the desktop's keys, microphone, permission reads and earlier-edition search.
// The key and sound cases need the private desktop:
//   tests/support/programs/pelora-desktop-run -- bench/bench_app_system_bench
// (without DISPLAY or a sound server those cases report an error and are skipped).
#include "PeloraVoiceApp/system/LegacyPeloraApps.h"
#include "PeloraVoiceApp/system/PasterPermissions.h"
#include "PeloraVoiceApp/system/PushToTalkKey.h"
#include "platform/audio/PulseAudioService.h"
#include "platform/keymonitor/X11KeyMonitor.h"
#include "platform/processes/ProcessTable.h"

#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// A stand-in main thread: posted work runs in order on a thread of its own.
class ThreadScheduler final : public MainThreadScheduler {
public:
    ThreadScheduler() : thread_([this] { run(); }) {}
    ~ThreadScheduler() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_all();
        thread_.join();
    }
    void post(std::function<void()> work) override {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(work));
        ready_.notify_all();
    }
    Task postAfter(Duration, std::function<void()>) override { return Task(); }
    Task repeatEvery(Duration, std::function<void()>) override { return Task(); }
    Duration now() const override { return std::chrono::steady_clock::now().time_since_epoch(); }

private:
    void run() {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            ready_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            while (!queue_.empty()) {
                auto work = std::move(queue_.front());
                queue_.pop_front();
                lock.unlock();
                work();
                lock.lock();
            }
        }
    }
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

void BM_XTestPressToStartRecording(benchmark::State& state) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        state.SkipWithError("no DISPLAY");
        return;
    }
    pelora::keymonitor::X11KeyMonitor monitor;
    ThreadScheduler scheduler;
    pelora::PushToTalkKey key(pelora::PTTShortcutKey::rightControl, monitor, scheduler);
    std::mutex mutex;
    std::condition_variable started;
    std::chrono::steady_clock::time_point at;
    bool fired = false;
    key.onStartRecording = [&](bool) {
        std::lock_guard lock(mutex);
        at = std::chrono::steady_clock::now();
        fired = true;
        started.notify_all();
    };
    key.updateConfiguration(pelora::PTTShortcutKey::rightControl, false, true);
    const int keycode = XKeysymToKeycode(display, XK_Control_R);
    for (auto _ : state) {
        {
            std::lock_guard lock(mutex);
            fired = false;
        }
        const auto pressed = std::chrono::steady_clock::now();
        XTestFakeKeyEvent(display, keycode, True, CurrentTime);
        XFlush(display);
        std::unique_lock lock(mutex);
        if (!started.wait_for(lock, 2s, [&] { return fired; })) {
            state.SkipWithError("no start");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(at - pressed).count());
        lock.unlock();
        XTestFakeKeyEvent(display, keycode, False, CurrentTime);
        XSync(display, False);
        std::this_thread::sleep_for(30ms);
    }
    XCloseDisplay(display);
}
BENCHMARK(BM_XTestPressToStartRecording)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

void BM_StartToFirstSamples(benchmark::State& state) {
    pelora::audio::PulseAudioService audio;
    for (int i = 0; i < 200 && !audio.sourceState().serverReachable; ++i) std::this_thread::sleep_for(10ms);
    if (!audio.sourceState().hasUsableDefaultSource) {
        state.SkipWithError("no sound server with a microphone");
        return;
    }
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable arrived;
        bool first = false;
        std::chrono::steady_clock::time_point at;
        const auto begun = std::chrono::steady_clock::now();
        auto started = audio.startCapture({[&](std::span<const float>) {
                                               std::lock_guard lock(mutex);
                                               if (!first) at = std::chrono::steady_clock::now();
                                               first = true;
                                               arrived.notify_all();
                                           },
                                           {}},
                                          2000ms);
        if (!started.capture) {
            state.SkipWithError(started.message.c_str());
            break;
        }
        std::unique_lock lock(mutex);
        arrived.wait_for(lock, 2s, [&] { return first; });
        lock.unlock();
        state.SetIterationTime(std::chrono::duration<double>(at - begun).count());
        started.capture.reset();
    }
}
BENCHMARK(BM_StartToFirstSamples)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

void BM_CheckPermissionHealth(benchmark::State& state) {
    pelora::PasterPermissions::Sources sources;
    sources.accessibilityTrusted = [] { return true; };
    sources.syntheticEventsReach = [] { return true; };
    sources.rawKeyEventsReach = [] { return true; };
    sources.microphoneAuthorized = [] { return true; };
    sources.environment = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    pelora::PasterPermissions permissions(sources);
    for (auto _ : state) benchmark::DoNotOptimize(permissions.checkPermissionHealth());
}
BENCHMARK(BM_CheckPermissionHealth)->Unit(benchmark::kMicrosecond);

// Detection among 500 processes of this user and display laid out like /proc.
void BM_DetectAmong500Processes(benchmark::State& state) {
    const fs::path root = fs::temp_directory_path() / ("pelora-bench-proc-" + std::to_string(::getpid()));
    fs::create_directories(root);
    for (int pid = 1000; pid < 1500; ++pid) {
        const fs::path dir = root / std::to_string(pid);
        fs::create_directories(dir);
        const bool legacy = pid % 100 == 0;
        std::string environ = std::string("HOME=/home/u") + '\0' + "DISPLAY=:5" + '\0' + "LANG=ja_JP.UTF-8" + '\0';
        std::ofstream(dir / "environ") << environ;
        std::ofstream(dir / "status") << "Name:\tprog\nUmask:\t0022\nState:\tS\nTgid:\t" << pid << "\nUid:\t1000\t1000\t1000\t1000\n";
        std::ofstream(dir / "comm") << (legacy ? "PeloraVoice" : "prog") << "\n";
        std::ofstream(dir / "stat") << pid << " (prog) S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 777 0 0";
        fs::create_symlink(legacy ? "/opt/PeloraVoice" : "/usr/bin/prog", dir / "exe");
    }
    const pelora::LegacyPeloraApps::Scope scope{root, 1, 1000, ":5"};
    for (auto _ : state) benchmark::DoNotOptimize(pelora::LegacyPeloraApps::detect(scope));
    fs::remove_all(root);
}
BENCHMARK(BM_DetectAmong500Processes)->Unit(benchmark::kMillisecond);

// The real /proc: 500 sleeping processes of this user on one display (two of them named
// like an earlier edition), beside whatever else the machine runs.
class SleepingSession {
public:
    SleepingSession()
        : display_(":pelora-bench-" + std::to_string(::getpid())),
          folder_(fs::temp_directory_path() / ("pelora-bench-exe-" + std::to_string(::getpid()))) {
        fs::create_directories(folder_);
        const fs::path legacy = folder_ / "PeloraVoice";
        fs::copy_file("/bin/sleep", legacy, fs::copy_options::overwrite_existing);
        const std::string displayEntry = "DISPLAY=" + display_;
        for (int i = 0; i < 500; ++i) {
            const std::string program = i % 250 == 0 ? legacy.string() : "/bin/sleep";
            char* const argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("600"), nullptr};
            char* const envp[] = {const_cast<char*>(displayEntry.c_str()), nullptr};
            pid_t pid = 0;
            if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp) == 0) children_.push_back(pid);
        }
        // Until every child has become its program.
        for (int i = 0; i < 500 && pelora::LegacyPeloraApps::detect(scope()).size() < 2; ++i)
            std::this_thread::sleep_for(10ms);
    }
    ~SleepingSession() {
        for (pid_t pid : children_) ::kill(pid, SIGKILL);
        for (pid_t pid : children_) ::waitpid(pid, nullptr, 0);
        fs::remove_all(folder_);
    }
    pelora::LegacyPeloraApps::Scope scope() const {
        return {"/proc", static_cast<int>(::getpid()), static_cast<unsigned>(::getuid()), display_};
    }
    const std::string& display() const { return display_; }

private:
    std::string display_;
    fs::path folder_;
    std::vector<pid_t> children_;
};

// What the 1.2 s permission check pays: the scan after an earlier one.
void BM_DetectAmong500RealProcesses(benchmark::State& state) {
    SleepingSession session;
    std::size_t found = 0;
    for (auto _ : state) {
        auto apps = pelora::LegacyPeloraApps::detect(session.scope());
        found = apps.size();
        benchmark::DoNotOptimize(apps);
    }
    state.counters["found"] = double(found);
}
BENCHMARK(BM_DetectAmong500RealProcesses)->Unit(benchmark::kMillisecond);

// The first scan, which reads every session process's environment.
void BM_FirstScanAmong500RealProcesses(benchmark::State& state) {
    SleepingSession session;
    for (auto _ : state) {
        pelora::processes::ProcessTable table;
        benchmark::DoNotOptimize(table.sessionProcesses(static_cast<unsigned>(::getuid()), session.display(),
                                                        [](const auto& p) { return p.executable.ends_with("/PeloraVoice"); }));
    }
}
BENCHMARK(BM_FirstScanAmong500RealProcesses)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
