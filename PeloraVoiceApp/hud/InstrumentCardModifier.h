#pragma once
#include <QWidget>

// The settings pages' card: the content padded by 16 on a rounded rectangle (radius 12)
// with a thin outline, in the accent colour when highlighted.
class InstrumentCardModifier : public QWidget {
    Q_OBJECT
public:
    static constexpr int padding = 16;
    static constexpr double cornerRadius = 12;

    explicit InstrumentCardModifier(QWidget* content, bool isHighlighted = false, QWidget* parent = nullptr);

    QWidget* content() const { return content_; }
    bool isHighlighted() const { return isHighlighted_; }
    void setHighlighted(bool highlighted);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* content_;
    bool isHighlighted_;
};

// Puts `content` on a card (the card takes ownership of it).
InstrumentCardModifier* instrumentCard(QWidget* content, bool highlighted, QWidget* parent = nullptr);
