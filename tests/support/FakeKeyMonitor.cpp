#include "tests/support/FakeKeyMonitor.h"

namespace pelora::testing {

struct FakeKeyMonitor::State {
    std::uint64_t nextId = 0;
    std::map<std::uint64_t, std::pair<std::string, std::function<void(keymonitor::KeyTransition)>>> watches;
    std::map<std::uint64_t, std::pair<std::pair<std::uint32_t, unsigned>, std::function<void(keymonitor::HotKeyEvent)>>>
        grabs;
};

namespace {

class Ticket final : public keymonitor::Subscription {
public:
    Ticket(std::function<void()> end) : end_(std::move(end)) {}
    ~Ticket() override { end_(); }

private:
    std::function<void()> end_;
};

}  // namespace

FakeKeyMonitor::FakeKeyMonitor() : state_(std::make_shared<State>()) {}
FakeKeyMonitor::~FakeKeyMonitor() = default;

std::unique_ptr<keymonitor::Subscription> FakeKeyMonitor::watchKey(
    std::string_view keyName, std::function<void(keymonitor::KeyTransition)> onTransition) {
    ++watchRequests;
    if (refuseWatches) return nullptr;
    const auto id = state_->nextId++;
    state_->watches[id] = {std::string(keyName), std::move(onTransition)};
    std::weak_ptr<State> weak = state_;
    return std::make_unique<Ticket>([weak, id] {
        if (auto state = weak.lock()) state->watches.erase(id);
    });
}

keymonitor::GrabOutcome FakeKeyMonitor::grabKey(std::uint32_t keysym, unsigned modifiers,
                                                std::function<void(keymonitor::HotKeyEvent)> onEvent) {
    ++grabRequests;
    if (refuseGrabsWith) return {nullptr, *refuseGrabsWith};
    const auto id = state_->nextId++;
    state_->grabs[id] = {{keysym, modifiers}, std::move(onEvent)};
    std::weak_ptr<State> weak = state_;
    return {std::make_unique<Ticket>([weak, id] {
                if (auto state = weak.lock()) state->grabs.erase(id);
            }),
            {}};
}

void FakeKeyMonitor::send(const std::string& keyName, keymonitor::KeyTransition transition) {
    auto watches = state_->watches;  // a callback may end its own watch
    for (auto& [id, watch] : watches) {
        if (watch.first == keyName) watch.second(transition);
    }
}

bool FakeKeyMonitor::sendHotKey(std::uint32_t keysym, unsigned modifiers, keymonitor::HotKeyEvent event) {
    auto grabs = state_->grabs;
    bool sent = false;
    for (auto& [id, grab] : grabs) {
        if (grab.first == std::pair{keysym, modifiers}) {
            grab.second(event);
            sent = true;
        }
    }
    return sent;
}

std::multiset<std::string> FakeKeyMonitor::watchedKeys() const {
    std::multiset<std::string> keys;
    for (const auto& [id, watch] : state_->watches) keys.insert(watch.first);
    return keys;
}

std::set<std::pair<std::uint32_t, unsigned>> FakeKeyMonitor::grabbedKeys() const {
    std::set<std::pair<std::uint32_t, unsigned>> keys;
    for (const auto& [id, grab] : state_->grabs) keys.insert(grab.first);
    return keys;
}

}  // namespace pelora::testing
