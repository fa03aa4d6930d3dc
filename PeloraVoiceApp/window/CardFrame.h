#pragma once

#include <QColor>
#include <QWidget>

namespace pelora {

// A rounded rectangle behind its children: a fill and an outline drawn inside its edge.
class CardFrame : public QWidget {
    Q_OBJECT
public:
    CardFrame(double radius, QColor fill, QWidget* parent = nullptr);

    void setOutline(QColor color, double width);
    void setFill(QColor color);
    QColor outlineColor() const { return outline_; }
    double outlineWidth() const { return outlineWidth_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double radius_;
    QColor fill_;
    QColor outline_ = Qt::transparent;
    double outlineWidth_ = 0;
};

}  // namespace pelora
