#pragma once

#include "PeloraVoiceApp/pages/RulesPageLocalState.h"

#include <QWidget>

class QLineEdit;
class QListView;
class QPushButton;

namespace pelora {
class AppViewModelQtAdapter;
}

namespace pelora::pages {

class VocabularyListModel;

// The custom dictionary: the add form (its two fields live in `local`, owned by the main
// window), one row per entry with its switch and delete button, and the reset to the
// built-in list. Rows are a model/view list, so long vocabularies stay quick. Main thread
// only; the adapter and `local` must outlive it.
class VocabularyEditor final : public QWidget {
    Q_OBJECT
public:
    VocabularyEditor(AppViewModelQtAdapter& adapter, RulesPageLocalState& local, QWidget* parent = nullptr);

    QListView* list() const { return list_; }
    VocabularyListModel* model() const { return model_; }
    // Writes the switch of one row through the controller's vocabulary.
    void setEntryEnabled(int row, bool enabled);
    void removeEntry(int row);

private:
    void syncEntries();
    void syncAddButton();
    void add();

    AppViewModelQtAdapter& adapter_;
    RulesPageLocalState& local_;
    QLineEdit* reading_ = nullptr;
    QLineEdit* surface_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QListView* list_ = nullptr;
    VocabularyListModel* model_ = nullptr;
};

}  // namespace pelora::pages
