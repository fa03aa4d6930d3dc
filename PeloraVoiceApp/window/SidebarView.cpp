#include "PeloraVoiceApp/window/SidebarView.h"

#include "PeloraVoiceApp/controller/AppViewModel.h"
#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"
#include "PeloraVoiceApp/hud/UITheme.h"
#include "PeloraVoiceApp/window/ElidedLabel.h"
#include "PeloraVoiceApp/window/ShellTexts.h"
#include "PeloraVoiceApp/window/WindowStyle.h"
#include "PeloraVoiceApp/window/WindowSymbol.h"
#include "PeloraVoiceApp/window/WorkspaceOperations.h"

#include <QDateTime>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

namespace pelora {

using shell_texts::qs;

namespace {

constexpr int idRole = Qt::UserRole + 1;
constexpr int textRole = Qt::UserRole + 2;

QPixmap dot(const QColor& color, qreal ratio) {
    QPixmap pixmap(QSize(7, 7) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(0, 0, 7, 7));
    return pixmap;
}

QLabel* iconLabel(const QString& symbol, double size, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(window_symbol::pixmap(symbol, size, color, parent->devicePixelRatioF()));
    return label;
}

// The time of an entry, hours and minutes as the user's locale writes them.
QString entryTime(std::chrono::system_clock::time_point createdAt) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(createdAt.time_since_epoch()).count();
    return QLocale::system().toString(QDateTime::fromMSecsSinceEpoch(ms).time(), QLocale::ShortFormat);
}

}  // namespace

