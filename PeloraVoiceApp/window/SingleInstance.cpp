#include "PeloraVoiceApp/window/SingleInstance.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace pelora {

namespace {
constexpr const char* lockName = "instance.lock";
constexpr const char* socketName = "instance.socket";
constexpr qint64 longestCommand = 64;
}  // namespace

SingleInstance::SingleInstance(Options options, QObject* parent) : QObject(parent), options_(std::move(options)) {}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();
    if (lockDescriptor_ >= 0) ::close(lockDescriptor_);  // releases the lock
}

std::optional<fs::path> SingleInstance::privateFolder(const fs::path& parent, const std::string& name,
                                                      std::string& problem) {
    if (parent.empty() || !parent.is_absolute()) {
        problem = "no absolute parent folder";
        return std::nullopt;
    }
    const fs::path folder = parent / name;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        problem = folder.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat info {};
    // lstat: a symbolic link planted in a shared folder is not followed.
    if (::lstat(folder.c_str(), &info) != 0) {
        problem = folder.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISDIR(info.st_mode)) {
        problem = folder.string() + " is not a folder";
        return std::nullopt;
    }
    if (info.st_uid != ::getuid()) {
        problem = folder.string() + " belongs to another user";
        return std::nullopt;
    }
    if ((info.st_mode & 077) != 0) {
        problem = folder.string() + " is open to other users";
        return std::nullopt;
    }
    return folder;
}

SingleInstance::Role SingleInstance::start(std::function<void()> onShowRequested) {
    onShowRequested_ = std::move(onShowRequested);
    fs::path parent = options_.runtimeDirectory;
    std::string problem;
    std::optional<fs::path> folder;
    if (parent.empty()) {
        if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
            folder = privateFolder(runtime, options_.folderName, problem);
    } else {
        folder = privateFolder(parent, options_.folderName, problem);
    }
    if (!folder) {
        const std::string firstProblem = problem;
        folder = privateFolder(options_.fallbackParent, options_.folderName + "-" + std::to_string(::getuid()), problem);
        if (!folder) {
            problem_ = firstProblem.empty() ? problem : firstProblem + "; " + problem;
            return Role::unguarded;
        }
    }
    folder_ = *folder;
    if (takeLock()) {
        if (!listen()) return Role::unguarded;
        return Role::primary;
    }
    if (lockDescriptor_ < 0 && !problem_.empty()) return Role::unguarded;
    return forward();
}

bool SingleInstance::takeLock() {
    const fs::path lock = folder_ / lockName;
    lockDescriptor_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockDescriptor_ < 0) {
        problem_ = lock.string() + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(lockDescriptor_, LOCK_EX | LOCK_NB) != 0) {
        ::close(lockDescriptor_);
        lockDescriptor_ = -1;
        return false;
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(lockDescriptor_, 0) == 0) {
        const ssize_t written = ::pwrite(lockDescriptor_, pid.data(), pid.size(), 0);
        (void)written;  // the process id is for people looking; the lock itself is what counts
    }
    return true;
}

bool SingleInstance::listen() {
    const QString path = QString::fromStdString((folder_ / socketName).string());
    // A socket left by an instance that was killed: we hold the lock, so it is nobody's.
    QLocalServer::removeServer(path);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path)) {
        problem_ = server_->errorString().toStdString();
        server_.reset();
        return false;
    }
    connect(server_.get(), &QLocalServer::newConnection, this, &SingleInstance::serve);
    return true;
}

void SingleInstance::serve() {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            if (!client->canReadLine()) {
                // A line longer than any command is nobody we know.
                if (client->bytesAvailable() > longestCommand) client->abort();
                return;
            }
            const QByteArray line = client->readLine(longestCommand + 1);
            if (line == showCommand) {
                if (onShowRequested_) onShowRequested_();
                client->write(answer);
                client->flush();
            }
            client->disconnectFromServer();
        });
    }
}

SingleInstance::Role SingleInstance::forward() {
    const QString path = QString::fromStdString((folder_ / socketName).string());
    QElapsedTimer clock;
    clock.start();
    // The first instance may hold the lock but not listen yet: try again until it answers.
    while (clock.elapsed() < options_.answerTimeoutMs) {
        QLocalSocket socket;
        socket.connectToServer(path);
        if (socket.waitForConnected(1000)) {
            socket.write(showCommand);
            socket.flush();
            QByteArray reply;
            while (!reply.contains('\n') && clock.elapsed() < options_.answerTimeoutMs) {
                if (socket.bytesAvailable() > 0 || socket.waitForReadyRead(250))
                    reply += socket.read(longestCommand);
                else if (socket.state() != QLocalSocket::ConnectedState)
                    break;  // it went away without an answer: try again
            }
            if (reply.startsWith(answer)) return Role::forwarded;
        }
        QThread::msleep(100);
    }
    problem_ = "the running instance did not answer";
    return Role::failed;
}

}  // namespace pelora
