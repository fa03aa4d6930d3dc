// Speed of the desktop's keys, microphone, permission reads and earlier-edition search.
// The key and sound cases need the private desktop:
//   tests/support/programs/pelora-desktop-run -- bench/bench_app_system_bench
// (without DISPLAY or a sound server those cases report an error and are skipped).
#include "PeloraVoiceApp/system/LegacyPeloraApps.h"
#include "PeloraVoiceApp/system/MicRecorder.h"
#include "PeloraVoiceApp/system/SessionPermissionSources.h"
#include "PeloraVoiceApp/system/SoundFeedback.h"
#include "PeloraVoiceApp/system/PasterPermissions.h"
#include "PeloraVoiceApp/system/PushToTalkKey.h"
#include "platform/audio/PulseAudioService.h"
#include "platform/keymonitor/X11KeyMonitor.h"
#include "platform/processes/ProcessTable.h"
#ifdef PELORA_BENCH_PRIVATE_SOUND_SERVER
#include "tests/support/PrivateSoundServer.h"
#include "tests/support/ScopedEnvironment.h"
#endif

#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <optional>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>
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

// The median and the slowest of the iterations' own times, in milliseconds, beside the
// mean that the table shows: one slow start among thirty moves the mean a lot.
void reportSpread(benchmark::State& state, std::vector<double> milliseconds) {
    if (milliseconds.empty()) return;
    std::sort(milliseconds.begin(), milliseconds.end());
    state.counters["median_ms"] = milliseconds[milliseconds.size() / 2];
    state.counters["max_ms"] = milliseconds.back();
}

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
    std::vector<double> times;
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
        times.push_back(std::chrono::duration<double, std::milli>(at - pressed).count());
        lock.unlock();
        XTestFakeKeyEvent(display, keycode, False, CurrentTime);
        XSync(display, False);
        std::this_thread::sleep_for(30ms);
    }
    reportSpread(state, times);
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
    double running = 0;  // ms until the stream runs, summed
    std::vector<double> times;
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
        running += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begun).count();
        std::unique_lock lock(mutex);
        if (!arrived.wait_for(lock, 2s, [&] { return first; })) {
            state.SkipWithError("no samples within 2 s");
            break;
        }
        lock.unlock();
        state.SetIterationTime(std::chrono::duration<double>(at - begun).count());
        times.push_back(std::chrono::duration<double, std::milli>(at - begun).count());
        started.capture.reset();
    }
    reportSpread(state, times);
    state.counters["stream_running_ms"] = running / double(state.iterations());
}
BENCHMARK(BM_StartToFirstSamples)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

// What the speakers' monitor hears, read by parecord with a short latency: the time the
// first loud sample of a sound arrived.
class SpeakerListener {
public:
    SpeakerListener() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const char* argv[] = {"parecord", "--raw", "--format=float32le", "--channels=1", "--rate=48000",
                              "--latency-msec=5", "-d", "speaker.monitor", nullptr};
        if (::posix_spawnp(&pid_, "parecord", &actions, nullptr, const_cast<char* const*>(argv), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        fd_ = fds[0];
        if (pid_ > 0) reader_ = std::thread([this] { read(); });
    }
    ~SpeakerListener() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        if (reader_.joinable()) reader_.join();
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
        if (fd_ >= 0) ::close(fd_);
    }
    bool running() const { return pid_ > 0; }
    // Waits until parecord hands over samples, at most 5 s: a sink that was idle may keep
    // its first listener waiting for a while, and a cue played meanwhile would count late.
    bool hearing() {
        std::unique_lock lock(mutex_);
        return heard_.wait_for(lock, 5s, [&] { return flowing_; });
    }
    // Waits until a sound began after `since`; none after 2 s.
    std::optional<std::chrono::steady_clock::time_point> soundAfter(std::chrono::steady_clock::time_point since) {
        std::unique_lock lock(mutex_);
        heard_.wait_for(lock, 2s, [&] { return start_ && *start_ > since; });
        if (start_ && *start_ > since) return start_;
        return std::nullopt;
    }

private:
    void read() {
        float block[240];
        std::optional<std::chrono::steady_clock::time_point> lastLoud;
        for (;;) {
            const ssize_t n = ::read(fd_, block, sizeof block);
            if (n <= 0) break;
            const auto now = std::chrono::steady_clock::now();
            if (!flowing_) {
                std::lock_guard lock(mutex_);
                flowing_ = true;
                heard_.notify_all();
            }
            bool loud = false;
            for (ssize_t i = 0; i < n / ssize_t(sizeof(float)); ++i) loud = loud || std::fabs(block[i]) > 0.02f;
            if (!loud) continue;
            std::lock_guard lock(mutex_);
            if (!lastLoud || now - *lastLoud > 150ms) start_ = now;  // a new sound
            lastLoud = now;
            heard_.notify_all();
        }
    }
    pid_t pid_ = -1;
    int fd_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable heard_;
    std::optional<std::chrono::steady_clock::time_point> start_;
    bool flowing_ = false;
};

