// Download throughput of the speech model installer against `curl -o`, on one 200 MiB
// file served from 127.0.0.1 in the same run, and the installer's peak memory.
// Goals: the installer (transfer, SHA-1 verification, final rename) reaches at least
// 80 % of curl's throughput, and its process peaks below 64 MiB (the file is streamed,
// never held in memory). Each side runs in its own child process, best of three.
//
//   bench_speech_model_download_bench [size in MiB, default 200]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/recognition/SpeechModelDownload.h"
#include "platform/http/Sha1.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Outcome {
    double seconds = 0;
    long peakKiB = 0;
    bool ok = false;
};

// A plain HTTP/1.1 server in a child process: every GET gets the whole file by sendfile.
pid_t serve(const fs::path& file, int& port) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 16) != 0) {
        std::perror("bind");
        std::exit(1);
    }
    socklen_t length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    const pid_t child = ::fork();
    if (child != 0) {
        ::close(listener);
        return child;
    }
    const auto size = static_cast<off_t>(fs::file_size(file));
    for (;;) {
        const int connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0) continue;
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::read(connection, buffer, sizeof buffer);
            if (n <= 0) break;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        const std::string header = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                                   std::to_string(size) + "\r\nConnection: close\r\n\r\n";
        if (::write(connection, header.data(), header.size()) == static_cast<ssize_t>(header.size())) {
            const int in = ::open(file.c_str(), O_RDONLY);
            off_t offset = 0;
            while (offset < size && ::sendfile(connection, in, &offset, static_cast<std::size_t>(size - offset)) > 0) {
            }
            ::close(in);
        }
        ::shutdown(connection, SHUT_WR);
        while (::read(connection, buffer, sizeof buffer) > 0) {
        }
        ::close(connection);
    }
}

Outcome curlOnce(const std::string& url, const fs::path& out) {
    fs::remove(out);
    std::vector<std::string> args = {"curl", "-s", "-f", "-o", out.string(), url};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const Clock::time_point start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) return {};
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    return {std::chrono::duration<double>(Clock::now() - start).count(), usage.ru_maxrss,
            WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

Outcome installerOnce(const std::string& url, const fs::path& folder, const pelora::SpeechModelCatalogueEntry& entry) {
    fs::remove_all(folder);
    const Clock::time_point start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        try {
            pelora::SpeechModelDownload::Options options;
            options.freeSpace = [](const fs::path&) { return INT64_MAX; };
            pelora::SpeechModelDownload::install(folder, entry, url, options);
            std::_Exit(0);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "installer: %s\n", error.what());
            std::_Exit(1);
        }
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    return {std::chrono::duration<double>(Clock::now() - start).count(), usage.ru_maxrss,
            WIFEXITED(status) && WEXITSTATUS(status) == 0 && fs::exists(folder / entry.fileName())};
}

Outcome best(const std::vector<Outcome>& runs) {
    Outcome out = runs.front();
    for (const Outcome& run : runs) {
        if (!run.ok) return run;
        if (run.seconds < out.seconds) out.seconds = run.seconds;
        out.peakKiB = std::max(out.peakKiB, run.peakKiB);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const std::int64_t mebibytes = argc > 1 ? std::atoll(argv[1]) : 200;
    const fs::path work = fs::temp_directory_path() / ("pelora-download-bench-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const fs::path source = work / "ggml-bench.bin";
    {
        std::ofstream out(source, std::ios::binary);
        std::mt19937_64 random(42);
        std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
        for (std::int64_t i = 0; i < mebibytes; ++i) {
            for (auto& word : block) word = random();
            out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
        }
    }
    const auto size = static_cast<std::int64_t>(fs::file_size(source));
    const pelora::SpeechModelCatalogueEntry entry{"bench", size, *pelora::http::Sha1::ofFile(source)};

    int port = 0;
    const pid_t server = serve(source, port);
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/ggml-bench.bin";

    std::vector<Outcome> curlRuns, installerRuns;
    for (int round = 0; round < 3; ++round) {
        curlRuns.push_back(curlOnce(url, work / "curl.bin"));
        installerRuns.push_back(installerOnce(url, work / "installed", entry));
    }
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    fs::remove_all(work);

    const Outcome curl = best(curlRuns);
    const Outcome installer = best(installerRuns);
    if (!curl.ok || !installer.ok) {
        std::printf("a download failed (curl %s, installer %s)\n", curl.ok ? "ok" : "FAILED", installer.ok ? "ok" : "FAILED");
        return 1;
    }
    const double mib = static_cast<double>(size) / (1024.0 * 1024.0);
    const double ratio = curl.seconds / installer.seconds;
    const double peakMiB = static_cast<double>(installer.peakKiB) / 1024.0;
    std::printf("file                      %.0f MiB from 127.0.0.1, best of 3\n", mib);
    std::printf("curl -o                   %.3f s  %.0f MiB/s\n", curl.seconds, mib / curl.seconds);
    std::printf("installer (with SHA-1)    %.3f s  %.0f MiB/s  (%.0f %% of curl; goal >= 80 %%)\n", installer.seconds,
                mib / installer.seconds, ratio * 100.0);
    std::printf("installer peak memory     %.1f MiB (goal < 64 MiB)\n", peakMiB);
    const bool met = ratio >= 0.8 && peakMiB < 64.0;
    std::printf("goals %s\n", met ? "met" : "NOT met");
    return met ? 0 : 2;
}
