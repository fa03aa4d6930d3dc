#pragma once

#include <ostream>
#include <string>

#include "platform/speech/SpeechRecognition.h"

namespace pelora::cli {

// The command-line tool's account of a model download on standard error: one line
// rewritten in place on a terminal (percentage, MiB done of total, rate, time left),
// else a plain line at every 10 %.
class DownloadProgressLine {
public:
    DownloadProgressLine(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}

    void update(const speech::AssetDownloadProgress& progress);
    // Ends a line left open on the terminal; safe to call more than once.
    void finish();

    // "ggml-small.bin  42%  195.3 / 465.0 MiB  12.3 MiB/s  0:22 left"
    static std::string text(const speech::AssetDownloadProgress& progress);

private:
    std::ostream& out_;
    bool terminal_;
    bool open_ = false;
    int lastTenth_ = -1;
};

}  // namespace pelora::cli
