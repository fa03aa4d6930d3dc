#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/clipboard/X11Clipboard.h"

// The general clipboard as the insertion orchestrator uses it. A snapshot may wait on a
// slow owner (bounded), so it is taken off the main thread.
class ClipboardAccess {
public:
    using Snapshot = pelora::clipboard::ClipboardSnapshot;

    virtual ~ClipboardAccess() = default;
    virtual std::uint64_t changeCount() = 0;
    virtual Snapshot snapshot() = 0;
    virtual bool writeText(const std::string& text) = 0;
    virtual bool restore(const Snapshot& snapshot) = 0;
    // Completed fetches of what we last wrote or restored (a paste is one).
    virtual std::uint64_t fetchCount() = 0;
    // Called as the application quits: what we own is offered to a running clipboard
    // manager, which keeps it after we are gone.
    virtual bool keepAfterExit() { return false; }
};

std::unique_ptr<ClipboardAccess> makeX11ClipboardAccess();
