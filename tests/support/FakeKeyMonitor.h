#pragma once
#include "platform/keymonitor/KeyMonitor.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace pelora::testing {

// Keys on demand for tests of the key logic: the test plays the monitor's thread and
// sends transitions and hot-key events itself.
class FakeKeyMonitor final : public keymonitor::KeyMonitor {
public:
    FakeKeyMonitor();
    ~FakeKeyMonitor() override;

    std::unique_ptr<keymonitor::Subscription> watchKey(
        std::string_view keyName, std::function<void(keymonitor::KeyTransition)> onTransition) override;
    keymonitor::GrabOutcome grabKey(std::uint32_t keysym, unsigned modifiers,
                                    std::function<void(keymonitor::HotKeyEvent)> onEvent) override;
    std::optional<unsigned> modifierState() override { return modifiers; }

    // Sends a transition to every live watch of `keyName`.
    void send(const std::string& keyName, keymonitor::KeyTransition transition);
    // Sends an event to the live grab of this combination; false when there is none.
    bool sendHotKey(std::uint32_t keysym, unsigned modifiers, keymonitor::HotKeyEvent event);

    // Names of the keys watched now (one entry per live watch).
    std::multiset<std::string> watchedKeys() const;
    // Combinations grabbed now.
    std::set<std::pair<std::uint32_t, unsigned>> grabbedKeys() const;

    // Set by the test.
    bool refuseWatches = false;
    std::optional<std::string> refuseGrabsWith;  // the error text a grab gets
    std::optional<unsigned> modifiers = 0u;
    int watchRequests = 0;
    int grabRequests = 0;

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace pelora::testing
