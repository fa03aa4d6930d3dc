#include "PeloraVoiceApp/pages/VocabularyListModel.h"

namespace pelora::pages {

VocabularyListModel::VocabularyListModel(QObject* parent) : QAbstractListModel(parent) {}

void VocabularyListModel::setEntries(std::vector<CustomVocabularyEntry> entries) {
    const bool sameRows = entries.size() == entries_.size() &&
                          std::equal(entries.begin(), entries.end(), entries_.begin(),
                                     [](const auto& a, const auto& b) { return a.id == b.id; });
    if (!sameRows) {
        beginResetModel();
        entries_ = std::move(entries);
        endResetModel();
        return;
    }
    // The same rows: only those that changed are redrawn, and the current row stays.
    for (std::size_t row = 0; row < entries.size(); ++row) {
        const auto& now = entries[row];
        const auto& shown = entries_[row];
        if (now.enabled == shown.enabled && now.reading == shown.reading && now.surface == shown.surface &&
            now.aliases == shown.aliases && now.contextHints == shown.contextHints)
            continue;
        entries_[row] = std::move(entries[row]);
        const QModelIndex changed = index(static_cast<int>(row));
        emit dataChanged(changed, changed);
    }
}

int VocabularyListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

QVariant VocabularyListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const CustomVocabularyEntry& entry = entries_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return QString::fromStdString(entry.reading + " → " + entry.surface);
        case ReadingRole: return QString::fromStdString(entry.reading);
        case SurfaceRole: return QString::fromStdString(entry.surface);
        case IdRole: return QString::fromStdString(entry.id);
        case Qt::CheckStateRole: return entry.enabled ? Qt::Checked : Qt::Unchecked;
        default: return {};
    }
}

Qt::ItemFlags VocabularyListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

}  // namespace pelora::pages
