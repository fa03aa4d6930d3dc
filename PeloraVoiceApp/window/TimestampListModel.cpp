#include "PeloraVoiceApp/window/TimestampListModel.h"

#include "PeloraVoiceApp/window/WindowStyle.h"

#include <QPainter>

#include <algorithm>

namespace pelora {

namespace {
constexpr int rowSpacing = 6;
constexpr int spanColumn = 115;

QString zeroPadded(double value) {
    QString text = QString::number(value, 'f', 2);
    if (text.size() < 5) text.prepend(QString(5 - text.size(), QLatin1Char('0')));
    return text;
}
}  // namespace

TimestampListModel::TimestampListModel(QObject* parent) : QAbstractListModel(parent) {}

void TimestampListModel::setWords(std::vector<TranscribedWord> words) {
    beginResetModel();
    words_ = std::move(words);
    shown_ = std::min(batch, static_cast<int>(words_.size()));
    endResetModel();
}

int TimestampListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shown_; }

QVariant TimestampListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= shown_) return {};
    const TranscribedWord& word = words_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole: return QString::fromStdString(word.text);
        case spanRole: return span(word.start, word.end);
        case Qt::ToolTipRole: return span(word.start, word.end);
        default: return {};
    }
}

bool TimestampListModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && shown_ < static_cast<int>(words_.size());
}

void TimestampListModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid()) return;
    const int more = std::min(batch, static_cast<int>(words_.size()) - shown_);
    if (more <= 0) return;
    beginInsertRows({}, shown_, shown_ + more - 1);
    shown_ += more;
    endInsertRows();
}

QString TimestampListModel::span(double start, double end) {
    return zeroPadded(start) + QStringLiteral("s – ") + zeroPadded(end) + QStringLiteral("s");
}

void TimestampRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(option.rect).adjusted(0, 0, 0, -rowSpacing);
    QColor fill = window_style::withOpacity(window_style::primary(), 0.03);
    if (option.state & QStyle::State_Selected) fill = window_style::withOpacity(option.palette.color(QPalette::Highlight), 0.25);
    painter->setPen(Qt::NoPen);
    painter->setBrush(fill);
    painter->drawRoundedRect(box, 7, 7);
    if (option.state & QStyle::State_HasFocus) {
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(option.palette.color(QPalette::Highlight), 1.5));
        painter->drawRoundedRect(box.adjusted(1, 1, -1, -1), 6, 6);
    }
    const QRectF inner = box.adjusted(14, 7, -14, -7);
    painter->setFont(window_style::monospaced(11.5, QFont::Medium));
    painter->setPen(window_style::secondary());
    painter->drawText(QRectF(inner.left(), inner.top(), spanColumn, inner.height()), Qt::AlignLeft | Qt::AlignVCenter,
                      index.data(TimestampListModel::spanRole).toString());
    painter->setFont(window_style::font(14, QFont::Medium));
    painter->setPen(window_style::primary());
    const QRectF wordBox(inner.left() + spanColumn + 12, inner.top(), inner.width() - spanColumn - 12, inner.height());
    const QString word = QFontMetrics(painter->font()).elidedText(index.data().toString(), Qt::ElideRight, int(wordBox.width()));
    painter->drawText(wordBox, Qt::AlignLeft | Qt::AlignVCenter, word);
    painter->restore();
}

QSize TimestampRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    const int line = std::max(QFontMetrics(window_style::font(14, QFont::Medium)).height(),
                              QFontMetrics(window_style::monospaced(11.5)).height());
    return {200, line + 14 + rowSpacing};
}

}  // namespace pelora
