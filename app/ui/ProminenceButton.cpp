#include "app/ui/ProminenceButton.h"

#include "app/ui/Look.h"

#include <QPainter>

namespace Plovander {
namespace {

int symbolSide(const QFontMetrics& metrics) { return metrics.ascent(); }

} // namespace

ProminenceButton::ProminenceButton(const QString& text, bool prominent, QWidget* parent)
    : QPushButton(text, parent), prominent_(prominent) {
    setAttribute(Qt::WA_Hover);
}

void ProminenceButton::setSymbol(const QString& name) {
    symbol_ = name;
    updateGeometry();
    update();
}

void ProminenceButton::setDestructive(bool destructive) {
    destructive_ = destructive;
    update();
}

QSize ProminenceButton::sizeHint() const {
    const QFontMetrics metrics(font());
    const int symbol = symbol_.isEmpty() ? 0 : symbolSide(metrics) + metrics.averageCharWidth();
    const QSize padding = prominent_ ? QSize(12, 7) : QSize(4, 3);
    return {metrics.horizontalAdvance(text()) + symbol + 2 * padding.width(), metrics.height() + 2 * padding.height()};
}

QColor ProminenceButton::fill() const {
    if (destructive_) return QColor(217, 48, 37);
    return Look::highlightGround(palette());
}

void ProminenceButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor label = palette().color(QPalette::ButtonText);
    QColor symbol = Look::tealAccent(*this);
    if (prominent_) {
        QColor ground = fill();
        if (isDown()) ground = ground.darker(115);
        if (!isEnabled()) ground.setAlphaF(0.4f);
        Look::fillRounded(painter, shape, 5, ground, static_cast<float>(ground.alphaF()));
        label = symbol = palette().color(QPalette::HighlightedText);
    } else if (!isEnabled()) {
        label = symbol = Look::color(Tint::secondary, *this);
    } else if (isDown()) {
        label.setAlphaF(0.6f);
    }

    const QFontMetrics metrics(font());
    const int side = symbol_.isEmpty() ? 0 : symbolSide(metrics);
    const int gap = symbol_.isEmpty() ? 0 : metrics.averageCharWidth();
    const int content = side + gap + metrics.horizontalAdvance(text());
    const qreal left = std::max(0.0, (width() - content) / 2.0);
    if (side > 0) {
        painter.drawPixmap(QPointF(left, (height() - side) / 2.0),
                           Look::symbolPixmap(symbol_, symbol, side, devicePixelRatioF()));
    }
    painter.setPen(label);
    painter.drawText(QRectF(left + side + gap, 0, width() - left - side - gap, height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, text());

    if (Look::showsFocus(*this)) {
        // On the accent's own ground the ring takes the label's colour.
        Look::drawFocusRing(painter, QRectF(rect()), 5,
                            prominent_ ? palette().color(QPalette::HighlightedText) : Look::focusColor(palette()));
    }
}

} // namespace Plovander
