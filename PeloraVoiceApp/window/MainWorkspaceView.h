#pragma once

#include <QMainWindow>

namespace pelora {

class AppViewModelQtAdapter;

// The main window: "PeloraVoice 2", at least 880 × 580, opened at 1020 × 680. Each time it
// is shown it asks the controller to boot the engine.
class MainWorkspaceView final : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int minimumWidth = 880;
    static constexpr int minimumHeight = 580;
    static constexpr int defaultWidth = 1020;
    static constexpr int defaultHeight = 680;

    explicit MainWorkspaceView(AppViewModelQtAdapter& vm, QWidget* parent = nullptr);
    ~MainWorkspaceView() override;

    // Shows the window at its default size, centred on its screen.
    void openAtDefaultSize();
    // Shows it (again), raises it and asks for the input focus.
    void presentToFront();

protected:
    void showEvent(QShowEvent* event) override;

private:
    AppViewModelQtAdapter& vm_;
};

}  // namespace pelora
