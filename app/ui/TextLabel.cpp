#include "app/ui/TextLabel.h"

#include "app/ui/Look.h"

namespace Plovander {

TextLabel::TextLabel(const QString& text, bool secondary, QWidget* parent)
    : QLabel(text, parent), secondary_(secondary) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
}

QSize TextLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    const int frame = 2 * margin() + std::max(indent(), 0) + margins.left() + margins.right();
    const int line = fontMetrics().boundingRect(QRect(0, 0, QWIDGETSIZE_MAX, QWIDGETSIZE_MAX), 0, text()).width();
    const int width = line + frame;
    return {width, heightForWidth(width)};
}

void TextLabel::paintEvent(QPaintEvent* event) {
    const bool selectable = textInteractionFlags() & (Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    if (secondary_ && !selectable) return Look::paintSecondaryText(*this);
    QLabel::paintEvent(event);
}

} // namespace Plovander
