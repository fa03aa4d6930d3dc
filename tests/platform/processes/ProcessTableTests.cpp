#include "platform/processes/ProcessTable.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

using pelora::processes::ProcessInfo;
using pelora::processes::ProcessTable;
using pelora::testing::TempDir;
using pelora::testing::writeFile;
namespace fs = std::filesystem;

namespace {

struct Entry {
    int pid;
    std::string executable;  // empty: no exe link (a kernel thread)
    std::string environ;     // NAME=value entries separated by '|'
    unsigned uid = 1000;
    std::string comm = "prog";
};

// Lays out one /proc entry; an existing one is replaced by a new directory (a new inode,
// as a reused PID gets).
void lay(const fs::path& root, const Entry& e) {
    const fs::path dir = root / std::to_string(e.pid);
    const fs::path fresh = root / (std::to_string(e.pid) + ".new");
    fs::create_directories(fresh);
    std::string environ = e.environ;
    for (char& c : environ) c = c == '|' ? '\0' : c;
    writeFile(fresh / "environ", environ.empty() ? "" : environ + std::string(1, '\0'));
    writeFile(fresh / "status", "Name:\t" + e.comm + "\nUid:\t" + std::to_string(e.uid) + "\t0\t0\t0\n");
    writeFile(fresh / "comm", e.comm + "\n");
    writeFile(fresh / "stat", std::to_string(e.pid) + " (" + e.comm + ") S 1 1 1 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 " +
                                  std::to_string(500 + e.pid) + " 0 0");
    if (!e.executable.empty()) fs::create_symlink(e.executable, fresh / "exe");
    fs::remove_all(dir);
    fs::rename(fresh, dir);
}

// Runs another program in the same process: new executable, new environment, same entry.
void exec(const fs::path& root, int pid, const std::string& executable, const std::string& environ) {
    const fs::path dir = root / std::to_string(pid);
    fs::remove(dir / "exe");
    fs::create_symlink(executable, dir / "exe");
    std::string bytes = environ;
    for (char& c : bytes) c = c == '|' ? '\0' : c;
    writeFile(dir / "environ", bytes + std::string(1, '\0'));
}

std::vector<std::string> summary(const std::vector<ProcessInfo>& processes) {
    std::vector<std::string> lines;
    for (const auto& p : processes)
        lines.push_back(std::to_string(p.pid) + " " + p.executable + " " + p.launchedDesktopFile + " " + p.comm);
    return lines;
}

const ProcessTable::Candidate namedPeloraVoice = [](const ProcessInfo& p) {
    return p.executable.ends_with("/PeloraVoice") || !p.launchedDesktopFile.empty();
};

TEST(ProcessTable, OnlyTheSessionsCandidatesAreReadInFull) {
    TempDir proc;
    for (const auto& e : {Entry{10, "/opt/PeloraVoice", "DISPLAY=:5"}, Entry{11, "/usr/bin/prog", "DISPLAY=:5"},
                          Entry{12, "/opt/PeloraVoice", "DISPLAY=:6"}, Entry{13, "/opt/PeloraVoice", "DISPLAY=:5", 1001},
                          Entry{14, "", ""},  // a kernel thread
                          Entry{15, "/usr/bin/python3", "LANG=C|DISPLAY=:5|GIO_LAUNCHED_DESKTOP_FILE=/a/x.desktop", 1000,
                                "old"}})
        lay(proc.path(), e);
    fs::create_directories(proc.path() / "self");
    ProcessTable table(proc.path());
    EXPECT_EQ(summary(table.sessionProcesses(1000, ":5", namedPeloraVoice)),
              (std::vector<std::string>{"10 /opt/PeloraVoice  prog", "15 /usr/bin/python3 /a/x.desktop old"}));
    const auto all = table.sessionProcesses(1000, ":5");
    ASSERT_EQ(all.size(), 3u) << "no filter: every process of the session";
    EXPECT_EQ(all[0].startTime, 510u);
    EXPECT_EQ(all[0].uid, 1000u);
}

TEST(ProcessTable, ALaterScanSeesWhatChangedSinceTheEarlierOne) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> change;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"nothing changed", [](const fs::path&) {}, {"20 /opt/PeloraVoice  prog"}},
        {"a wrapper ran the earlier edition in its place",
         [](const fs::path& root) { exec(root, 21, "/opt/PeloraVoice", "DISPLAY=:5"); },
         {"20 /opt/PeloraVoice  prog", "21 /opt/PeloraVoice  prog"}},
        {"a launcher's child ran the program of a desktop file",
         [](const fs::path& root) {
             exec(root, 22, "/usr/bin/python3", "DISPLAY=:5|GIO_LAUNCHED_DESKTOP_FILE=/a/old.desktop");
         },
         {"20 /opt/PeloraVoice  prog", "22 /usr/bin/python3 /a/old.desktop prog"}},
        {"a PID was reused by the same program with another environment",
         [](const fs::path& root) {
             lay(root, {23, "/usr/bin/python3", "DISPLAY=:5|GIO_LAUNCHED_DESKTOP_FILE=/a/old.desktop"});
         },
         {"20 /opt/PeloraVoice  prog", "23 /usr/bin/python3 /a/old.desktop prog"}},
        {"a program that was being started when first seen has its environment now",
         [](const fs::path& root) {
             writeFile(root / "24" / "environ", std::string("DISPLAY=:5\0GIO_LAUNCHED_DESKTOP_FILE=/a/old.desktop\0", 52));
         },
         {"20 /opt/PeloraVoice  prog", "24 /usr/bin/python3 /a/old.desktop prog"}},
        {"the earlier edition ended", [](const fs::path& root) { fs::remove_all(root / "20"); }, {}},
        {"its PID was reused in another display",
         [](const fs::path& root) { lay(root, {20, "/opt/PeloraVoice", "DISPLAY=:6"}); }, {}},
    };
    for (const auto& c : cases) {
        TempDir proc;
        for (const auto& e : {Entry{20, "/opt/PeloraVoice", "DISPLAY=:5"}, Entry{21, "/bin/sh", "DISPLAY=:5"},
                              Entry{22, "/usr/bin/gio", "DISPLAY=:5"}, Entry{23, "/usr/bin/python3", "DISPLAY=:5"},
                              Entry{24, "/usr/bin/python3", ""}})  // its new program shows, its environment not yet
            lay(proc.path(), e);
        ProcessTable table(proc.path());
        ASSERT_EQ(summary(table.sessionProcesses(1000, ":5", namedPeloraVoice)),
                  std::vector<std::string>{"20 /opt/PeloraVoice  prog"})
            << c.name;
        c.change(proc.path());
        EXPECT_EQ(summary(table.sessionProcesses(1000, ":5", namedPeloraVoice)), c.expected) << c.name;
    }
}

TEST(ProcessTable, ASingleProcessIsReadAfreshOrNotAtAll) {
    TempDir proc;
    lay(proc.path(), {30, "/opt/PeloraVoice", "DISPLAY=:5"});
    ProcessTable table(proc.path());
    table.sessionProcesses(1000, ":5");
    exec(proc.path(), 30, "/usr/bin/other", "DISPLAY=:7");
    const auto again = table.process(30);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->executable, "/usr/bin/other");
    EXPECT_EQ(again->display, ":7");
    EXPECT_FALSE(table.process(31).has_value());
    EXPECT_FALSE(ProcessTable(proc.path() / "absent").process(30).has_value());
}

}  // namespace
