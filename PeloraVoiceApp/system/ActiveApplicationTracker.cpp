#include "PeloraVoiceApp/system/ActiveApplicationTracker.h"

#include "PeloraVoiceApp/QtMainThreadScheduler.h"
#include "PeloraVoiceApp/system/OwnTextView.h"

namespace {

QVariant valueOf(const std::optional<pelora::ActiveApplicationSnapshot>& snapshot) {
    return snapshot ? QVariant::fromValue(*snapshot) : QVariant();
}

}  // namespace

ActiveApplicationTracker& ActiveApplicationTracker::shared() {
    // Kept for the whole process, like the desktop's own notices.
    static auto* tracker = new ActiveApplicationTracker(makeX11FrontApplicationSource(),
                                                        QtMainThreadScheduler::shared(),
                                                        hasFocusedInternalEditableTextView);
    return *tracker;
}

ActiveApplicationTracker::ActiveApplicationTracker(std::unique_ptr<FrontApplicationSource> source,
                                                   MainThreadScheduler& scheduler,
                                                   std::function<bool()> hasFocusedInternalEditableTextView,
                                                   QObject* parent)
    : QObject(parent),
      source_(std::move(source)),
      scheduler_(scheduler),
      hasFocusedInternalEditableTextView_(std::move(hasFocusedInternalEditableTextView)) {
    refreshCurrentFrontmost();
    std::weak_ptr<bool> alive = alive_;
    MainThreadScheduler* mainThread = &scheduler_;
    source_->watchActivations([this, alive, mainThread](std::optional<Snapshot> activated) {
        mainThread->post([this, alive, activated = std::move(activated)] {
            if (alive.expired()) return;
            if (activated) {
                apply(*activated);
            } else {
                refreshCurrentFrontmost();
            }
        });
    });
    // An activation between the first read and the start of the notices sends none: read
    // the front again now that every later one is heard.
    refreshCurrentFrontmost();
}

ActiveApplicationTracker::~ActiveApplicationTracker() {
    source_->watchActivations(nullptr);
    alive_.reset();
}

QVariant ActiveApplicationTracker::currentFrontmostValue() const { return valueOf(currentFrontmost_); }
QVariant ActiveApplicationTracker::lastExternalAppValue() const { return valueOf(lastExternalApp_); }
QVariant ActiveApplicationTracker::recordingTargetAppValue() const { return valueOf(recordingTargetApp_); }

void ActiveApplicationTracker::setField(std::optional<Snapshot>& field, std::optional<Snapshot> value,
                                        void (ActiveApplicationTracker::*changed)()) {
    if (field == value) return;
    field = std::move(value);
    emit(this->*changed)();
}

void ActiveApplicationTracker::apply(const Snapshot& snapshot) {
    setField(currentFrontmost_, snapshot, &ActiveApplicationTracker::currentFrontmostChanged);
    if (!isSelfApplication(snapshot)) {
        setField(lastExternalApp_, snapshot, &ActiveApplicationTracker::lastExternalAppChanged);
    }
}

void ActiveApplicationTracker::refreshCurrentFrontmost() {
    if (auto front = source_->frontmost()) apply(*front);
}

bool ActiveApplicationTracker::isSelfApplication(const std::optional<Snapshot>& snapshot) {
    return ::isSelfApplication(snapshot);
}

std::optional<ActiveApplicationTracker::Snapshot> ActiveApplicationTracker::captureTargetForRecordingStart(
    bool preferExternalWhenNotEditingSelf) {
    refreshCurrentFrontmost();
    std::optional<Snapshot> current = currentFrontmost_;
    std::optional<Snapshot> target;
    if (current) {
        if (isSelfApplication(current) && !hasFocusedInternalEditableTextView_() && preferExternalWhenNotEditingSelf &&
            lastExternalApp_) {
            target = lastExternalApp_;
        } else {
            target = current;
        }
    } else {
        target = lastExternalApp_;
    }
    setField(recordingTargetApp_, target, &ActiveApplicationTracker::recordingTargetAppChanged);
    return target;
}

std::optional<ActiveApplicationTracker::Snapshot> ActiveApplicationTracker::resolveTargetForReinsert(
    bool fromMainWindowButton) {
    refreshCurrentFrontmost();
    if (fromMainWindowButton) {
        if (hasFocusedInternalEditableTextView_() && currentFrontmost_) return currentFrontmost_;
        return lastExternalApp_ ? lastExternalApp_ : currentFrontmost_;
    }
    if (currentFrontmost_) {
        if (isSelfApplication(currentFrontmost_) && !hasFocusedInternalEditableTextView_()) {
            return lastExternalApp_ ? lastExternalApp_ : currentFrontmost_;
        }
        return currentFrontmost_;
    }
    return lastExternalApp_;
}
