#pragma once

#include "engine/recognition/TranscribedWord.h"

#include <QAbstractListModel>
#include <QStyledItemDelegate>

#include <vector>

namespace pelora {

// The words of a result as rows of a list view, handed out 200 at a time as the view
// scrolls (a long result shows at once). DisplayRole is the word, spanRole the time span.
class TimestampListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int spanRole = Qt::UserRole + 1;
    static constexpr int batch = 200;

    explicit TimestampListModel(QObject* parent = nullptr);

    void setWords(std::vector<TranscribedWord> words);
    int totalWords() const { return static_cast<int>(words_.size()); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    // "01.50s – 12.25s": "%05.2fs – %05.2fs" without the process locale.
    static QString span(double start, double end);

private:
    std::vector<TranscribedWord> words_;
    int shown_ = 0;
};

// A row: a faint rounded box, the span in the monospaced font in a 115 px column, the word.
class TimestampRowDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace pelora
