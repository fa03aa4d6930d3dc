#include "PeloraVoiceApp/pages/VocabularyEditor.h"

#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"
#include "PeloraVoiceApp/hud/SymbolIcon.h"
#include "PeloraVoiceApp/hud/UITheme.h"
#include "PeloraVoiceApp/pages/PageStyle.h"
#include "PeloraVoiceApp/pages/VocabularyListModel.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace pelora::pages {

namespace {

QString qs(const char* utf8) { return QString::fromUtf8(utf8); }

constexpr int rowHeight = 32;
constexpr int rowSpacing = 6;

// Where the parts of a row sit: 10 pt horizontal and 6 pt vertical padding, 12 pt apart.
struct RowGeometry {
    QRectF box, toggle, reading, arrow, surface, trash;
    explicit RowGeometry(const QRect& rect) : box(QRectF(rect).adjusted(0, 0, 0, -rowSpacing)) {
        const QRectF inner = box.adjusted(10, 6, -10, -6);
        const double middle = inner.center().y();
        toggle = QRectF(inner.left(), middle - 9, 32, 18);
        reading = QRectF(toggle.right() + 12, inner.top(), 180, inner.height());
        arrow = QRectF(reading.right() + 12, middle - 5, 10, 10);
        trash = QRectF(inner.right() - 18, middle - 9, 18, 18);
        surface = QRectF(arrow.right() + 12, inner.top(), std::max(0.0, trash.left() - 12 - arrow.right() - 12),
                         inner.height());
    }
};

class VocabularyRowDelegate final : public QStyledItemDelegate {
public:
    explicit VocabularyRowDelegate(VocabularyEditor* editor) : QStyledItemDelegate(editor), editor_(editor) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {option.rect.width(), rowHeight + rowSpacing};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QWidget* view = option.widget;
        const QColor primary = primaryColor(view);
        const RowGeometry row(option.rect);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(UITheme::withOpacity(primary, 0.03));
        painter->drawRoundedRect(row.box, 8, 8);
        if (option.state & QStyle::State_HasFocus) {
            painter->setPen(QPen(option.palette.color(QPalette::Highlight), 1.5));
            painter->setBrush(Qt::NoBrush);
            painter->drawRoundedRect(row.box.adjusted(0.75, 0.75, -0.75, -0.75), 8, 8);
        }

        // The switch: a track in the highlight colour when on, a knob at its end.
        const bool on = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        painter->setPen(Qt::NoPen);
        painter->setBrush(on ? option.palette.color(QPalette::Highlight) : UITheme::withOpacity(primary, 0.18));
        painter->drawRoundedRect(row.toggle, 9, 9);
        const double knob = row.toggle.height() - 4;
        const double knobX = on ? row.toggle.right() - 2 - knob : row.toggle.left() + 2;
        painter->setBrush(Qt::white);
        painter->drawEllipse(QRectF(knobX, row.toggle.top() + 2, knob, knob));

        painter->setFont(UITheme::roundedFont(12.5));
        painter->setPen(secondaryColor(view));
        painter->drawText(row.reading, Qt::AlignLeading | Qt::AlignVCenter,
                          painter->fontMetrics().elidedText(index.data(VocabularyListModel::ReadingRole).toString(),
                                                            Qt::ElideRight, static_cast<int>(row.reading.width())));
        painter->drawImage(row.arrow, SymbolIcon::image(QStringLiteral("arrow.right"), 10, tertiaryColor(view),
                                                        painter->device()->devicePixelRatioF()));
        painter->setFont(UITheme::roundedFont(13, QFont::DemiBold));
        painter->setPen(primary);
        painter->drawText(row.surface, Qt::AlignLeading | Qt::AlignVCenter,
                          painter->fontMetrics().elidedText(index.data(VocabularyListModel::SurfaceRole).toString(),
                                                            Qt::ElideRight, static_cast<int>(row.surface.width())));
        painter->drawImage(row.trash.adjusted(3.5, 3.5, -3.5, -3.5),
                           SymbolIcon::image(QStringLiteral("trash"), 11, secondaryColor(view),
                                             painter->device()->devicePixelRatioF()));
        painter->restore();
    }

    bool editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override {
        const RowGeometry row(option.rect);
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick: {
                const auto* mouse = static_cast<QMouseEvent*>(event);
                return row.toggle.contains(mouse->position()) || row.trash.contains(mouse->position());
            }
            case QEvent::MouseButtonRelease: {
                const auto* mouse = static_cast<QMouseEvent*>(event);
                if (mouse->button() != Qt::LeftButton) return false;
                if (row.toggle.contains(mouse->position())) {
                    editor_->setEntryEnabled(index.row(), index.data(Qt::CheckStateRole).toInt() != Qt::Checked);
                    return true;
                }
                if (row.trash.contains(mouse->position())) {
                    editor_->removeEntry(index.row());
                    return true;
                }
                return false;
            }
            case QEvent::KeyPress: {
                const int key = static_cast<QKeyEvent*>(event)->key();
                if (key == Qt::Key_Space || key == Qt::Key_Select) {
                    editor_->setEntryEnabled(index.row(), index.data(Qt::CheckStateRole).toInt() != Qt::Checked);
                    return true;
                }
                return false;
            }
            default: return false;
        }
    }

