#include "app/ui/IconTile.h"

#include "app/ui/Look.h"

#include <QPainter>
#include <QPainterPath>

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
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour = Look::color(tint_, *this);
    QColor fill = colour;
    fill.setAlphaF(0.14f);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 10, 10);
    painter.fillPath(shape, fill);
    painter.drawPixmap(10, 10, Look::symbolPixmap(symbol_, colour, 18));
}

} // namespace Plovander
