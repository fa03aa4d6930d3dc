#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A clipboard manager of the test's own: an X client owning CLIPBOARD_MANAGER that, asked
// to SAVE_TARGETS, reads every target the clipboard's owner lists, takes the clipboard
// itself and serves the copies from then on. (Small contents only: no INCR.)
class StandInClipboardManager {
public:
    StandInClipboardManager();
    ~StandInClipboardManager();
    StandInClipboardManager(const StandInClipboardManager&) = delete;
    StandInClipboardManager& operator=(const StandInClipboardManager&) = delete;

    // Holds CLIPBOARD_MANAGER and answers requests.
    bool running() const { return running_.load(); }
    // How many SAVE_TARGETS requests it completed.
    int saves() const { return saves_.load(); }
    // What it saved last: target name to bytes.
    std::map<std::string, std::string> saved() const;

private:
    void run(std::stop_token stop);

    std::atomic<bool> running_{false};
    std::atomic<bool> finished_{false};
    std::atomic<int> saves_{0};
    mutable std::mutex mutex_;
    std::map<std::string, std::string> saved_;
    int wakeFd_ = -1;
    std::jthread thread_;
};
