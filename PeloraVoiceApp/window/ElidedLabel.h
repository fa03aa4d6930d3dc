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

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString full_;
};

}  // namespace pelora
