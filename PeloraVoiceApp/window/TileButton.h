#pragma once

#include <QAbstractButton>
#include <QColor>

namespace pelora {

// A button whose whole area (a layout of labels) is clickable, optionally drawn as a rounded
// tile with a fill and an outline; it shows the keyboard focus with a ring. Its children
// let mouse events through to it.
class TileButton final : public QAbstractButton {
    Q_OBJECT
public:
    explicit TileButton(QWidget* parent = nullptr);

    void setTile(double radius, QColor fill, QColor outline, double outlineWidth);
    QColor outlineColor() const { return outline_; }
    double outlineWidth() const { return outlineWidth_; }
    // Call after the children are in place.
    void letMouseThrough();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double radius_ = 0;
    QColor fill_ = Qt::transparent;
    QColor outline_ = Qt::transparent;
    double outlineWidth_ = 0;
};

}  // namespace pelora
