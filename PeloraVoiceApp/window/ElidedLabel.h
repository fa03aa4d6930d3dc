#pragma once

#include <QLabel>

namespace pelora {

// One line of text that ends in "…" when it does not fit; the whole text is its tooltip
// and its accessible name.
class ElidedLabel final : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }
    QSize minimumSizeHint() const override;

    // What of `text` can show on one line `width` pixels wide, for eliding: every glyph but a
    // zero-width mark is at least a pixel wide, so a long text keeps its first width + 2
    // characters and "……" (the cut stays visible). Eliding that costs what one line does,
    // however long the text (an hour's result in a history row).
    static QString lineForEliding(QString text, double width);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString full_;
};

}  // namespace pelora
