#pragma once

#include <QLabel>

namespace Plovander {

// One line of plain text that ends in "…" when its width is too small for it, elided again at every
// resize; the whole text stays in the tooltip and the accessible name. A secondary one draws at half
// strength, like a secondary text label.
class ElidedLabel final : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(bool secondary = false, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const noexcept { return full_; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void elide();

    QString full_;
    bool secondary_;
};

} // namespace Plovander
