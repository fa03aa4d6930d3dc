// Decoding speed and memory of AudioDecoder against ffmpeg itself, in one run.
//
// Makes a 60-minute 44.1 kHz stereo MP3 and M4A and a 3-hour silent MP3 with ffmpeg, then:
//   * time: decodes each hour file to 16 kHz mono with
//     `ffmpeg -nostdin -i X -ac 1 -ar 16000 -f f32le -y /dev/null` and with
//     AudioDecoder::decode16kMono, side by side, alternating, several rounds; the best
//     round of each counts. Goal: ours / ffmpeg <= 1.0.
//   * memory: peak resident memory while decoding each file (the 3-hour one included)
//     against the size of the samples returned. Goal: peak <= 1.3 x output.
//
// Usage: bench_decode_bench [minutes [folder]]
//   minutes: length of the timed files (default 60; the silent file is always 3 hours)
//   folder:  where the files are made and kept for the next run (default: a temporary
//            folder, removed at the end)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "engine/recognition/AudioDecoder.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 3;
constexpr int kSilentMinutes = 180;

// Starts a program with its output streams on /dev/null.
pid_t start(const std::vector<std::string>& argv) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        std::FILE* null = std::fopen("/dev/null", "w");
        if (null) {
            dup2(fileno(null), STDOUT_FILENO);
            dup2(fileno(null), STDERR_FILENO);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }
double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Cost {
    double wall = 0;
    double user = 0;
    double system = 0;
    bool ok = true;
};

// Waits for a started program; its status and CPU times.
Cost finish(pid_t pid, Clock::time_point started) {
    Cost cost;
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) < 0) return {0, 0, 0, false};
    cost.wall = seconds(Clock::now() - started);
    cost.user = seconds(usage.ru_utime);
    cost.system = seconds(usage.ru_stime);
    cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return cost;
}

Cost run(const std::vector<std::string>& argv) {
    const Clock::time_point started = Clock::now();
    return finish(start(argv), started);
}

// Forgets the peak so far, so that the next reading covers only what follows.
void resetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

long statusKilobytes(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
    }
    return -1;
}

struct Decoded {
    Cost cost;
    std::size_t count = 0;
    double peakMiB = 0;
    double beforeMiB = 0;
};

Decoded decodeOurs(const fs::path& file) {
    Decoded d;
    resetPeakMemory();
    d.beforeMiB = static_cast<double>(statusKilobytes("VmRSS")) / 1024.0;
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const Clock::time_point t0 = Clock::now();
    try {
        const std::vector<float> samples = pelora::AudioDecoder::decode16kMono(file, nullptr);
        d.count = samples.size();
    } catch (const std::exception& e) {
        std::cerr << file.filename().string() << ": " << e.what() << "\n";
        d.cost.ok = false;
    }
    d.cost.wall = seconds(Clock::now() - t0);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    d.cost.user = seconds(after.ru_utime) - seconds(before.ru_utime);
    d.cost.system = seconds(after.ru_stime) - seconds(before.ru_stime);
    d.peakMiB = static_cast<double>(statusKilobytes("VmHWM")) / 1024.0;
    return d;
}

Cost decodeWithFfmpeg(const fs::path& file) {
    return run({"/usr/bin/ffmpeg", "-nostdin", "-i", file.string(), "-ac", "1", "-ar", "16000", "-f", "f32le", "-y",
                "/dev/null"});
}

double outputMiB(std::size_t count) { return static_cast<double>(count) * sizeof(float) / (1024.0 * 1024.0); }

// Reports the peak memory of one decode; true when it is within the goal.
bool reportMemory(const Decoded& d) {
    const double ratio = d.peakMiB / std::max(outputMiB(d.count), 1e-9);
    std::printf("  memory: peak RSS %.1f MiB (%.1f MiB before), output %.1f MiB, ratio %.2f (goal <= 1.3)\n",
                d.peakMiB, d.beforeMiB, outputMiB(d.count), ratio);
    return d.cost.ok && ratio <= 1.3;
}

