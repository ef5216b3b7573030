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
    const int width = metrics.horizontalAdvance(text()) + symbol + 2 * (prominent_ ? 12 : 4);
    // A filled one is as tall as the platform's buttons, so that it matches one beside it.
    return {width, prominent_ ? QPushButton::sizeHint().height() : metrics.height() + 6};
}

QColor ProminenceButton::fill() const {
    if (destructive_) return QColor(217, 48, 37);
    return Look::highlightGround(palette());
}

void ProminenceButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool ringed = Look::showsFocus(*this);
    // A focused filled shape stands inside its ring, apart from it.
    const qreal inset = ringed && prominent_ ? 3.5 : 0.5;
    const QRectF shape = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
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

    if (ringed) Look::drawFocusRing(painter, QRectF(rect()), 5, Look::focusColor(palette()));
}

} // namespace Plovander
