#include "app/ui/ElidedLabel.h"

#include "app/ui/Look.h"

#include <QtMath>

namespace Plovander {

ElidedLabel::ElidedLabel(bool secondary, Qt::TextElideMode mode, QWidget* parent)
    : QLabel(parent), secondary_(secondary), mode_(mode) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setFullText(const QString& text) {
    full_ = text;
    setToolTip(Look::plainTooltip(full_));
    setAccessibleName(full_);
    updateGeometry();
    elide();
}

// Room for the ellipsis alone, so that neighbours may take the rest.
QSize ElidedLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(QStringLiteral("\u2026")), QLabel::minimumSizeHint().height()};
}

QSize ElidedLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    // Rounded up: the elision measures the text to the fraction of a pixel.
    const int text = qCeil(QFontMetricsF(font()).horizontalAdvance(full_));
    return {text + margins.left() + margins.right(), QLabel::sizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::paintEvent(QPaintEvent* event) {
    if (secondary_) return Look::paintSecondaryText(*this);
    QLabel::paintEvent(event);
}

void ElidedLabel::setSelectable(bool selectable) {
    selectable_ = selectable;
    elide();
}

void ElidedLabel::elide() {
    setText(fontMetrics().elidedText(full_, mode_, contentsRect().width()));
    setTextInteractionFlags(selectable_ && text() == full_ ? Qt::TextSelectableByMouse : Qt::NoTextInteraction);
}

} // namespace Plovander
