#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;

namespace pelora {
class AppViewModelQtAdapter;
}

namespace pelora::pages {

class PermissionStepRow;

// The shortcuts and settings page: the push-to-talk key and its double-tap lock, the
// reinsert shortcut, the recognition mode, the three insertion options, and the state of
// the two permissions dictation needs with their repairs. No state of its own; the adapter
// must outlive it.
class ShortcutsPageView final : public QWidget {
    Q_OBJECT
public:
    explicit ShortcutsPageView(AppViewModelQtAdapter& adapter, QWidget* parent = nullptr);

    PermissionStepRow* microphoneRow() const { return microphone_; }
    PermissionStepRow* accessibilityRow() const { return accessibility_; }

private:
    void syncFromModel();
    void resetPermissions();

    AppViewModelQtAdapter& adapter_;
    QComboBox* pushToTalkKey_ = nullptr;
    QCheckBox* doubleTap_ = nullptr;
    QComboBox* reinsertPreset_ = nullptr;
    QComboBox* engineMode_ = nullptr;
    QCheckBox* autoPaste_ = nullptr;
    QCheckBox* copyToClipboard_ = nullptr;
    QCheckBox* sound_ = nullptr;
    PermissionStepRow* microphone_ = nullptr;
    PermissionStepRow* accessibility_ = nullptr;
};

}  // namespace pelora::pages