// From the cue call to its first sound on the speakers' monitor (parecord's own few
// milliseconds of latency included).
void BM_CueCallToSound(benchmark::State& state) {
    pelora::audio::PulseAudioService audio;
    for (int i = 0; i < 200 && !audio.sourceState().serverReachable; ++i) std::this_thread::sleep_for(10ms);
    SpeakerListener listener;
    if (!audio.sourceState().serverReachable || !listener.running() || !listener.hearing()) {
        state.SkipWithError("no sound server");
        return;
    }
    std::vector<double> times;
    for (auto _ : state) {
        const auto called = std::chrono::steady_clock::now();
        audio.playCue(pelora::audio::Cue::tink);
        const auto heard = listener.soundAfter(called);
        if (!heard) {
            state.SkipWithError("the cue was not heard");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(*heard - called).count());
        times.push_back(std::chrono::duration<double, std::milli>(*heard - called).count());
        std::this_thread::sleep_for(250ms);  // the cue (90 ms) is over
    }
    reportSpread(state, times);
}
BENCHMARK(BM_CueCallToSound)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

#ifdef PELORA_BENCH_PRIVATE_SOUND_SERVER
// A sound server of the bench's own, asleep (SIGSTOP) while the case runs: nothing that
// the main thread calls may wait for it, and a recording start gives up after its limit.
struct SleepingSoundServer {
    pelora::testing::PrivateSoundServer server;
    pelora::testing::ScopedEnvironment address{"PULSE_SERVER", server.address()};
    pelora::audio::PulseAudioService audio;
    pelora::keymonitor::X11KeyMonitor keys;
    pelora::PasterPermissions permissions{pelora::sessionPermissionSources(keys, audio)};
    SleepingSoundServer() {
        for (int i = 0; i < 300 && !audio.sourceState().hasUsableDefaultSource; ++i) std::this_thread::sleep_for(10ms);
        server.pause();
        std::this_thread::sleep_for(100ms);
    }
    ~SleepingSoundServer() { server.resume(); }
};

void BM_StoppedSoundServer_PermissionRead(benchmark::State& state) {
    SleepingSoundServer session;
    for (auto _ : state) benchmark::DoNotOptimize(session.permissions.checkPermissionHealth());
}
BENCHMARK(BM_StoppedSoundServer_PermissionRead)->Unit(benchmark::kMicrosecond);

void BM_StoppedSoundServer_Cue(benchmark::State& state) {
    SleepingSoundServer session;
    pelora::SoundFeedback feedback(session.audio);
    for (auto _ : state) feedback.playError(true);
}
BENCHMARK(BM_StoppedSoundServer_Cue)->Unit(benchmark::kMicrosecond)->Iterations(50);

void BM_StoppedSoundServer_RecorderStartFails(benchmark::State& state) {
    SleepingSoundServer session;
    pelora::MicRecorder recorder(session.audio);
    for (auto _ : state) {
        try {
            recorder.start();
            state.SkipWithError("started against a sleeping server");
            break;
        } catch (const std::exception&) {
        }
    }
}
BENCHMARK(BM_StoppedSoundServer_RecorderStartFails)->Unit(benchmark::kMillisecond)->Iterations(3);
#endif

// The permission read while the accessibility bus's launcher sleeps (SIGSTOP).
void BM_StoppedAccessibilityBus_PermissionRead(benchmark::State& state) {
    FILE* answer = ::popen("gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus "
                           "--method org.freedesktop.DBus.GetConnectionUnixProcessID org.a11y.Bus 2>/dev/null",
                           "r");
    char text[128] = {};
    if (answer) {
        if (!std::fgets(text, sizeof text, answer)) text[0] = 0;
        ::pclose(answer);
    }
    const char* number = std::strstr(text, "uint32 ");
    if (!number) {
        state.SkipWithError("no accessibility bus");
        return;
    }
    const pid_t launcher = static_cast<pid_t>(std::atol(number + 7));
    pelora::audio::PulseAudioService audio;
    pelora::keymonitor::X11KeyMonitor keys;
    pelora::PasterPermissions permissions(pelora::sessionPermissionSources(keys, audio));
    std::this_thread::sleep_for(300ms);
    ::kill(launcher, SIGSTOP);
    std::this_thread::sleep_for(700ms);  // the worker is now waiting on it
    for (auto _ : state) benchmark::DoNotOptimize(permissions.checkPermissionHealth());
    ::kill(launcher, SIGCONT);
}
BENCHMARK(BM_StoppedAccessibilityBus_PermissionRead)->Unit(benchmark::kMicrosecond);

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
