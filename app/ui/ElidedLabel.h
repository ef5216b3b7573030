#pragma once

#include <QLabel>

namespace Plovander {

// One line of plain text that is cut with "…" (at its end, or where `mode` says) when its width is
// too small for it, elided again at every resize; the whole text stays in the tooltip and the
// accessible name. A secondary one draws at half strength, like a secondary text label.
class ElidedLabel final : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(bool secondary = false, Qt::TextElideMode mode = Qt::ElideRight, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    // Lets the mouse select the text while it shows whole: a cut text is not for copying.
    void setSelectable(bool selectable);
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
    Qt::TextElideMode mode_;
    bool selectable_ = false;
};

} // namespace Plovander
