#pragma once

#include <string>

namespace pelora {

// The insertion orchestrator as the controller uses it. Main thread only.
class DictationPaster {
public:
    virtual ~DictationPaster() = default;
    // Leaves a non-empty text on the clipboard for the user (cancelling a pending restore);
    // an empty text changes nothing.
    virtual void copyOnly(const std::string& text) = 0;
};

}  // namespace pelora
