#include "PeloraVoiceApp/pages/PermissionStepRow.h"

#include "PeloraVoiceApp/hud/UITheme.h"
#include "PeloraVoiceApp/pages/PageStyle.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace pelora::pages {

namespace {
const QColor orange = QColor::fromRgbF(1.0f, 0.58f, 0.0f);
}

PermissionStepRow::PermissionStepRow(const QString& title, const QString& detail, bool isGranted,
                                     const QString& buttonTitle, std::function<void()> action, QWidget* parent)
    : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    icon_ = new SymbolLabel(QStringLiteral("checkmark.circle.fill"), 16, UITheme::Ocean::success, this);
    icon_->setObjectName(QStringLiteral("permissionIcon"));
    row->addWidget(icon_, 0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* titleLabel = makeLabel(title, 13, QFont::DemiBold, false, true, this);
    titleLabel->setObjectName(QStringLiteral("permissionTitle"));
    auto* detailLabel = makeLabel(detail, 11.5, QFont::Normal, true, true, this);
    detailLabel->setObjectName(QStringLiteral("permissionDetail"));
    texts->addWidget(titleLabel);
    texts->addWidget(detailLabel);
    row->addLayout(texts, 1);

    badge_ = makeLabel(QString::fromUtf8(grantedText), 11.5, QFont::DemiBold, false, false, this);
    badge_->setObjectName(QStringLiteral("permissionGranted"));
    badge_->setContentsMargins(10, 4, 10, 4);
    badge_->setAutoFillBackground(true);
    QPalette badgePalette = badge_->palette();
    badgePalette.setColor(QPalette::WindowText, UITheme::Ocean::success);
    badgePalette.setColor(QPalette::Window, UITheme::withOpacity(UITheme::Ocean::success, 0.14));
    badge_->setPalette(badgePalette);
    button_ = new QPushButton(buttonTitle, this);
    button_->setObjectName(QStringLiteral("permissionRequest"));
    button_->setAutoDefault(false);
    button_->setFont(UITheme::roundedFont(12, QFont::DemiBold));
    connect(button_, &QPushButton::clicked, this, [action = std::move(action)] {
        if (action) action();
    });
    row->addWidget(badge_, 0, Qt::AlignVCenter);
    row->addWidget(button_, 0, Qt::AlignVCenter);
    granted_ = !isGranted;  // so that the first call lays everything out
    setGranted(isGranted);
}

void PermissionStepRow::setGranted(bool isGranted) {
    if (isGranted == granted_) return;
    granted_ = isGranted;
    icon_->setSymbol(isGranted ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("exclamationmark.triangle.fill"));
    icon_->setColor(isGranted ? UITheme::Ocean::success : orange);
    badge_->setVisible(isGranted);
    button_->setVisible(!isGranted);
}

}  // namespace pelora::pages
