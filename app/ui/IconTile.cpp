#include "app/ui/IconTile.h"

#include "app/ui/Look.h"

#include <QPainter>

namespace Plovander {

IconTile::IconTile(QString symbol, Tint tint, QWidget* parent)
    : QWidget(parent), symbol_(std::move(symbol)), tint_(tint) {
    setFixedSize(38, 38);
}

void IconTile::setSymbol(QString symbol, Tint tint) {
    symbol_ = std::move(symbol);
    tint_ = tint;
    update();
}

void IconTile::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor colour = Look::color(tint_, *this);
    Look::fillRounded(painter, QRectF(rect()), 10, colour, 0.14f);
    painter.drawPixmap(10, 10, Look::symbolPixmap(symbol_, colour, 18, devicePixelRatioF()));
}

} // namespace Plovander
