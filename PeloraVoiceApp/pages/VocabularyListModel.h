#pragma once

#include "engine/japanese/CustomVocabularyEntry.h"

#include <QAbstractListModel>

#include <vector>

namespace pelora::pages {

// The custom vocabulary as rows: the written form for display, the reading, the switch as
// the check state, the entry's identifier. A new list that holds the same entries in the
// same order updates the rows that changed; any other list resets the model.
class VocabularyListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { ReadingRole = Qt::UserRole + 1, SurfaceRole, IdRole };

    explicit VocabularyListModel(QObject* parent = nullptr);

    void setEntries(std::vector<CustomVocabularyEntry> entries);
    const std::vector<CustomVocabularyEntry>& entries() const { return entries_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    std::vector<CustomVocabularyEntry> entries_;
};

}  // namespace pelora::pages
