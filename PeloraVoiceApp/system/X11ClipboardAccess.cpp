#include "PeloraVoiceApp/system/ClipboardAccess.h"

namespace {

class X11ClipboardAccess final : public ClipboardAccess {
public:
    std::uint64_t changeCount() override { return clipboard_.changeCount(); }
    Snapshot snapshot() override { return clipboard_.snapshot(); }
    bool writeText(const std::string& text) override { return clipboard_.writeText(text); }
    bool restore(const Snapshot& snapshot) override { return clipboard_.restore(snapshot); }
    std::uint64_t fetchCount() override { return clipboard_.fetchCount(); }
    bool keepAfterExit() override { return clipboard_.saveToClipboardManager(); }

private:
    pelora::clipboard::X11Clipboard clipboard_;
};

}  // namespace

std::unique_ptr<ClipboardAccess> makeX11ClipboardAccess() { return std::make_unique<X11ClipboardAccess>(); }
