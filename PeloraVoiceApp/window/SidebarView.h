#pragma once

#include <QWidget>

class QLabel;
class QListWidget;
class QToolButton;

namespace pelora {

class AppViewModelQtAdapter;
class ElidedLabel;

// The main window's left column: the three sections, "最近の履歴" (one row per history
// entry, newest first: its text, its time in the user's locale and a reinsert button), and
// the footer with the engine's status (one line, the whole text as tooltip) and the keys.
class SidebarView final : public QWidget {
    Q_OBJECT
public:
    explicit SidebarView(AppViewModelQtAdapter& vm, QWidget* parent = nullptr);

    QListWidget* sectionList() const { return sections_; }
    QLabel* historyHeader() const { return historyHeader_; }
    QListWidget* historyList() const { return history_; }
    // The reinsert button of a history row.
    QToolButton* reinsertButton(int row) const;
    ElidedLabel* statusLabel() const { return status_; }
    QLabel* statusDot() const { return dot_; }
    QLabel* pushToTalkHint() const { return pttHint_; }
    QLabel* reinsertHint() const { return reinsertHint_; }

private:
    void syncSections();
    void syncHistory();
    void syncFooter();

    AppViewModelQtAdapter& vm_;
    QListWidget* sections_;
    QLabel* historyHeader_;
    QListWidget* history_;
    QLabel* dot_;
    ElidedLabel* status_;
    QLabel* pttHint_;
    QLabel* reinsertHint_;
};

}  // namespace pelora
