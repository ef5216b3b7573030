#include "app/ui/Switch.h"

#include "app/ui/Look.h"

#include <QKeyEvent>
#include <QPainter>

namespace Plovander {

Switch::Switch(const QString& accessibleName, QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setAccessibleName(accessibleName);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

namespace {

// Room around the track for the focus ring, apart from the track so that it shows on a lit one.
constexpr int ringRoom = 3;

} // namespace

QSize Switch::sizeHint() const { return {30 + 2 * ringRoom, 16 + 2 * ringRoom}; }

void Switch::keyPressEvent(QKeyEvent* event) {
    // Space is the button's own key; Return toggles too, as on the desktop's switches.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void Switch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled()) painter.setOpacity(0.45);
    const QRectF track = QRectF(rect()).adjusted(ringRoom, ringRoom, -ringRoom, -ringRoom);
    const qreal radius = track.height() / 2;
    const QPalette& colors = palette();
    painter.setPen(Qt::NoPen);
    // Off, a shade of the text: it shows on a light and on a dark window, whatever the palette's mid tone.
    QColor off = colors.color(QPalette::WindowText);
    off.setAlphaF(0.25f);
    painter.setBrush(isChecked() ? colors.color(QPalette::Highlight) : off);
    painter.drawRoundedRect(track, radius, radius);

    const qreal inset = 2;
    const qreal knob = track.height() - 2 * inset;
    const qreal x = isChecked() ? track.right() - inset - knob : track.left() + inset;
    painter.setBrush(QColor(Qt::white));
    painter.drawEllipse(QRectF(x, track.top() + inset, knob, knob));

    if (Look::showsFocus(*this)) {
        painter.setOpacity(1);
        Look::drawFocusRing(painter, QRectF(rect()), radius + ringRoom, Look::focusColor(colors));
    }
}

} // namespace Plovander
