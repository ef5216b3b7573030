#include "app/ui/StatusChip.h"

#include "app/ui/Look.h"

#include <QPainter>

namespace Plovander {

StatusChip::StatusChip(QWidget* parent) : QWidget(parent) {
    setObjectName("statusChip");
    setFont(Look::font(Look::Text::caption, QFont::DemiBold));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StatusChip::present(MenuStatus status) {
    text_ = statusText(status);
    tint_ = statusTint(status);
    setAccessibleName(QStringLiteral("Status: ") + text_);
    updateGeometry();
    update();
}

QSize StatusChip::sizeHint() const {
    const QFontMetrics metrics(font());
    return {9 + 7 + 5 + metrics.horizontalAdvance(text_) + 9, metrics.height() + 8};
}

void StatusChip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor colour = Look::color(tint_, *this);
    QColor ground = colour;
    ground.setAlphaF(0.14f);
    ground = Look::over(ground, palette().color(QPalette::Window));
    Look::fillRounded(painter, QRectF(rect()), height() / 2.0, ground, 1);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(9, (height() - 7) / 2.0, 7, 7));
    // The status word in its colour, deepened where the colour alone would read faintly on the chip.
    painter.setPen(Look::standingOut(colour, ground, 4.5));
    painter.drawText(rect().adjusted(21, 0, -9, 0), Qt::AlignVCenter | Qt::AlignLeft, text_);
}

} // namespace Plovander
