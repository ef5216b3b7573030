#include "app/ui/MenuRow.h"

#include "app/ui/Look.h"

#include <QPainter>
#include <QPainterPath>

namespace Plovander {

MenuRow::MenuRow(QString title, QString shortcut, QWidget* parent)
    : QAbstractButton(parent), shortcut_(std::move(shortcut)) {
    setText(title);
    setAccessibleName(title);
    setFont(Look::font(Look::Text::callout));
    setAttribute(Qt::WA_Hover);
}

QSize MenuRow::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text() + shortcut_) + 40, metrics.height() + 8};
}

void MenuRow::enterEvent(QEnterEvent*) {
    hovering_ = true;
    update();
}

void MenuRow::leaveEvent(QEvent*) {
    hovering_ = false;
    update();
}

void MenuRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor hovered = Look::highlightGround(palette());
    if (hovering_ && isEnabled()) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 5, 5);
        painter.fillPath(shape, hovered);
    }
    const QRect inner = rect().adjusted(inset, 4, -inset, -4);
    QColor title = hovering_ ? QColor(Qt::white) : palette().color(QPalette::WindowText);
    QColor shortcut =
        hovering_ ? Look::standingOut(QColor(255, 255, 255, 204), hovered, 4.5) : Look::color(Tint::secondary, *this);
    if (!isEnabled()) title = shortcut = Look::color(Tint::secondary, *this);
    painter.setPen(title);
    painter.drawText(inner, Qt::AlignLeft | Qt::AlignVCenter, text());
    painter.setPen(shortcut);
    painter.drawText(inner, Qt::AlignRight | Qt::AlignVCenter, shortcut_);
    if (Look::showsFocus(*this)) Look::drawFocusRing(painter, QRectF(rect()), 5, Look::focusColor(palette()));
}

} // namespace Plovander
