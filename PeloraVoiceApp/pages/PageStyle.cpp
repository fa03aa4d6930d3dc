#include "PeloraVoiceApp/pages/PageStyle.h"

#include "PeloraVoiceApp/hud/SymbolIcon.h"
#include "PeloraVoiceApp/hud/UITheme.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <cmath>

// Resources of a static library must be registered by hand.
static void registerPageSymbols() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(pages_symbols);
        return true;
    }();
    (void)registered;
}

namespace pelora::pages {

QColor primaryColor(const QWidget* widget) {
    return widget ? widget->palette().color(QPalette::WindowText) : QColor(Qt::black);
}
QColor secondaryColor(const QWidget* widget) { return UITheme::withOpacity(primaryColor(widget), 0.5); }
QColor tertiaryColor(const QWidget* widget) { return UITheme::withOpacity(primaryColor(widget), 0.26); }

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

QLabel* makeLabel(const QString& text, double pixelSize, QFont::Weight weight, bool secondary, bool wrap,
                  QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(UITheme::roundedFont(pixelSize, weight));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
    if (secondary) setTextColor(label, secondaryColor(label));
    return label;
}

QIcon symbolIcon(const QString& name, double pixelSize, const QColor& color) {
    registerPageSymbols();
    return QIcon(QPixmap::fromImage(SymbolIcon::image(name, pixelSize, color)));
}

QFrame* makeDivider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, UITheme::withOpacity(palette.color(QPalette::WindowText), 0.12));
    line->setPalette(palette);
    return line;
}

SymbolLabel::SymbolLabel(QString name, double pixelSize, QColor color, QWidget* parent)
    : QLabel(parent), name_(std::move(name)), pixelSize_(pixelSize), color_(std::move(color)) {
    registerPageSymbols();
    const int side = static_cast<int>(std::ceil(pixelSize_));
    setFixedSize(side, side);
    redraw();
}

void SymbolLabel::setSymbol(const QString& name) {
    if (name == name_) return;
    name_ = name;
    redraw();
}

void SymbolLabel::setColor(const QColor& color) {
    if (color == color_) return;
    color_ = color;
    redraw();
}

void SymbolLabel::redraw() {
    const double ratio = devicePixelRatioF();
    QImage image = SymbolIcon::image(name_, pixelSize_, color_, ratio);
    image.setDevicePixelRatio(ratio);
    setPixmap(QPixmap::fromImage(image));
}

SettingsCard::SettingsCard(int spacing, QWidget* parent) : QFrame(parent), content_(new QVBoxLayout(this)) {
    content_->setContentsMargins(18, 18, 18, 18);
    content_->setSpacing(spacing);
    content_->setAlignment(Qt::AlignTop);
}

void SettingsCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(box, 12, 12);
    painter.fillPath(shape, UITheme::withOpacity(UITheme::cardBg(), 0.5));
    painter.setPen(QPen(UITheme::withOpacity(primaryColor(this), 0.08), 1));
    painter.drawPath(shape);
}

StatusBadge::StatusBadge(QWidget* parent) : QFrame(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 4, 8, 4);
    row->setSpacing(6);
    dot_ = new QWidget(this);
    dot_->setFixedSize(6, 6);
    dot_->hide();
    symbol_ = new SymbolLabel(QStringLiteral("waveform.badge.magnifyingglass"), 10, UITheme::Ocean::cyan, this);
    symbol_->hide();
    label_ = makeLabel(QString(), 11, QFont::Medium, true, false, this);
    row->addWidget(dot_, 0, Qt::AlignVCenter);
    row->addWidget(symbol_, 0, Qt::AlignVCenter);
    row->addWidget(label_, 0, Qt::AlignVCenter);
}

void StatusBadge::setDot(const QColor& color) {
    dotColor_ = color;
    dot_->show();
    symbol_->hide();
    update();
}

void StatusBadge::setSymbol(const QString& name, const QColor& color) {
    symbol_->setSymbol(name);
    symbol_->setColor(color);
    symbol_->show();
    dot_->hide();
}

void StatusBadge::setText(const QString& text) { label_->setText(text); }
QString StatusBadge::text() const { return label_->text(); }

void StatusBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(UITheme::withOpacity(primaryColor(this), 0.05));
    painter.drawRoundedRect(QRectF(rect()), 6, 6);
    if (dot_->isVisible()) {
        painter.setBrush(dotColor_);
        painter.drawEllipse(QRectF(dot_->geometry()));
    }
}

QWidget* makePageHeader(const QString& title, const QString& subtitle, QWidget* parent) {
    auto* header = new QWidget(parent);
    auto* column = new QVBoxLayout(header);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    column->addWidget(makeLabel(title, 20, QFont::Bold, false, true, header));
    column->addWidget(makeLabel(subtitle, 12.5, QFont::Normal, true, true, header));
    return header;
}

}  // namespace pelora::pages