// Makes the bench files that are not there yet, the encoders side by side.
bool makeFiles(const fs::path& dir, int minutes) {
    const std::string duration = std::to_string(minutes * 60);
    // Two different channels: a tone and modulated noise, so that encoders have real work.
    const std::vector<std::string> source = {"/usr/bin/ffmpeg", "-nostdin", "-y", "-f", "lavfi", "-i",
                                             "sine=f=440:sample_rate=44100:d=" + duration, "-f", "lavfi", "-i",
                                             "anoisesrc=color=pink:amplitude=0.2:sample_rate=44100:d=" + duration,
                                             "-filter_complex", "[0][1]amerge=inputs=2[m]", "-map", "[m]"};
    struct Job {
        fs::path file;
        std::vector<std::string> argv;
    };
    std::vector<Job> jobs;
    const std::string tag = std::to_string(minutes) + "min";
    std::vector<std::string> mp3 = source;
    mp3.insert(mp3.end(), {"-c:a", "libmp3lame", "-b:a", "128k"});
    jobs.push_back({dir / (tag + ".mp3"), mp3});
    std::vector<std::string> m4a = source;
    m4a.insert(m4a.end(), {"-c:a", "aac", "-b:a", "128k"});
    jobs.push_back({dir / (tag + ".m4a"), m4a});
    jobs.push_back({dir / "silent-3h.mp3",
                    {"/usr/bin/ffmpeg", "-nostdin", "-y", "-f", "lavfi", "-i",
                     "anullsrc=r=44100:cl=stereo:d=" + std::to_string(kSilentMinutes * 60), "-c:a", "libmp3lame",
                     "-b:a", "64k"}});

    std::vector<std::pair<pid_t, Job>> running;
    for (Job& job : jobs) {
        if (fs::exists(job.file)) continue;
        // Made beside the final name and renamed, so an interrupted run leaves no half file.
        const fs::path partial = job.file.parent_path() / ("partial-" + job.file.filename().string());
        job.argv.push_back(partial.string());
        running.emplace_back(start(job.argv), job);
    }
    if (running.empty()) return true;
    std::cout << "Making the bench files with ffmpeg in " << dir << " ...\n" << std::flush;
    const Clock::time_point t0 = Clock::now();
    bool ok = true;
    for (auto& [pid, job] : running) {
        const fs::path partial = job.argv.back();
        if (finish(pid, t0).ok) {
            fs::rename(partial, job.file);
        } else {
            std::cerr << "ffmpeg could not make " << job.file << "\n";
            ok = false;
        }
    }
    std::cout << "  made in " << seconds(Clock::now() - t0) << " s\n\n";
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 60;
    if (minutes < 1 || argc > 3) {
        std::cerr << "Usage: bench_decode_bench [minutes [folder]]\n";
        return 2;
    }
    fs::path dir;
    const bool keep = argc > 2;
    if (keep) {
        dir = argv[2];
        fs::create_directories(dir);
    } else {
        std::string pattern = (fs::temp_directory_path() / "decode-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) return 1;
        dir = pattern;
    }
    if (!makeFiles(dir, minutes)) {
        if (!keep) fs::remove_all(dir);
        return 1;
    }

    bool met = true;
    const std::string tag = std::to_string(minutes) + "min";
    for (const std::string& name : {tag + ".mp3", tag + ".m4a"}) {
        const fs::path file = dir / name;
        Cost bestFfmpeg{1e300, 0, 0, true};
        Decoded bestOurs;
        bestOurs.cost.wall = 1e300;
        Decoded last;
        for (int round = 0; round < kRounds; ++round) {
            const Cost f = decodeWithFfmpeg(file);
            if (!f.ok) {
                std::cerr << "ffmpeg failed on " << name << "\n";
                met = false;
                break;
            }
            if (f.wall < bestFfmpeg.wall) bestFfmpeg = f;
            last = decodeOurs(file);
            if (last.cost.wall < bestOurs.cost.wall) bestOurs = last;
        }
        const double ratio = bestOurs.cost.wall / bestFfmpeg.wall;
        std::printf("%s: %zu samples (%.1f s of audio), best of %d rounds\n", name.c_str(), bestOurs.count,
                    static_cast<double>(bestOurs.count) / 16000.0, kRounds);
        std::printf("  time:   ours %.2f s (user %.2f, system %.2f), ffmpeg %.2f s (user %.2f, system %.2f), "
                    "ratio %.2f (goal <= 1.0)\n",
                    bestOurs.cost.wall, bestOurs.cost.user, bestOurs.cost.system, bestFfmpeg.wall, bestFfmpeg.user,
                    bestFfmpeg.system, ratio);
        met = reportMemory(bestOurs) && met && ratio <= 1.0 && bestOurs.cost.ok;
    }

    const Decoded silent = decodeOurs(dir / "silent-3h.mp3");
    std::printf("silent-3h.mp3: %zu samples (%.1f s of audio), %.2f s\n", silent.count,
                static_cast<double>(silent.count) / 16000.0, silent.cost.wall);
    met = reportMemory(silent) && met;

    if (!keep) fs::remove_all(dir);
    std::printf("\n%s\n", met ? "goals met" : "goals NOT met");
    return 0;
}
