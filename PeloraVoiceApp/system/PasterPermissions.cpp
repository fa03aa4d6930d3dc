#include "PeloraVoiceApp/system/PasterPermissions.h"

#include <filesystem>

namespace pelora {

namespace {

// A file URI for an absolute path: every byte but the unreserved ones and "/" escaped, so a
// folder with spaces, quotes or Japanese names stays one valid URI (and one quoted string
// for gdbus).
std::string fileURI(const std::string& path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const unsigned char byte : path) {
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
                           byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == '/';
        if (plain) {
            uri += static_cast<char>(byte);
        } else {
            uri += '%';
            uri += hex[byte >> 4];
            uri += hex[byte & 0x0f];
        }
    }
    return uri;
}

}  // namespace

PasterPermissions::PasterPermissions(Sources sources, std::chrono::milliseconds refreshPeriod)
    : sources_(std::move(sources)) {
    worker_ = std::thread([this, refreshPeriod] {
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            lock.unlock();
            const Slow read = readSlow();
            lock.lock();
            slow_ = read;
            wake_.wait_for(lock, refreshPeriod, [&] { return stopping_; });
        }
    });
}

PasterPermissions::~PasterPermissions() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

bool PasterPermissions::onWayland() const {
    const auto wayland = sources_.environment ? sources_.environment("WAYLAND_DISPLAY") : std::nullopt;
    return wayland && !wayland->empty();
}

PasterPermissions::Slow PasterPermissions::readSlow() const {
    Slow read;
    read.accessibility = sources_.accessibilityTrusted && sources_.accessibilityTrusted();
    // Under Wayland neither synthetic keys nor global key events reach other programs.
    if (!onWayland()) {
        read.synthetic = sources_.syntheticEventsReach && sources_.syntheticEventsReach();
        read.raw = sources_.rawKeyEventsReach && sources_.rawKeyEventsReach();
    }
    return read;
}

PermissionHealthStatus PasterPermissions::checkPermissionHealth() const {
    Slow slow;
    {
        std::lock_guard lock(mutex_);
        slow = slow_;
    }
    const bool wayland = onWayland();
    return {slow.accessibility, slow.synthetic && !wayland, slow.raw && !wayland,
            sources_.microphoneAuthorized && sources_.microphoneAuthorized()};
}

PermissionHealthStatus PasterPermissions::refreshNow() {
    const Slow read = readSlow();
    {
        std::lock_guard lock(mutex_);
        slow_ = read;
    }
    return checkPermissionHealth();
}

bool PasterPermissions::isAccessibilityTrusted(bool prompt) {
    if (prompt && !refreshNow().accessibilityTrusted && sources_.requestAccessibility) sources_.requestAccessibility();
    return refreshNow().accessibilityTrusted;
}

PermissionHealthStatus PasterPermissions::requestAllInjectionPermissions() {
    if (!refreshNow().accessibilityTrusted && sources_.requestAccessibility) sources_.requestAccessibility();
    return refreshNow();
}

void PasterPermissions::openFirstInstalled(const std::vector<std::vector<std::string>>& programs) {
    for (const auto& program : programs) {
        if (sources_.programInstalled && sources_.programInstalled(program.front())) {
            if (sources_.startDetached) sources_.startDetached(program);
            return;
        }
    }
}

void PasterPermissions::requestAccessibilityAndOpenSettings() {
    if (sources_.requestAccessibility) sources_.requestAccessibility();
    openAccessibilitySettings();
    // The switch just set is read now, so the re-check that follows the request sees it.
    refreshNow();
}

void PasterPermissions::openAccessibilitySettings() {
    openFirstInstalled({{"gnome-control-center", "universal-access"}});
}

void PasterPermissions::openMicrophoneSettings() {
    openFirstInstalled({{"pavucontrol", "--tab=4"}, {"gnome-control-center", "sound"}});
}

void PasterPermissions::openInputMonitoringSettings() {}

void PasterPermissions::resetAccessibilityPermissionAndPrompt() {
    if (!checkPermissionHealth().microphoneAuthorized && sources_.reconnectAudio) sources_.reconnectAudio();
    if (sources_.requestAccessibility) sources_.requestAccessibility();
    openAccessibilitySettings();
    refreshNow();
}

bool PasterPermissions::resetMicrophonePermissionAndPrompt() {
    if (sources_.reconnectAudio) sources_.reconnectAudio();
    const bool authorized = sources_.microphoneAuthorized && sources_.microphoneAuthorized();
    if (!authorized) openMicrophoneSettings();
    return authorized;
}

void PasterPermissions::revealAppInFinder() {
    if (sources_.executablePath.empty()) return;
    const std::string uri = fileURI(sources_.executablePath);
    const bool shown = sources_.runBriefly &&
                       sources_.runBriefly({"gdbus", "call", "--session", "--dest", "org.freedesktop.FileManager1",
                                            "--object-path", "/org/freedesktop/FileManager1", "--method",
                                            "org.freedesktop.FileManager1.ShowItems", "['" + uri + "']", ""});
    if (!shown && sources_.startDetached)
        sources_.startDetached({"xdg-open", std::filesystem::path(sources_.executablePath).parent_path().string()});
}

}  // namespace pelora