private:
    VocabularyEditor* editor_;
};

// Spaces and tabs only, as the add button's rule says; the controller trims the rest.
bool blankReading(const QString& text) {
    for (const QChar c : text)
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t')) return false;
    return true;
}

}  // namespace

VocabularyEditor::VocabularyEditor(AppViewModelQtAdapter& adapter, RulesPageLocalState& local, QWidget* parent)
    : QWidget(parent), adapter_(adapter), local_(local) {
    setObjectName(QStringLiteral("vocabularyEditor"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);

    auto* header = new QHBoxLayout;
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(makeLabel(qs("カスタム辞書"), 14, QFont::DemiBold, false, true, this));
    texts->addWidget(makeLabel(qs("よく使う製品名や専門用語の「読み」と「表記」を登録すると優先的に変換されます。"), 11.5,
                               QFont::Normal, true, true, this));
    header->addLayout(texts, 1);
    auto* reset = new QPushButton(qs("初期値に戻す"), this);
    reset->setObjectName(QStringLiteral("resetVocabulary"));
    reset->setAutoDefault(false);
    reset->setFont(UITheme::roundedFont(12));
    connect(reset, &QPushButton::clicked, &adapter_, &AppViewModelQtAdapter::resetVocabularyToDefaults);
    header->addWidget(reset, 0, Qt::AlignVCenter);
    column->addLayout(header);

    auto* form = new QHBoxLayout;
    form->setSpacing(10);
    reading_ = new QLineEdit(local_.newVocabReading, this);
    reading_->setObjectName(QStringLiteral("newVocabReading"));
    reading_->setPlaceholderText(qs("読み（例: えんべでぃんぐじぇま）"));
    surface_ = new QLineEdit(local_.newVocabSurface, this);
    surface_->setObjectName(QStringLiteral("newVocabSurface"));
    surface_->setPlaceholderText(qs("変換後の表記（例: EmbeddingGemma 2）"));
    connect(reading_, &QLineEdit::textChanged, this, [this](const QString& text) {
        local_.newVocabReading = text;
        syncAddButton();
    });
    connect(surface_, &QLineEdit::textChanged, this, [this](const QString& text) { local_.newVocabSurface = text; });
    addButton_ = new QPushButton(qs("追加"), this);
    addButton_->setObjectName(QStringLiteral("addVocabulary"));
    addButton_->setAutoDefault(false);
    addButton_->setDefault(false);
    connect(addButton_, &QPushButton::clicked, this, &VocabularyEditor::add);
    form->addWidget(reading_, 1);
    form->addWidget(new SymbolLabel(QStringLiteral("arrow.right"), 12, secondaryColor(this), this));
    form->addWidget(surface_, 1);
    form->addWidget(addButton_);
    column->addLayout(form);
    column->addWidget(makeDivider(this));

    model_ = new VocabularyListModel(this);
    list_ = new QListView(this);
    list_->setObjectName(QStringLiteral("vocabularyList"));
    list_->setModel(model_);
    list_->setItemDelegate(new VocabularyRowDelegate(this));
    list_->setUniformItemSizes(true);
    list_->setSpacing(0);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->viewport()->setAutoFillBackground(false);
    list_->setAutoFillBackground(false);
    // The page scrolls, not the list: it is as tall as its rows.
    list_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    column->addWidget(list_);

    connect(&adapter_, &AppViewModelQtAdapter::customVocabularyChanged, this, &VocabularyEditor::syncEntries);
    syncEntries();
    syncAddButton();
}

void VocabularyEditor::syncEntries() {
    model_->setEntries(adapter_.customVocabulary().value<std::vector<CustomVocabularyEntry>>());
    const int rows = model_->rowCount();
    // Rows are 32 pt tall with 6 pt between them.
    list_->setFixedHeight(rows == 0 ? 0 : rows * (rowHeight + rowSpacing) - rowSpacing);
}

void VocabularyEditor::syncAddButton() { addButton_->setEnabled(!blankReading(local_.newVocabReading)); }

void VocabularyEditor::setEntryEnabled(int row, bool enabled) {
    auto entries = model_->entries();
    if (row < 0 || row >= static_cast<int>(entries.size())) return;
    entries[static_cast<std::size_t>(row)].enabled = enabled;
    adapter_.setCustomVocabulary(QVariant::fromValue(entries));
}

void VocabularyEditor::removeEntry(int row) {
    const auto& entries = model_->entries();
    if (row < 0 || row >= static_cast<int>(entries.size())) return;
    adapter_.removeVocabularyEntry(QString::fromStdString(entries[static_cast<std::size_t>(row)].id));
}

void VocabularyEditor::add() {
    if (blankReading(local_.newVocabReading)) return;
    const std::size_t before = model_->entries().size();
    const QString firstBefore = before ? QString::fromStdString(model_->entries().front().id) : QString();
    // As typed: the controller trims.
    adapter_.addVocabularyEntry(local_.newVocabReading, local_.newVocabSurface, QString());
    const auto& after = model_->entries();
    const bool added = after.size() > before && QString::fromStdString(after.front().id) != firstBefore;
    // Clear the form only when an entry was made, so a refused one is still there to fix.
    if (!added) return;
    reading_->clear();
    surface_->clear();
}

}  // namespace pelora::pages
