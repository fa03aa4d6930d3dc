#include "tests/support/PrivateSoundServer.h"

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace pelora::testing {

std::string soundServerScript(const std::filesystem::path& socket) {
    // A null sink renders as far ahead as its streams allow and then sleeps that long: with
    // nobody asking for less, two seconds. A recording that starts on "virtmic" asks for
    // less, but the sink only hears of it when it wakes, so the first samples came up to two
    // seconds late (a new stream played into the sink rewinds it; one recording its monitor
    // does not). A loopback from the monitor into a sink nobody hears keeps "micfeed"
    // rendering 5 ms at a time, as a microphone's periods would arrive. Its first two seconds
    // were rendered before the loopback came; suspending and resuming the sinks starts them
    // again at the new pace.
    return "load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket.string() + "\n"
           "load-module module-null-sink sink_name=speaker\n"
           "load-module module-null-sink sink_name=micfeed\n"
           "load-module module-remap-source source_name=virtmic master=micfeed.monitor\n"
           "load-module module-null-sink sink_name=pacer\n"
           "load-module module-loopback source=micfeed.monitor sink=pacer latency_msec=15 source_dont_move=true "
           "sink_dont_move=true\n"
           "suspend-sink micfeed 1\n"
           "suspend-sink pacer 1\n"
           "suspend-sink micfeed 0\n"
           "suspend-sink pacer 0\n"
           "set-default-sink speaker\n"
           "set-default-source virtmic\n";
}

PrivateSoundServer::PrivateSoundServer() {
    const auto runtime = root_ / "runtime";
    const auto socket = runtime / "pulse" / "native";
    std::filesystem::create_directories(socket.parent_path());
    std::filesystem::create_directories(root_ / "home");
    writeFile(root_ / "server.pa", soundServerScript(socket));
    address_ = "unix:" + socket.string();
    clientEnvironment_ = {{"PULSE_SERVER", address_},
                          {"HOME", (root_ / "home").string()},
                          {"XDG_RUNTIME_DIR", runtime.string()}};
    start();
}

PrivateSoundServer::~PrivateSoundServer() {
    if (server_) {
        server_->signal(SIGCONT);  // a paused server could not end
        server_->stop();
    }
}

void PrivateSoundServer::start() {
    std::map<std::string, std::optional<std::string>> environment;
    for (const auto& [name, value] : clientEnvironment_) environment[name] = value;
    environment["PULSE_SERVER"] = std::nullopt;
    // Off the session bus: its well-known name belongs to the desktop's own server.
    environment["DBUS_SESSION_BUS_ADDRESS"] = std::nullopt;
    server_ = std::make_unique<ChildProcess>(ChildProcess::Options{
        .argv = {"pulseaudio", "-n", "-F", (root_ / "server.pa").string(), "--daemonize=no", "--exit-idle-time=-1",
                 "--use-pid-file=no", "--realtime=no", "--high-priority=no", "--log-target=stderr"},
        .environment = environment,
        .log = root_ / "pulseaudio.log"});
    std::string info;
    const bool ready = waitUntil(std::chrono::seconds(30), [&] {
        if (!server_->running()) return true;
        const CommandResult r = run({"pactl", "info"});
        info = r.out + r.err;
        return r.exitCode == 0 && info.find("Default Source: virtmic") != std::string::npos;
    });
    if (!ready || !server_->running())
        throw std::runtime_error("the test's sound server did not start: " + info + readFile(root_ / "pulseaudio.log"));
}

void PrivateSoundServer::kill() {
    if (!server_) return;
    server_->signal(SIGKILL);
    server_->stop();
    server_.reset();
}

void PrivateSoundServer::pause() {
    if (server_) server_->signal(SIGSTOP);
}

void PrivateSoundServer::resume() {
    if (server_) server_->signal(SIGCONT);
}

CommandResult PrivateSoundServer::run(const std::vector<std::string>& argv) const {
    return runCommand(argv, clientEnvironment_, std::chrono::seconds(30));
}

}  // namespace pelora::testing
