// Decoding speed and memory of AudioDecoder on an hour of audio, against ffmpeg itself.
//
// Makes a 60-minute 44.1 kHz stereo MP3 and M4A with ffmpeg in a temporary folder, then for
// each decodes it to 16 kHz mono once with `ffmpeg -i X -ac 1 -ar 16000 -f f32le -` and once
// with AudioDecoder::decode16kMono, and prints the time ratio (ours / ffmpeg) and the peak
// resident memory during our decode against the size of the samples it returned.
// Goals: ratio <= 1.0, peak <= 1.3 x output.
//
// Usage: bench_decode_bench [minutes]   (default 60)

#include <sys/wait.h>
#include <unistd.h>

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

// Waits for a started program; returns its exit status.
int finish(pid_t pid) {
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int run(const std::vector<std::string>& argv) { return finish(start(argv)); }

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

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 60;
    if (minutes < 1) {
        std::cerr << "Usage: bench_decode_bench [minutes]\n";
        return 2;
    }
    std::string pattern = (fs::temp_directory_path() / "decode-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    const fs::path dir = pattern;
    const std::string duration = std::to_string(minutes * 60);

    std::cout << "Making " << minutes << " min of 44.1 kHz stereo audio (MP3 and M4A) with ffmpeg...\n" << std::flush;
    const Clock::time_point makeStart = Clock::now();
    // Two different channels: a tone and modulated noise, so that encoders have real work.
    const std::vector<std::string> source = {"/usr/bin/ffmpeg", "-nostdin", "-y", "-f", "lavfi", "-i",
                                             "sine=f=440:sample_rate=44100:d=" + duration, "-f", "lavfi", "-i",
                                             "anoisesrc=color=pink:amplitude=0.2:sample_rate=44100:d=" + duration,
                                             "-filter_complex", "[0][1]amerge=inputs=2[m]", "-map", "[m]"};
    std::vector<std::string> mp3 = source;
    mp3.insert(mp3.end(), {"-c:a", "libmp3lame", "-b:a", "128k", (dir / "hour.mp3").string()});
    std::vector<std::string> m4a = source;
    m4a.insert(m4a.end(), {"-c:a", "aac", "-b:a", "128k", (dir / "hour.m4a").string()});
    // The two encoders are single-threaded: run them side by side.
    const pid_t mp3Maker = start(mp3);
    const pid_t m4aMaker = start(m4a);
    const int mp3Status = finish(mp3Maker);
    const int m4aStatus = finish(m4aMaker);
    if (mp3Status != 0 || m4aStatus != 0) {
        std::cerr << "ffmpeg could not make the bench files\n";
        fs::remove_all(dir);
        return 1;
    }
    std::cout << "  made in " << seconds(Clock::now() - makeStart) << " s\n\n";

    bool met = true;
    for (const char* name : {"hour.mp3", "hour.m4a"}) {
        const fs::path file = dir / name;
        const Clock::time_point f0 = Clock::now();
        const int rc = run({"/usr/bin/ffmpeg", "-nostdin", "-i", file.string(), "-ac", "1", "-ar", "16000", "-f",
                            "f32le", "-"});
        const double ffmpegSeconds = seconds(Clock::now() - f0);
        if (rc != 0) {
            std::cerr << "ffmpeg failed on " << name << "\n";
            met = false;
            continue;
        }

        resetPeakMemory();
        const long before = statusKilobytes("VmRSS");
        const Clock::time_point d0 = Clock::now();
        std::size_t count = 0;
        {
            const std::vector<float> samples = pelora::AudioDecoder::decode16kMono(file, nullptr);
            count = samples.size();
        }
        const double oursSeconds = seconds(Clock::now() - d0);
        const long peak = statusKilobytes("VmHWM");

        const double outputMB = static_cast<double>(count) * sizeof(float) / (1024.0 * 1024.0);
        const double peakMB = static_cast<double>(peak) / 1024.0;
        const double ratio = oursSeconds / ffmpegSeconds;
        const double memoryRatio = peakMB / outputMB;
        std::printf("%s: %zu samples (%.1f s of audio)\n", name, count, static_cast<double>(count) / 16000.0);
        std::printf("  time:   ours %.2f s, ffmpeg %.2f s, ratio %.2f (goal <= 1.0)\n", oursSeconds, ffmpegSeconds,
                    ratio);
        std::printf("  memory: peak RSS %.1f MiB (%.1f MiB before), output %.1f MiB, ratio %.2f (goal <= 1.3)\n",
                    peakMB, static_cast<double>(before) / 1024.0, outputMB, memoryRatio);
        met = met && ratio <= 1.0 && memoryRatio <= 1.3;
    }
    fs::remove_all(dir);
    std::printf("\n%s\n", met ? "goals met" : "goals NOT met");
    return 0;
}
