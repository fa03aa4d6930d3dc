#include "tests/support/RerunTest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/RunCommand.h"

namespace pelora::testing {

namespace {

constexpr const char* rerunVariable = "PELORA_RERUN_OF_TEST";

std::string currentTestName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(info->test_suite_name()) + "." + info->name();
}

}  // namespace

bool isRerunOfCurrentTest() {
    const char* marker = std::getenv(rerunVariable);
    return marker && currentTestName() == marker;
}

bool rerunCurrentTestIn(const std::vector<std::string>& launcher, const std::map<std::string, std::string>& environment) {
    if (isRerunOfCurrentTest()) return false;
    const std::string name = currentTestName();
    std::vector<std::string> argv = launcher;
    argv.push_back(std::filesystem::read_symlink("/proc/self/exe").string());
    argv.push_back("--gtest_filter=" + name);
    std::map<std::string, std::string> childEnvironment = environment;
    childEnvironment[rerunVariable] = name;
    const CommandResult result = runCommand(argv, childEnvironment, std::chrono::seconds(120));
    const bool passed = result.exitCode == 0 && result.out.find("[  PASSED  ] 1 test.") != std::string::npos;
    EXPECT_TRUE(passed) << "the rerun of " << name << " exited with " << result.exitCode << "\n--- stdout\n"
                        << result.out << "\n--- stderr\n"
                        << result.err;
    return true;
}

}  // namespace pelora::testing
