#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelora::clipboard {

// One representation the clipboard's owner offered, as the X server carries it.
struct ClipboardEntry {
    std::string target;  // the name the owner listed, e.g. "UTF8_STRING", "image/png"
    std::string type;    // the property type of the reply, e.g. "UTF8_STRING", "ATOM"
    int format = 8;      // 8, 16 or 32 bits per item
    std::string bytes;   // the items packed as the wire carries them (4 bytes per 32-bit item)

    bool operator==(const ClipboardEntry&) const = default;
};

// Everything readable of the clipboard at one moment. An X11 selection has one owner
// and so one item; its representations keep the owner's order, with text, HTML, file
// lists and PNG first.
using ClipboardSnapshot = std::vector<ClipboardEntry>;

// The X11 CLIPBOARD selection, read and owned from a connection and thread of its own,
// so that a busy caller never stalls another application's paste.
class X11Clipboard {
public:
    struct Limits {
        std::chrono::milliseconds idle{1000};       // a target silent this long is left out
        std::chrono::milliseconds total{3000};      // the whole snapshot stops after this
        std::uint64_t totalBytes = 256ull << 20;    // ... or after this many bytes
        std::size_t incrThreshold = 256 * 1024;     // larger replies go in INCR chunks
    };

    // Connects to $DISPLAY (or `displayName`). Without a display every read is empty and
    // every write fails.
    explicit X11Clipboard(const std::string& displayName = {});
    X11Clipboard(const std::string& displayName, Limits limits);
    // Offers the contents to a running clipboard manager first when we own them.
    ~X11Clipboard();
    X11Clipboard(const X11Clipboard&) = delete;
    X11Clipboard& operator=(const X11Clipboard&) = delete;

    bool connected() const;

    // How many times the clipboard changed owner since this object started, our own
    // writes included. A write returns only after its change is counted.
    std::uint64_t changeCount() const;

    // Reads every representation the current owner offers, within the limits. Meta
    // targets (TARGETS, MULTIPLE, TIMESTAMP, SAVE_TARGETS, DELETE, ...) and X resource
    // handles (PIXMAP, BITMAP, DRAWABLE, COLORMAP, WINDOW) are left out.
    ClipboardSnapshot snapshot();

    // Takes the clipboard with a text: UTF8_STRING, text/plain;charset=utf-8, text/plain,
    // TEXT, and STRING when the text is Latin-1. False when ownership was not granted.
    bool writeText(const std::string& utf8);

    // Takes the clipboard with exactly the saved representations. An empty snapshot
    // does nothing and returns false.
    bool restore(const ClipboardSnapshot& snapshot);

    // How many requests for our current contents other clients have completed (a paste
    // is a fetch of one of them). Starts at 0 with each write or restore.
    std::uint64_t fetchCount() const;

    // Waits until another client has fetched our current contents at least `count` times,
    // or the time is up. True when they have.
    bool waitForFetches(std::uint64_t count, std::chrono::milliseconds timeLimit) const;

    // The current text as a reader would paste it (UTF8_STRING), if any.
    std::optional<std::string> readText();

    // Asks a running clipboard manager to keep our contents (SAVE_TARGETS) and serves its
    // reads, for at most `timeLimit`. False when no manager runs or we own nothing.
    bool saveToClipboardManager(std::chrono::milliseconds timeLimit = std::chrono::milliseconds(2000));

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pelora::clipboard
