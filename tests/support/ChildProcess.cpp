#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace pelora::testing {

namespace {

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::optional<std::string>>& overrides) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string text(*entry);
        const auto eq = text.find('=');
        if (eq != std::string::npos) merged[text.substr(0, eq)] = text.substr(eq + 1);
    }
    for (const auto& [key, value] : overrides) {
        if (value) merged[key] = *value;
        else merged.erase(key);
    }
    std::vector<std::string> out;
    for (const auto& [key, value] : merged) out.push_back(key + "=" + value);
    return out;
}

}  // namespace

ChildProcess::ChildProcess(const Options& options) {
    if (options.argv.empty()) throw std::runtime_error("ChildProcess: no program");
    name_ = options.argv.front();

    // Everything the child needs is prepared before fork: only async-signal-safe calls after.
    std::vector<std::string> env = mergedEnvironment(options.environment);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = options.argv;
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string logPath = options.log.string();
    const std::string outputPath = options.output.string();
    const std::string workingDirectory = options.workingDirectory.string();

    int errorPipe[2];
    if (pipe2(errorPipe, O_CLOEXEC) != 0) throw std::runtime_error("ChildProcess: pipe failed");
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        close(errorPipe[0]);
        close(errorPipe[1]);
        throw std::runtime_error("ChildProcess: fork failed");
    }
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(126);
        // Signals blocked or ignored by a test runner are not the program's business.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD}) ::signal(s, SIG_DFL);
        const int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0) dup2(devNull, STDIN_FILENO);
        if (!logPath.empty()) {
            const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (log >= 0) {
                dup2(log, STDOUT_FILENO);
                dup2(log, STDERR_FILENO);
            }
        }
        if (!outputPath.empty()) {
            const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (out >= 0) dup2(out, STDOUT_FILENO);
        }
        int errorFd = errorPipe[1];
        if (errorFd == 3) errorFd = fcntl(3, F_DUPFD_CLOEXEC, 10);
        if (options.passedDescriptor >= 0 && options.passedDescriptor != 3) dup2(options.passedDescriptor, 3);
        // Nothing else of this process leaks into the program: every other descriptor
        // closes at exec (the error pipe stays open until then).
        const int firstToClose = options.passedDescriptor >= 0 ? 4 : 3;
        if (close_range(firstToClose, ~0u, CLOSE_RANGE_CLOEXEC) != 0) {
            for (int fd = firstToClose; fd < 65536; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        if (options.passedDescriptor >= 0) fcntl(3, F_SETFD, 0);
        if (errorFd >= 0) fcntl(errorFd, F_SETFD, FD_CLOEXEC);
        int error = 0;
        if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) {
            error = errno;
        } else {
            execvpe(argv[0], argv.data(), envp.data());
            error = errno;
        }
        if (write(errorFd, &error, sizeof error) < 0) _exit(127);
        _exit(127);
    }
    close(errorPipe[1]);
    pid_ = pid;
    setpgid(pid, pid);  // also from here, so the group exists before any signal is sent

    // The error pipe closes at a successful exec; an errno arrives when it failed.
    int error = 0;
    ssize_t n;
    do {
        n = read(errorPipe[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    close(errorPipe[0]);
    if (n == static_cast<ssize_t>(sizeof error)) {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        throw std::runtime_error("ChildProcess: cannot run " + name_ + ": " + std::strerror(error));
    }
}
ChildProcess::~ChildProcess() { stop(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), name_(std::move(other.name_)), status_(other.status_) {
    other.pid_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        stop();
        pid_ = other.pid_;
        name_ = std::move(other.name_);
        status_ = other.status_;
        other.pid_ = -1;
    }
    return *this;
}

bool ChildProcess::running() {
    if (pid_ < 0 || status_) return false;
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        status_ = status;
        return false;
    }
    return r == 0;
}

bool ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
    return waitUntil(timeout, [&] { return !running(); });
}

void ChildProcess::signal(int number) {
    if (pid_ < 0) return;
    // The group outlives its leader when the leader has children of its own.
    if (kill(-pid_, number) != 0 && !status_) kill(pid_, number);
}

void ChildProcess::stop(std::chrono::milliseconds grace) {
    if (pid_ < 0) return;
    if (running()) {
        signal(SIGCONT);  // a stopped process cannot act on SIGTERM
        signal(SIGTERM);
        if (!waitForExit(grace)) {
            signal(SIGKILL);
            waitForExit(std::chrono::seconds(10));
        }
    }
    // Whatever is left of its group (helpers it started) goes too.
    kill(-pid_, SIGKILL);
    pid_ = -1;
}

std::string describeWaitStatus(int status) {
    if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

}  // namespace pelora::testing
