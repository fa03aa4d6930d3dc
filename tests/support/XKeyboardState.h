#pragma once

#include <string>
#include <vector>

namespace pelora::testing {

// The core keymap and modifier map of a display, for before/after comparisons.
struct KeymapSnapshot {
    std::vector<unsigned long> keysyms;
    int keysymsPerKeycode = 0;
    std::vector<unsigned char> modifiers;
    friend bool operator==(const KeymapSnapshot&, const KeymapSnapshot&) = default;
};
// Throws std::runtime_error when the display does not answer.
KeymapSnapshot snapshotKeymap(const std::string& display);

// Presses (or releases) the key of `keysym` through a connection of the test's own, as
// a user holding it would.
void fakeKey(const std::string& display, unsigned long keysym, bool down);
// True when the key of `keysym` is down.
bool isKeyDown(const std::string& display, unsigned long keysym);

}  // namespace pelora::testing
