#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace pelora::process {

// Runs one program to its end (or to its time limit) with no shell in between.
class ProcessRunner {
public:
    struct Outcome {
        enum class Ending { exited, killedBySignal, timedOut };
        Ending ending = Ending::exited;
        int exitStatus = -1;  // the status passed to exit(); -1 unless the program exited
        bool succeeded() const { return ending == Ending::exited && exitStatus == 0; }
    };

    // Starts `program` (an absolute path) with `arguments`, standard input, output and
    // error on /dev/null, and waits for it. A program still running after `timeLimit` is
    // killed and reaped before this returns. Throws std::system_error when it cannot start.
    static Outcome run(const std::string& program, const std::vector<std::string>& arguments,
                       std::chrono::milliseconds timeLimit);

    ProcessRunner() = delete;
};

}  // namespace pelora::process
