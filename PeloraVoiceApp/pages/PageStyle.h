#pragma once

#include <QColor>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QString>

class QBoxLayout;
class QHBoxLayout;
class QVBoxLayout;
class QWidget;

// What the settings pages share: the card they sit in, the secondary and tertiary text
// colours, the small symbol labels and the status badges. 1 pt is one device-independent
// pixel; fonts are sized in pixels.
namespace pelora::pages {

// The desktop's label colour; secondary and tertiary text are it at 50 % and 26 %.
QColor primaryColor(const QWidget* widget);
QColor secondaryColor(const QWidget* widget);
QColor tertiaryColor(const QWidget* widget);

// A text label in the default sans at `pixelSize`; `secondary` draws it in the secondary
// colour. Word-wrapped unless `wrap` is false.
QLabel* makeLabel(const QString& text, double pixelSize, QFont::Weight weight = QFont::Normal, bool secondary = false,
                  bool wrap = true, QWidget* parent = nullptr);
void setTextColor(QWidget* widget, const QColor& color);

// A symbol of our set as an icon for buttons.
QIcon symbolIcon(const QString& name, double pixelSize, const QColor& color);

// A horizontal line between groups of a card.
QFrame* makeDivider(QWidget* parent = nullptr);

// A symbol of our set at `pixelSize`, in a colour; recoloured with setColor.
class SymbolLabel final : public QLabel {
    Q_OBJECT
public:
    SymbolLabel(QString name, double pixelSize, QColor color, QWidget* parent = nullptr);
    void setSymbol(const QString& name);
    void setColor(const QColor& color);
    const QString& symbol() const { return name_; }

private:
    void redraw();
    QString name_;
    double pixelSize_;
    QColor color_;
};

// The card every settings page uses: 18 pt padding, a rounded rectangle (radius 12) of the
// control background at 50 % with a 1 pt border of the label colour at 8 %. Its content is
// a vertical stack of the given spacing.
class SettingsCard final : public QFrame {
    Q_OBJECT
public:
    explicit SettingsCard(int spacing, QWidget* parent = nullptr);
    QVBoxLayout* content() const { return content_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* content_;
};

// A small status badge: an optional dot (6 × 6) or symbol, then a text (11 pt medium), on a
// rounded rectangle (radius 6) of the label colour at 5 %.
class StatusBadge final : public QFrame {
    Q_OBJECT
public:
    explicit StatusBadge(QWidget* parent = nullptr);
    void setDot(const QColor& color);
    void setSymbol(const QString& name, const QColor& color);
    void setText(const QString& text);
    QString text() const;
    QColor dotColor() const { return dotColor_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* dot_;
    SymbolLabel* symbol_;
    QLabel* label_;
    QColor dotColor_;
};

// The page header: a title (20 pt bold) over a subtitle (12.5 pt, secondary).
QWidget* makePageHeader(const QString& title, const QString& subtitle, QWidget* parent = nullptr);

}  // namespace pelora::pages
