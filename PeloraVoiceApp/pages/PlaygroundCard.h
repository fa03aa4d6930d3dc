#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pelora {
class AppViewModelQtAdapter;
}

namespace pelora::pages {

// The rule playground: typed or sample text, the run button, and the controller's output
// with the rules that fired. Keeps no state of its own; the adapter must outlive it.
class PlaygroundCard final : public QWidget {
    Q_OBJECT
public:
    explicit PlaygroundCard(AppViewModelQtAdapter& adapter, QWidget* parent = nullptr);

    static constexpr const char* placeholderResult = "(変換結果がここに表示されます)";

private:
    void syncInput();
    void syncResult();

    AppViewModelQtAdapter& adapter_;
    QLineEdit* input_ = nullptr;
    QLabel* output_ = nullptr;
    QLabel* rules_ = nullptr;
};

}  // namespace pelora::pages
