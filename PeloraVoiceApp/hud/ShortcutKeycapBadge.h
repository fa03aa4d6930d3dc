#pragma once
#include <QString>
#include <QStringList>
#include <QWidget>

// A key label on a small keycap: "⌥ ⇧ V".
class ShortcutKeycapBadge : public QWidget {
    Q_OBJECT
public:
    ShortcutKeycapBadge(QString text, bool isHighlighted, QWidget* parent = nullptr);
    // The tokens joined with single spaces.
    ShortcutKeycapBadge(const QStringList& tokens, bool isHighlighted, QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    bool isHighlighted() const { return isHighlighted_; }
    void setText(QString text);
    void setHighlighted(bool highlighted);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    bool isHighlighted_;
};
