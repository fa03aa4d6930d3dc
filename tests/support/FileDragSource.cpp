#include "tests/support/FileDragSource.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <sstream>
#include <stdexcept>
#include <thread>

namespace pelora::testing {

namespace {

using Clock = std::chrono::steady_clock;

// Runs `pump` (or sleeps) for about `span`.
void pass(std::chrono::milliseconds span, const std::function<void()>& pump) {
    const auto end = Clock::now() + span;
    while (Clock::now() < end) {
        if (pump) pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

FileDragSource::FileDragSource(Options options) {
    std::vector<std::string> argv = {PELORA_QT_DRAG_SOURCE_PATH, "--report", (folder_ / "report").string()};
    for (const std::string& url : options.urls) argv.insert(argv.end(), {"--url", url});
    for (const std::string& type : options.dataTypes) argv.insert(argv.end(), {"--data", type});
    argv.insert(argv.end(), {"--geometry", std::to_string(options.x) + "," + std::to_string(options.y) + "," +
                                               std::to_string(options.width) + "," + std::to_string(options.height)});
    process_ = std::make_unique<ChildProcess>(ChildProcess::Options{.argv = argv, .log = folder_ / "log"});
    const bool ready = waitUntil(std::chrono::seconds(30), [&] {
        for (const std::string& line : reportLines()) {
            std::istringstream in(line);
            std::string word;
            if (in >> word && word == "ready" && (in >> x_ >> y_ >> width_ >> height_)) return true;
        }
        return !process_->running();
    });
    if (!ready || width_ <= 0)
        throw std::runtime_error("pelora-qt-drag-source did not show its window: " + readFile(folder_ / "log"));
}

FileDragSource::~FileDragSource() {
    if (process_) process_->stop();
}

std::vector<std::string> FileDragSource::reportLines() const {
    std::vector<std::string> lines;
    std::error_code missing;
    if (!std::filesystem::exists(folder_ / "report", missing)) return lines;
    std::istringstream in(readFile(folder_ / "report"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string FileDragSource::dragTo(int x, int y, const std::function<void()>& pump, std::chrono::milliseconds timeout) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) throw std::runtime_error("no X display for the drag");
    const std::size_t before = reportLines().size();
    auto move = [&](int px, int py) {
        XTestFakeMotionEvent(display, -1, px, py, CurrentTime);
        XFlush(display);
    };
    const int fromX = x_ + width_ / 2, fromY = y_ + height_ / 2;
    move(fromX, fromY);
    pass(std::chrono::milliseconds(100), pump);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XFlush(display);
    pass(std::chrono::milliseconds(100), pump);
    // Past the drag distance inside the source first, then across in steps: each step is a
    // position the two sides exchange XDND messages for.
    for (int step = 1; step <= 4; ++step) {
        move(fromX + step * 4, fromY);
        pass(std::chrono::milliseconds(30), pump);
    }
    constexpr int steps = 16;
    for (int step = 1; step <= steps; ++step) {
        move(fromX + 16 + (x - fromX - 16) * step / steps, fromY + (y - fromY) * step / steps);
        pass(std::chrono::milliseconds(40), pump);
    }
    // Rest on the target until it has answered the last position.
    move(x + 1, y);
    pass(std::chrono::milliseconds(300), pump);
    move(x, y);
    pass(std::chrono::milliseconds(300), pump);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XFlush(display);
    std::string ended;
    const auto end = Clock::now() + timeout;
    while (ended.empty() && Clock::now() < end) {
        pass(std::chrono::milliseconds(20), pump);
        const std::vector<std::string> lines = reportLines();
        for (std::size_t i = before; i < lines.size(); ++i)
            if (lines[i].rfind("drag-ended ", 0) == 0) ended = lines[i].substr(11);
    }
    XCloseDisplay(display);
    return ended;
}

}  // namespace pelora::testing
