#pragma once

#include <QWidget>

namespace pelora {
class AppViewModelQtAdapter;
}

namespace pelora::pages {

class PermissionStepRow;

// The content of the permission sheet: the microphone and the accessibility steps with
// their repairs, following the controller's permission state while it is shown. "閉じる"
// and Escape close it, "完了" checks the permissions again first. The window presents it
// while isPermissionSheetPresented is true. The adapter must outlive it.
class PermissionSheetView final : public QWidget {
    Q_OBJECT
public:
    explicit PermissionSheetView(AppViewModelQtAdapter& adapter, QWidget* parent = nullptr);

    PermissionStepRow* microphoneRow() const { return microphone_; }
    PermissionStepRow* accessibilityRow() const { return accessibility_; }

    static constexpr int sheetWidth = 540;
    static constexpr int sheetHeight = 340;

private:
    void syncFromModel();

    AppViewModelQtAdapter& adapter_;
    PermissionStepRow* microphone_ = nullptr;
    QWidget* microphoneRepair_ = nullptr;
    PermissionStepRow* accessibility_ = nullptr;
    QWidget* accessibilityRepair_ = nullptr;
};

}  // namespace pelora::pages
