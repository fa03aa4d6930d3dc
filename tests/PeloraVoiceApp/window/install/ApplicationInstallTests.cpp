// `cmake --install` of the desktop application into a temporary prefix: the program, a
// desktop file the desktop's menu accepts, and our icon under the name the file gives.
#include "tests/support/RunCommand.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QSvgRenderer>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

namespace fs = std::filesystem;
using namespace pelora::testing;

namespace {

// The keys of the [Desktop Entry] group.
std::map<std::string, std::string> desktopEntry(const fs::path& file) {
    std::map<std::string, std::string> keys;
    std::istringstream in(readFile(file));
    std::string line;
    bool inEntry = false;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.find('=');
        if (inEntry && equals != std::string::npos) keys[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return keys;
}

class ApplicationInstall : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        prefix_ = new TempDir();
        result_ = new CommandResult(runCommand(
            {"cmake", "--install", PELORA_BINARY_DIR, "--prefix", prefix_->path().string(), "--component", "PeloraVoice2"}));
    }
    static void TearDownTestSuite() {
        delete result_;
        delete prefix_;
    }
    static fs::path installed(const std::string& relative) { return prefix_->path() / relative; }

    static TempDir* prefix_;
    static CommandResult* result_;
};
TempDir* ApplicationInstall::prefix_ = nullptr;
CommandResult* ApplicationInstall::result_ = nullptr;

TEST_F(ApplicationInstall, PutsProgramDesktopFileAndIconInPlace) {
    ASSERT_EQ(result_->exitCode, 0) << result_->out << result_->err;
    const fs::path program = installed("bin/PeloraVoice2");
    ASSERT_TRUE(fs::exists(program));
    EXPECT_NE(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_TRUE(fs::exists(installed("share/applications/ai.pelora.PeloraVoice2.desktop")));
    EXPECT_TRUE(fs::exists(installed("share/icons/hicolor/scalable/apps/ai.pelora.PeloraVoice2.svg")));
}

TEST_F(ApplicationInstall, DesktopFileIsValidAndNamesTheProgramIconAndWindowClass) {
    ASSERT_EQ(result_->exitCode, 0) << result_->err;
    const fs::path file = installed("share/applications/ai.pelora.PeloraVoice2.desktop");
    const CommandResult validation = runCommand({"desktop-file-validate", file.string()});
    EXPECT_EQ(validation.exitCode, 0) << validation.out << validation.err;
    EXPECT_EQ(validation.out.find("error"), std::string::npos) << validation.out;

    const auto keys = desktopEntry(file);
    EXPECT_EQ(keys.at("Type"), "Application");
    EXPECT_EQ(keys.at("Name"), "PeloraVoice 2");
    EXPECT_EQ(keys.at("Exec"), "PeloraVoice2");
    EXPECT_EQ(keys.at("Icon"), "ai.pelora.PeloraVoice2");
    EXPECT_EQ(keys.at("StartupWMClass"), "PeloraVoice2");
    // Exec names the program that the same install put in bin.
    EXPECT_TRUE(fs::exists(installed("bin") / keys.at("Exec")));
}

TEST_F(ApplicationInstall, IconIsASquareScalableImage) {
    ASSERT_EQ(result_->exitCode, 0) << result_->err;
    const std::string svg = readFile(installed("share/icons/hicolor/scalable/apps/ai.pelora.PeloraVoice2.svg"));
    QSvgRenderer renderer(QByteArray::fromStdString(svg));
    ASSERT_TRUE(renderer.isValid());
    EXPECT_EQ(renderer.defaultSize().width(), renderer.defaultSize().height());
    EXPECT_GT(renderer.defaultSize().width(), 0);
}

}  // namespace
