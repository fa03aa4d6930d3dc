// The synthetic-key half of AccessibilityTextInjector.
#include "engine/injection/AccessibilityTextInjector.h"

#include "engine/injection/TextInjectionError.h"
#include "platform/synthkeys/SyntheticKeyboard.h"
#include "platform/text/UnicodeText.h"

#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <string>

namespace pelora {

namespace {

using synthkeys::Key;
using synthkeys::KeySession;
using namespace std::chrono_literals;

constexpr std::string_view pasteFailed = "キーイベントの作成に失敗しました";
constexpr std::string_view shiftReturnFailed = "Shift+Return キーイベントの作成に失敗しました";
constexpr std::string_view shiftLeftFailed = "Shift+Left キーイベントの作成に失敗しました";
constexpr std::string_view deleteFailed = "Delete キーイベントの作成に失敗しました";
constexpr std::string_view rightFailed = "Right キーイベントの作成に失敗しました";
constexpr std::string_view typingFailed = "Unicode キーイベントの作成に失敗しました";

std::shared_ptr<synthkeys::SyntheticKeyboard>& keyboardForTesting() {
    static std::shared_ptr<synthkeys::SyntheticKeyboard> keyboard;
    return keyboard;
}

std::shared_ptr<synthkeys::SyntheticKeyboard> keyboard() {
    if (auto testing = keyboardForTesting()) return testing;
    static const std::shared_ptr<synthkeys::SyntheticKeyboard> display = synthkeys::xtestKeyboard();
    return display;
}

// Waits `duration`, or less when a stop is requested.
void pause(std::chrono::milliseconds duration, const std::stop_token& stop) {
    if (stop.stop_requested()) return;
    std::mutex mutex;
    std::condition_variable_any wakeUp;
    std::unique_lock lock(mutex);
    wakeUp.wait_for(lock, stop, duration, [] { return false; });
}

// A session with the held modifiers released, or postEventNotPermitted.
std::unique_ptr<KeySession> openSession() {
    std::unique_ptr<KeySession> session = keyboard()->open();
    if (!session) throw TextInjectionError::postEventNotPermitted();
    session->releaseHeldModifiers();
    return session;
}

struct Step {
    Key key;
    bool down;
    std::chrono::milliseconds pauseAfter;
};

// Every key of the sequence is found before the first is posted, so a missing key
// posts nothing.
void postSequence(KeySession& session, std::initializer_list<Step> steps, std::string_view failure,
                  const std::stop_token& stop) {
    for (const Step& step : steps) {
        if (!session.prepare(step.key)) throw TextInjectionError::injectionFailed(std::string(failure));
    }
    for (const Step& step : steps) {
        if (!session.post(step.key, step.down)) throw TextInjectionError::injectionFailed(std::string(failure));
        pause(step.pauseAfter, stop);
    }
}

void postShiftReturn(KeySession& session, const std::stop_token& stop) {
    postSequence(session,
                 {{Key::shift, true, 6ms}, {Key::returnKey, true, 8ms}, {Key::returnKey, false, 6ms}, {Key::shift, false, 8ms}},
                 shiftReturnFailed, stop);
}

void typeCodePoints(KeySession& session, std::string_view text) {
    if (!session.type(text::toScalars(text))) throw TextInjectionError::injectionFailed(std::string(typingFailed));
}

}  // namespace

bool AccessibilityTextInjector::mayPostEvents() { return keyboard()->mayPost(); }

void AccessibilityTextInjector::simulateCommandVPaste(bool terminalLike, std::stop_token stop) {
    auto session = openSession();
    if (terminalLike) {
        postSequence(*session,
                     {{Key::control, true, 8ms},
                      {Key::shift, true, 8ms},
                      {Key::v, true, 10ms},
                      {Key::v, false, 8ms},
                      {Key::shift, false, 8ms},
                      {Key::control, false, 8ms}},
                     pasteFailed, stop);
    } else {
        postSequence(*session,
                     {{Key::control, true, 8ms}, {Key::v, true, 10ms}, {Key::v, false, 8ms}, {Key::control, false, 8ms}},
                     pasteFailed, stop);
    }
}

void AccessibilityTextInjector::simulateShiftReturnKey(std::stop_token stop) {
    auto session = openSession();
    postShiftReturn(*session, stop);
}

void AccessibilityTextInjector::simulateShiftLeftSelection(int count, std::stop_token stop) {
    if (count < 1) return;
    auto session = openSession();
    // X key events carry no flags of their own: Shift is held around the presses.
    postSequence(*session, {{Key::shift, true, 3ms}}, shiftLeftFailed, stop);
    for (int press = 0; press < count; ++press) {
        postSequence(*session, {{Key::left, true, 3ms}, {Key::left, false, 3ms}}, shiftLeftFailed, stop);
    }
    postSequence(*session, {{Key::shift, false, 3ms}}, shiftLeftFailed, stop);
}

void AccessibilityTextInjector::simulateDeleteKey(std::stop_token stop) {
    auto session = openSession();
    postSequence(*session, {{Key::backSpace, true, 4ms}, {Key::backSpace, false, 4ms}}, deleteFailed, stop);
}

void AccessibilityTextInjector::simulateRightKey(std::stop_token stop) {
    auto session = openSession();
    postSequence(*session, {{Key::right, true, 4ms}, {Key::right, false, 4ms}}, rightFailed, stop);
}

void AccessibilityTextInjector::simulateUnicodeTyping(std::string_view text, std::stop_token stop) {
    if (text.empty()) return;
    auto session = openSession();
    if (text.find('\n') == std::string_view::npos) {
        typeCodePoints(*session, text);
        return;
    }
    // n line feeds give n + 1 pieces, empty ones kept; a carriage return is a character.
    std::size_t start = 0;
    while (true) {
        const std::size_t lineFeed = text.find('\n', start);
        const std::string_view piece = text.substr(start, lineFeed == std::string_view::npos ? std::string_view::npos : lineFeed - start);
        if (!piece.empty()) {
            typeCodePoints(*session, piece);
            pause(12ms, stop);
        }
        if (lineFeed == std::string_view::npos) break;
        postShiftReturn(*session, stop);
        pause(12ms, stop);
        start = lineFeed + 1;
    }
}

void AccessibilityTextInjector::useKeyboardForTesting(std::shared_ptr<synthkeys::SyntheticKeyboard> keyboard) {
    keyboardForTesting() = std::move(keyboard);
}

}  // namespace pelora
