#pragma once

#include <QObject>
#include <QString>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QLocalServer;

namespace pelora {

// One running application per user session. The first instance holds an exclusive lock on
// "instance.lock" (with its process id written in it) and listens on "instance.socket", both
// in a private folder: $XDG_RUNTIME_DIR/PeloraVoice2, else /tmp/PeloraVoice2-<uid>. The
// folder is made with mode 0700 and used only when it is a real folder of this user that
// nobody else may enter. A later start finds the lock taken and asks the first instance,
// over the socket, to show its main window. The lock is the kernel's (flock), so it goes
// with its process however that ends: a killed instance never blocks the next start.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Role {
        primary,    // this process holds the lock and listens
        forwarded,  // another instance runs and has been asked to show its window
        failed,     // another instance holds the lock but did not answer
        unguarded,  // no private folder could be had: runs without the guard
    };

    struct Options {
        // Where the folder goes; empty: $XDG_RUNTIME_DIR, then `fallbackParent`.
        std::filesystem::path runtimeDirectory;
        std::filesystem::path fallbackParent = "/tmp";
        std::string folderName = "PeloraVoice2";
        // How long a later start tries to reach the first one (which may still be starting).
        int answerTimeoutMs = 8000;
    };

    explicit SingleInstance(Options options, QObject* parent = nullptr);
    SingleInstance() : SingleInstance(Options{}) {}
    ~SingleInstance() override;

    // Takes the lock or, when another instance has it, asks that one to show its window.
    // Calls `onShowRequested` (primary only) for every later start, on the main thread.
    Role start(std::function<void()> onShowRequested);

    // The folder in use (empty when none could be had) and why not.
    const std::filesystem::path& folder() const { return folder_; }
    const std::string& problem() const { return problem_; }

    // The private folder under `parent`: made 0700 when missing; nullopt (with the reason in
    // `problem`) when it is not a real folder, not ours, or open to others.
    static std::optional<std::filesystem::path> privateFolder(const std::filesystem::path& parent,
                                                              const std::string& name, std::string& problem);

    static constexpr const char* showCommand = "show-main-window\n";
    static constexpr const char* answer = "ok\n";

private:
    bool takeLock();
    bool listen();
    Role forward();
    void serve();

    Options options_;
    std::filesystem::path folder_;
    std::string problem_;
    int lockDescriptor_ = -1;
    std::unique_ptr<QLocalServer> server_;
    std::function<void()> onShowRequested_;
};

}  // namespace pelora
