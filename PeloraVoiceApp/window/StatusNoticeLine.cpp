#include "PeloraVoiceApp/window/StatusNoticeLine.h"

#include "PeloraVoiceApp/controller/AppViewModelQtAdapter.h"
#include "PeloraVoiceApp/window/WindowStyle.h"
#include "PeloraVoiceApp/window/WindowSymbol.h"
#include "PeloraVoiceApp/window/WorkspaceOperations.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace pelora {

StatusNoticeLine::StatusNoticeLine(AppViewModelQtAdapter& vm, QWidget* parent)
    : QWidget(parent), vm_(vm), icon_(new QLabel(this)), text_(new QLabel(this)), close_(new QPushButton(this)) {
    setObjectName(QStringLiteral("statusNoticeLine"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(20, 8, 14, 8);
    layout->setSpacing(8);
    icon_->setPixmap(window_symbol::pixmap(QStringLiteral("info.circle.fill"), 13, window_style::secondary(),
                                           devicePixelRatioF()));
    icon_->setAccessibleName(QStringLiteral("お知らせ"));
    text_->setFont(window_style::font(12, QFont::Medium));
    window_style::setTextColor(text_, window_style::secondary());
    text_->setWordWrap(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    close_->setText(QStringLiteral("閉じる"));
    close_->setFlat(true);
    close_->setFont(window_style::font(11));
    layout->addWidget(icon_, 0, Qt::AlignTop);
    layout->addWidget(text_, 1);
    layout->addWidget(close_, 0, Qt::AlignTop);
    connect(close_, &QPushButton::clicked, this, [this] { workspace_operations::dismissStatusNotice(vm_); });
    connect(&vm_, &AppViewModelQtAdapter::statusNoticeMessageChanged, this, &StatusNoticeLine::sync);
    sync();
}

void StatusNoticeLine::sync() {
    const QVariant notice = vm_.statusNoticeMessage();
    text_->setText(notice.isValid() ? notice.toString() : QString());
    setVisible(notice.isValid());
}

}  // namespace pelora
