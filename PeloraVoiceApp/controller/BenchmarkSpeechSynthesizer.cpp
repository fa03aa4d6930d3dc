#include "PeloraVoiceApp/controller/BenchmarkSpeechSynthesizer.h"

#include "platform/process/ProcessRunner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <system_error>

namespace pelora {

namespace fs = std::filesystem;

namespace {

std::string errnoText(int error) { return std::strerror(error); }

struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// Makes or checks one private folder; the reason it cannot be used, or nothing.
std::optional<std::string> usePrivateFolder(const fs::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return "作業フォルダ " + folder.string() + " を作成できません: " + errnoText(errno);
    // Opened without following a link, so the checks below are about the folder itself.
    Descriptor dir{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    if (dir.fd < 0) return "作業フォルダ " + folder.string() + " はフォルダではありません";
    struct stat info {};
    if (::fstat(dir.fd, &info) != 0) return "作業フォルダ " + folder.string() + " を確認できません: " + errnoText(errno);
    if (info.st_uid != ::getuid()) return "作業フォルダ " + folder.string() + " は他のユーザーのものです";
    if ((info.st_mode & 07777) != 0700 && ::fchmod(dir.fd, 0700) != 0)
        return "作業フォルダ " + folder.string() + " の権限を変更できません: " + errnoText(errno);
    return std::nullopt;
}

std::optional<fs::path> absoluteFolderFrom(const char* variable) {
    const char* value = std::getenv(variable);
    if (!value || !*value) return std::nullopt;
    fs::path path(value);
    if (!path.is_absolute()) return std::nullopt;
    return path;
}

}  // namespace

fs::path BenchmarkSpeechSynthesizer::privateSampleFolder() {
    if (const auto runtime = absoluteFolderFrom("XDG_RUNTIME_DIR")) {
        const fs::path folder = *runtime / "PeloraVoice2";
        if (!usePrivateFolder(folder)) return folder;
        // A runtime folder that cannot hold ours (read-only, gone) falls back to the shared one.
    }
    const fs::path base = absoluteFolderFrom("TMPDIR").value_or(fs::path("/tmp"));
    const fs::path folder = base / ("PeloraVoice2-" + std::to_string(::getuid()));
    if (const auto reason = usePrivateFolder(folder)) throw Error(*reason);
    return folder;
}

void BenchmarkSpeechSynthesizer::speak(const Tool& tool, const std::string& voice, const fs::path& output,
                                       const std::string& text) {
    const std::string name = tool.program.filename().string();
    // The earlier run's file (or anything planted in its place) goes first, so a failed run
    // can never leave an old recording to be transcribed.
    if (::unlink(output.c_str()) != 0 && errno != ENOENT)
        throw Error("以前のサンプル " + output.string() + " を削除できません: " + errnoText(errno));
    process::ProcessRunner::Outcome outcome;
    try {
        outcome = process::ProcessRunner::run(tool.program.string(), {"-v", voice, "-w", output.string(), text},
                                              tool.timeLimit);
    } catch (const std::system_error& error) {
        throw Error("音声合成ツール " + name + " を起動できません: " + errnoText(error.code().value()));
    }
    using Ending = process::ProcessRunner::Outcome::Ending;
    switch (outcome.ending) {
        case Ending::exited:
            if (outcome.exitStatus != 0)
                throw Error("音声合成ツール " + name + " が終了コード " + std::to_string(outcome.exitStatus) +
                            " で失敗しました");
            return;
        case Ending::killedBySignal:
            throw Error("音声合成ツール " + name + " が異常終了しました");
        case Ending::timedOut:
            throw Error("音声合成ツール " + name + " が " +
                        std::to_string(std::chrono::duration_cast<std::chrono::seconds>(tool.timeLimit).count()) +
                        " 秒以内に終了しなかったため停止しました");
    }
}

}  // namespace pelora