SidebarView::SidebarView(AppViewModelQtAdapter& vm, QWidget* parent) : QWidget(parent), vm_(vm) {
    setObjectName(QStringLiteral("sidebar"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    sections_ = new QListWidget(this);
    sections_->setObjectName(QStringLiteral("sectionList"));
    sections_->setFrameShape(QFrame::NoFrame);
    sections_->setIconSize(QSize(14, 14));
    sections_->setAccessibleName(QStringLiteral("セクション"));
    sections_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (SidebarSection section : sidebar_section::allCases) {
        auto* item = new QListWidgetItem(qs(sidebar_section::title(section)), sections_);
        item->setData(idRole, qs(sidebar_section::rawValue(section)));
        item->setSizeHint(QSize(0, 30));
    }
    sections_->setFixedHeight(3 * 30 + 6);
    connect(sections_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (item) vm_.setSelectedSection(item->data(idRole).toString());
    });

    historyHeader_ = new QLabel(QStringLiteral("最近の履歴"), this);
    historyHeader_->setFont(window_style::font(11, QFont::DemiBold));
    window_style::setTextColor(historyHeader_, window_style::secondary());
    historyHeader_->setContentsMargins(14, 10, 14, 4);
    history_ = new QListWidget(this);
    history_->setObjectName(QStringLiteral("historyList"));
    history_->setFrameShape(QFrame::NoFrame);
    history_->setAccessibleName(QStringLiteral("最近の履歴"));
    history_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    history_->setSelectionMode(QAbstractItemView::SingleSelection);
    // A click or Enter on a row loads that entry and shows the studio.
    auto open = [this](QListWidgetItem* item) {
        if (!item) return;
        workspace_operations::selectHistoryEntry(vm_, item->data(idRole).toString());
        vm_.setSelectedSection(QStringLiteral("studio"));
    };
    connect(history_, &QListWidget::itemClicked, this, open);
    connect(history_, &QListWidget::itemActivated, this, open);

    layout->addWidget(sections_);
    layout->addWidget(historyHeader_);
    layout->addWidget(history_, 1);
    auto* filler = new QWidget(this);  // keeps the footer at the bottom while there is no history
    filler->setObjectName(QStringLiteral("sidebarFiller"));
    layout->addWidget(filler, 1);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    window_style::setTextColor(divider, window_style::quaternary());
    layout->addWidget(divider);

    auto* footer = new QWidget(this);
    footer->setObjectName(QStringLiteral("sidebarFooter"));
    footer->setAutoFillBackground(true);
    QPalette footerPalette = footer->palette();
    footerPalette.setColor(QPalette::Window, window_style::withOpacity(window_style::controlBackground(), 0.40));
    footer->setPalette(footerPalette);
    auto* footerLayout = new QVBoxLayout(footer);
    footerLayout->setContentsMargins(14, 10, 14, 10);
    footerLayout->setSpacing(6);
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(6);
    dot_ = new QLabel(footer);
    status_ = new ElidedLabel(footer);
    status_->setFont(window_style::font(11, QFont::Medium));
    window_style::setTextColor(status_, window_style::secondary());
    statusRow->addWidget(dot_);
    statusRow->addWidget(status_, 1);
    footerLayout->addLayout(statusRow);
    auto* keysRow = new QHBoxLayout;
    keysRow->setSpacing(4);
    keysRow->addWidget(iconLabel(QStringLiteral("mic.fill"), 10.5, window_style::secondary(), footer));
    pttHint_ = new QLabel(footer);
    auto* middot = new QLabel(QStringLiteral("·"), footer);
    window_style::setTextColor(middot, window_style::quaternary());
    reinsertHint_ = new QLabel(footer);
    for (QLabel* label : {pttHint_, reinsertHint_}) {
        label->setFont(window_style::font(10.5, QFont::Medium));
        window_style::setTextColor(label, window_style::secondary());
    }
    keysRow->addWidget(pttHint_);
    keysRow->addSpacing(4);
    keysRow->addWidget(middot);
    keysRow->addSpacing(4);
    keysRow->addWidget(iconLabel(QStringLiteral("arrow.uturn.forward"), 10.5, window_style::secondary(), footer));
    keysRow->addWidget(reinsertHint_);
    keysRow->addStretch(1);
    footerLayout->addLayout(keysRow);
    layout->addWidget(footer);

    connect(&vm_, &AppViewModelQtAdapter::selectedSectionChanged, this, &SidebarView::syncSections);
    connect(&vm_, &AppViewModelQtAdapter::historyChanged, this, &SidebarView::syncHistory);
    connect(&vm_, &AppViewModelQtAdapter::reinsertShortcutPresetChanged, this, &SidebarView::syncHistory);
    for (auto signal : {&AppViewModelQtAdapter::isEngineLoadedChanged, &AppViewModelQtAdapter::isLoadingEngineChanged,
                        &AppViewModelQtAdapter::engineStatusTextChanged, &AppViewModelQtAdapter::pushToTalkKeyChanged,
                        &AppViewModelQtAdapter::reinsertShortcutPresetChanged})
        connect(&vm_, signal, this, &SidebarView::syncFooter);
    syncSections();
    syncHistory();
    syncFooter();
}

QToolButton* SidebarView::reinsertButton(int row) const {
    QWidget* widget = history_->itemWidget(history_->item(row));
    return widget ? widget->findChild<QToolButton*>() : nullptr;
}

void SidebarView::syncSections() {
    const QString selected = vm_.selectedSection();
    for (int row = 0; row < sections_->count(); ++row) {
        QListWidgetItem* item = sections_->item(row);
        const SidebarSection section = sidebar_section::allCases[static_cast<std::size_t>(row)];
        const bool isSelected = item->data(idRole).toString() == selected;
        item->setIcon(window_symbol::icon(qs(sidebar_section::icon(section)),
                                          isSelected ? UITheme::Ocean::cyan : window_style::secondary(), 14));
        item->setFont(window_style::font(13, isSelected ? QFont::DemiBold : QFont::Medium));
        if (isSelected && sections_->currentItem() != item) {
            const QSignalBlocker quiet(sections_);
            sections_->setCurrentItem(item);
        }
    }
}

void SidebarView::syncHistory() {
    const AppViewModel& model = vm_.model();
    const QString preset = qs(reinsert_shortcut_preset::badgeLabel(model.reinsertShortcutPreset()));
    const QString help = QStringLiteral("このテキストを再挿入 (") + preset + QStringLiteral(")");
    history_->clear();
    for (const HistoryEntry& entry : model.history()) {
        auto* item = new QListWidgetItem(history_);
        const QString text = qs(entry.result.text);
        item->setData(idRole, qs(entry.id));
        item->setData(textRole, text);

        auto* row = new QWidget(history_);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(10, 2, 8, 2);
        rowLayout->setSpacing(8);
        auto* column = new QVBoxLayout;
        column->setSpacing(2);
        auto* title = new ElidedLabel(row);
        title->setObjectName(QStringLiteral("historyText"));
        title->setFont(window_style::font(12));
        title->setFullText(text.isEmpty() ? QStringLiteral("(音声なし)") : text);
        auto* time = new QLabel(entryTime(entry.createdAt), row);
        time->setObjectName(QStringLiteral("historyTime"));
        time->setFont(window_style::font(10));
        window_style::setTextColor(time, window_style::tertiary());
        column->addWidget(title);
        column->addWidget(time);
        rowLayout->addLayout(column, 1);
        rowLayout->addSpacing(4);
        auto* reinsert = new QToolButton(row);
        reinsert->setIcon(window_symbol::icon(QStringLiteral("arrow.uturn.forward"), window_style::secondary(), 11));
        reinsert->setFixedSize(22, 22);
        reinsert->setAutoRaise(true);
        reinsert->setToolTip(help);
        reinsert->setAccessibleName(help);
        connect(reinsert, &QToolButton::clicked, this,
                [this, text] { workspace_operations::reinsertSpecificText(vm_, text, true); });
        rowLayout->addWidget(reinsert);
        item->setSizeHint(QSize(0, std::max(row->sizeHint().height(), 40)));
        history_->setItemWidget(item, row);
    }
    const bool any = !model.history().empty();
    historyHeader_->setVisible(any);
    history_->setVisible(any);
    findChild<QWidget*>(QStringLiteral("sidebarFiller"))->setVisible(!any);
}

void SidebarView::syncFooter() {
    const AppViewModel& model = vm_.model();
    const QColor color = model.isEngineLoaded()    ? UITheme::Ocean::success
                         : model.isLoadingEngine() ? window_style::orange()
                                                   : window_style::secondary();
    dot_->setPixmap(dot(color, devicePixelRatioF()));
    status_->setFullText(qs(model.engineStatusText()));
    pttHint_->setText(qs(ptt_shortcut_key::shortBadge(model.pushToTalkKey())));
    reinsertHint_->setText(qs(reinsert_shortcut_preset::badgeLabel(model.reinsertShortcutPreset())));
}

}  // namespace pelora
