#include "PeloraVoiceApp/system/FrontApplicationSource.h"

#include "engine/injection/BundleIdentifierResolver.h"
#include "platform/windows/DesktopWindows.h"

namespace {

std::optional<std::string> nonEmpty(const std::string& s) {
    if (s.empty()) return std::nullopt;
    return s;
}

pelora::ActiveApplicationSnapshot snapshotOf(const pelora::windows::WindowOwner& owner) {
    pelora::ActiveApplicationSnapshot snapshot;
    snapshot.processIdentifier = owner.processIdentifier;
    snapshot.bundleIdentifier = pelora::BundleIdentifierResolver::resolve(
        {nonEmpty(owner.desktopFileId), nonEmpty(owner.wmClassInstance), nonEmpty(owner.wmClassName)});
    snapshot.appName = nonEmpty(owner.appName);
    return snapshot;
}

class X11FrontApplicationSource final : public FrontApplicationSource {
public:
    std::optional<pelora::ActiveApplicationSnapshot> frontmost() override {
        auto owner = windows_.frontmost();
        if (!owner) return std::nullopt;
        return snapshotOf(*owner);
    }

    void watchActivations(Activation onActivated) override {
        if (!onActivated) {
            windows_.watchActivations(nullptr);
            return;
        }
        windows_.watchActivations([onActivated = std::move(onActivated)](const pelora::windows::WindowOwner& owner) {
            onActivated(snapshotOf(owner));
        });
    }

    bool activate(std::int32_t processIdentifier) override { return windows_.activateProcess(processIdentifier); }

    bool isTerminated(std::int32_t processIdentifier) override {
        return pelora::windows::DesktopWindows::isProcessTerminated(processIdentifier);
    }

private:
    pelora::windows::DesktopWindows windows_;
};

}  // namespace

std::unique_ptr<FrontApplicationSource> makeX11FrontApplicationSource() {
    return std::make_unique<X11FrontApplicationSource>();
}
