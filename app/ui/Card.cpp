#include "app/ui/Card.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace Plovander {

Card::Card(QWidget* parent) : QFrame(parent), column_(new QVBoxLayout(this)) {
    column_->setSpacing(12);
    column_->setContentsMargins(14, 14, 14, 14);
}

void Card::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.06f);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 12, 12);
    painter.fillPath(shape, fill);
}

} // namespace Plovander
