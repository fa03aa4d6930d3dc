#include "tests/support/FakeSyntheticKeyboard.h"

#include "platform/text/UnicodeText.h"

namespace pelora::testing {

namespace {

class FakeSession : public synthkeys::KeySession {
public:
    explicit FakeSession(FakeSyntheticKeyboard& keyboard) : keyboard_(keyboard) {}
    ~FakeSession() override { keyboard_.record("close"); }

    bool releaseHeldModifiers() override {
        keyboard_.record("release modifiers");
        return true;
    }
    bool prepare(synthkeys::Key key) override { return key != keyboard_.missingKey; }
    bool post(synthkeys::Key key, bool down) override {
        if (key == keyboard_.missingKey) return false;
        keyboard_.record((down ? "down " : "up ") + keyName(key));
        return true;
    }
    bool type(std::u32string_view codePoints) override {
        if (keyboard_.typeCallsThatSucceed) {
            if (*keyboard_.typeCallsThatSucceed == 0) return false;
            --*keyboard_.typeCallsThatSucceed;
        }
        keyboard_.record("type " + text::fromScalars(codePoints));
        return true;
    }

private:
    FakeSyntheticKeyboard& keyboard_;
};

}  // namespace

std::string keyName(synthkeys::Key key) {
    switch (key) {
    case synthkeys::Key::control: return "control";
    case synthkeys::Key::shift: return "shift";
    case synthkeys::Key::v: return "v";
    case synthkeys::Key::returnKey: return "return";
    case synthkeys::Key::left: return "left";
    case synthkeys::Key::right: return "right";
    case synthkeys::Key::backSpace: return "backspace";
    }
    return "?";
}

bool FakeSyntheticKeyboard::mayPost() {
    ++mayPostCalls;
    return mayPostAnswer;
}

std::unique_ptr<synthkeys::KeySession> FakeSyntheticKeyboard::open() {
    ++openCalls;
    if (!mayPostAnswer) return nullptr;
    return std::make_unique<FakeSession>(*this);
}

std::vector<FakeSyntheticKeyboard::Event> FakeSyntheticKeyboard::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<std::string> FakeSyntheticKeyboard::log() const {
    std::vector<std::string> names;
    for (const Event& event : events()) names.push_back(event.what);
    return names;
}

void FakeSyntheticKeyboard::record(std::string what) {
    std::lock_guard lock(mutex_);
    events_.push_back({std::move(what), std::chrono::steady_clock::now()});
}

}  // namespace pelora::testing
