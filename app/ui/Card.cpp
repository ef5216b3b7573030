#include "app/ui/Card.h"

#include "app/ui/Look.h"

#include <QPainter>
#include <QVBoxLayout>

namespace Plovander {

Card::Card(QWidget* parent) : QFrame(parent), column_(new QVBoxLayout(this)) {
    column_->setSpacing(12);
    column_->setContentsMargins(14, 14, 14, 14);
}

void Card::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Look::fillRounded(painter, QRectF(rect()), 12, Look::cardGround(palette()), 1);
}

} // namespace Plovander
