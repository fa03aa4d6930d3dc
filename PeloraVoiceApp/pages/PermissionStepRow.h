#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace pelora::pages {

class SymbolLabel;

// One permission as the permission card and the permission sheet show it: a status icon,
// the title over the detail, and at the end either the "許可済み" badge or the button that
// asks for it.
class PermissionStepRow final : public QWidget {
    Q_OBJECT
public:
    PermissionStepRow(const QString& title, const QString& detail, bool isGranted, const QString& buttonTitle,
                      std::function<void()> action, QWidget* parent = nullptr);

    void setGranted(bool isGranted);
    bool isGranted() const { return granted_; }
    QPushButton* button() const { return button_; }
    QLabel* grantedBadge() const { return badge_; }

    static constexpr const char* grantedText = "許可済み";

private:
    bool granted_ = false;
    SymbolLabel* icon_ = nullptr;
    QLabel* badge_ = nullptr;
    QPushButton* button_ = nullptr;
};

}  // namespace pelora::pages
