#pragma once

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pelora::testing {

// Another application that drags files (XDND) the way a file manager does: the Qt program
// pelora-qt-drag-source, started in the current private desktop, its drags driven by the
// pointer through XTest. Stopped by its process id when the object goes.
class FileDragSource {
public:
    struct Options {
        // The items of the drag as text/uri-list entries, exactly as given (file:///..., https://...).
        std::vector<std::string> urls = {};
        // Types offered as plain data without any URL (e.g. "audio/x-wav").
        std::vector<std::string> dataTypes = {};
        // Where its window sits on the screen; keep it clear of the drop target.
        int x = 0, y = 320, width = 120, height = 120;
    };

    // Starts it and waits until its window is on the screen; throws std::runtime_error
    // when it does not appear.
    explicit FileDragSource(Options options);
    ~FileDragSource();
    FileDragSource(const FileDragSource&) = delete;
    FileDragSource& operator=(const FileDragSource&) = delete;

    // Presses the left button on the source window, moves the pointer in small steps to
    // (x, y) on the screen, rests there and releases the button. `pump` runs between the
    // steps and while waiting (the test's own event loop, when the target window lives in
    // the test's process). Returns how the drag ended as the source saw it: "copy", "move",
    // "link", "ignore" (refused, or no target), or "" when it did not end in time. The source
    // ends its drag as it sends the drop, on the target's last answer to a position; the
    // target may handle the drop itself a moment later.
    std::string dragTo(int x, int y, const std::function<void()>& pump,
                       std::chrono::milliseconds timeout = std::chrono::seconds(20));

    // Every line the source reported so far.
    std::vector<std::string> reportLines() const;

private:
    TempDir folder_;
    std::unique_ptr<ChildProcess> process_;
    int x_ = 0, y_ = 0, width_ = 0, height_ = 0;
};

}  // namespace pelora::testing
