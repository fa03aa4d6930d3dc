#pragma once

#include <QObject>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

#include "PeloraVoiceApp/MainThreadScheduler.h"
#include "PeloraVoiceApp/system/FrontApplicationSource.h"
#include "engine/injection/ActiveApplicationSnapshot.h"

Q_DECLARE_METATYPE(pelora::ActiveApplicationSnapshot)

// Follows which application is in front, remembers the last one other than this
// application, and picks the application a dictation or a reinsertion goes into. Its
// three fields are properties (a QVariant holding an ActiveApplicationSnapshot, or
// invalid for none) whose change signals fire after the new value is stored. Main thread
// only; activation notices from the desktop are posted to the main thread.
class ActiveApplicationTracker : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariant currentFrontmost READ currentFrontmostValue NOTIFY currentFrontmostChanged)
    Q_PROPERTY(QVariant lastExternalApp READ lastExternalAppValue NOTIFY lastExternalAppChanged)
    Q_PROPERTY(QVariant recordingTargetApp READ recordingTargetAppValue NOTIFY recordingTargetAppChanged)

public:
    using Snapshot = pelora::ActiveApplicationSnapshot;

    // The one instance, over the X11 desktop and the Qt main loop; created on first use.
    static ActiveApplicationTracker& shared();

    // For tests: any source and scheduler, and the own-text-view check of the insertion
    // orchestrator.
    ActiveApplicationTracker(std::unique_ptr<FrontApplicationSource> source, MainThreadScheduler& scheduler,
                             std::function<bool()> hasFocusedInternalEditableTextView,
                             QObject* parent = nullptr);
    ~ActiveApplicationTracker() override;

    const std::optional<Snapshot>& currentFrontmost() const { return currentFrontmost_; }
    const std::optional<Snapshot>& lastExternalApp() const { return lastExternalApp_; }
    const std::optional<Snapshot>& recordingTargetApp() const { return recordingTargetApp_; }

    void refreshCurrentFrontmost();
    // This process, or an application with this application's bundle identifier (any case).
    static bool isSelfApplication(const std::optional<Snapshot>& snapshot);
    std::optional<Snapshot> captureTargetForRecordingStart(bool preferExternalWhenNotEditingSelf);
    std::optional<Snapshot> resolveTargetForReinsert(bool fromMainWindowButton);

    // What the insertion orchestrator uses to bring the target back.
    FrontApplicationSource& source() { return *source_; }

signals:
    void currentFrontmostChanged();
    void lastExternalAppChanged();
    void recordingTargetAppChanged();

private:
    QVariant currentFrontmostValue() const;
    QVariant lastExternalAppValue() const;
    QVariant recordingTargetAppValue() const;
    void apply(const Snapshot& snapshot);
    void setField(std::optional<Snapshot>& field, std::optional<Snapshot> value, void (ActiveApplicationTracker::*changed)());

    std::unique_ptr<FrontApplicationSource> source_;
    MainThreadScheduler& scheduler_;
    std::function<bool()> hasFocusedInternalEditableTextView_;
    std::optional<Snapshot> currentFrontmost_;
    std::optional<Snapshot> lastExternalApp_;
    std::optional<Snapshot> recordingTargetApp_;
    // Notices posted from the desktop's thread check this before touching the tracker.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
