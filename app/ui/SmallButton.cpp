#include "app/ui/SmallButton.h"

#include "app/ui/Look.h"

namespace Plovander {

SmallButton::SmallButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setFont(Look::font(Look::Text::caption));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize SmallButton::sizeHint() const {
    QSize hint = QPushButton::sizeHint();
    const QFontMetrics metrics(font());
    int content = metrics.horizontalAdvance(text());
    if (!icon().isNull()) content += iconSize().width() + metrics.averageCharWidth();
    hint.setWidth(content + 2 * metrics.averageCharWidth() + 8);
    return hint;
}

} // namespace Plovander
