// pelora-desktop-run: runs one GUI test program inside a private desktop.
//   pelora-desktop-run [--no-window-manager] [--no-accessibility] [--no-audio] [--screen WxH] -- program
//                      [arguments]
// --screen sets the X screen's size in pixels (default 1280x800).
// Starts a DesktopTestBed, runs the program with the bed's environment, stops whatever
// the program left running, stops the bed, and exits with the program's status
// (128 + signal number when a signal ended it).
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopTestBed.h"

namespace {

using pelora::testing::ChildProcess;
using pelora::testing::DesktopTestBed;

volatile sig_atomic_t pendingSignal = 0;
void remember(int number) { pendingSignal = number; }

// Processes whose parent is this one: the bed's pieces, the program, and orphans of the
// program that were handed to us as the subreaper.
std::set<pid_t> ownChildren() {
    std::set<pid_t> children;
    const pid_t self = getpid();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // The command may hold blanks and parentheses: fields start after the last ')'.
        const auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        int parent = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 && parent == self) {
            children.insert(static_cast<pid_t>(std::stoi(name)));
        }
    }
    return children;
}

// Ends, by pid, whatever of the run is still there once the bed has stopped, and reaps
// every child (the zombies of orphans handed to us included).
void stopLeftovers() {
    for (int round = 0; round < 3; ++round) {
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        const std::set<pid_t> left = ownChildren();
        if (left.empty()) return;
        if (round == 0) {
            // Give processes that lost their display or bus a moment to end by themselves.
            pelora::testing::waitUntil(std::chrono::seconds(3), [] {
                while (waitpid(-1, nullptr, WNOHANG) > 0) {
                }
                return ownChildren().empty();
            });
            continue;
        }
        for (pid_t pid : left) {
            std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
            std::string command;
            std::getline(comm, command);
            std::cerr << "pelora-desktop-run: stopping process " << pid << " (" << command << "), still running\n";
            kill(pid, SIGCONT);
            kill(pid, round == 1 ? SIGTERM : SIGKILL);
        }
        pelora::testing::waitUntil(std::chrono::seconds(5), [&] {
            for (pid_t pid : left) {
                if (waitpid(pid, nullptr, WNOHANG) == 0) return false;
            }
            return true;
        });
    }
}

// "WxH", both whole positive numbers.
bool parseScreenSize(const std::string& text, DesktopTestBed::Options& options) {
    int width = 0, height = 0, consumed = 0;
    if (std::sscanf(text.c_str(), "%5dx%5d%n", &width, &height, &consumed) != 2 ||
        consumed != int(text.size()) || width < 1 || height < 1) {
        std::cerr << "pelora-desktop-run: --screen wants WIDTHxHEIGHT, not \"" << text << "\"\n";
        return false;
    }
    options.screenWidth = width;
    options.screenHeight = height;
    return true;
}

int usage() {
    std::cerr << "usage: pelora-desktop-run [--no-window-manager] [--no-accessibility] [--no-audio] [--screen WxH] "
                 "-- program [arguments]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    DesktopTestBed::Options options;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--no-window-manager") options.windowManager = false;
        else if (arg == "--no-accessibility") options.accessibility = false;
        else if (arg == "--no-audio") options.audio = false;
        else if (arg == "--screen" && i + 1 < argc) {
            if (!parseScreenSize(argv[++i], options)) return usage();
        } else return usage();
    }
    if (i >= argc) return usage();
    std::vector<std::string> program(argv + i, argv + argc);

    // Orphans of the program come to us, so nothing it started outlives the run.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    struct sigaction action {};
    action.sa_handler = remember;
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &action, nullptr);

    std::unique_ptr<DesktopTestBed> bed;
    try {
        bed = std::make_unique<DesktopTestBed>(options);
    } catch (const std::exception& error) {
        std::cerr << "pelora-desktop-run: " << error.what() << "\n";
        return 1;
    }
    int status = 0;
    try {
        ChildProcess child(ChildProcess::Options{.argv = program, .environment = bed->environment()});
        bool forwarded = false;
        while (child.running()) {
            if (pendingSignal && !forwarded) {
                child.signal(pendingSignal);
                forwarded = true;
            }
            usleep(20000);
        }
        status = child.waitStatus().value_or(0);
    } catch (const std::exception& error) {
        std::cerr << "pelora-desktop-run: " << error.what() << "\n";
        status = 127 << 8;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::cerr << "pelora-desktop-run: " << program.front() << " ended with "
                  << pelora::testing::describeWaitStatus(status) << "; desktop logs:\n"
                  << bed->logs();
    }
    // Programs the tests left running lose their display with the bed; helpers that the
    // bed's buses started on demand lose their bus. What still runs after that is ended.
    bed.reset();
    stopLeftovers();
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}
