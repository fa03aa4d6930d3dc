#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace pelora {

class AppViewModelQtAdapter;

// The controller's latest notice (silence, permissions, an earlier edition closed) as one
// line atop the detail column: info symbol, the text in the secondary colour, "閉じる".
// Hidden while there is no notice.
class StatusNoticeLine final : public QWidget {
    Q_OBJECT
public:
    explicit StatusNoticeLine(AppViewModelQtAdapter& vm, QWidget* parent = nullptr);

    QLabel* textLabel() const { return text_; }
    QPushButton* closeButton() const { return close_; }

private:
    void sync();

    AppViewModelQtAdapter& vm_;
    QLabel* icon_;
    QLabel* text_;
    QPushButton* close_;
};

}  // namespace pelora
