#pragma once

#include "app/ui/decisions/MenuStatus.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

class QFrame;
class QLabel;
class QPainter;
class QPushButton;
class QRectF;
class QWidget;

namespace Plovander {

// The popover's common look: its colours by role, its tinted symbols and its text styles.
namespace Look {

// The popover's own accent: one value for a dark and one for a light window colour.
QColor tealAccent(const QWidget& widget);
QColor color(Tint tint, const QWidget& widget);
// A bundled symbol by the name the views use, drawn in `color`.
QIcon symbol(const QString& name, const QColor& color, int size = 16);
QPixmap symbolPixmap(const QString& name, const QColor& color, int size);

enum class Text { headline, body, callout, caption, caption2 };
QFont font(Text style, QFont::Weight weight = QFont::Normal);
// The system's fixed-width font at the size of `style`: for identifiers and counters.
QFont monospaceFont(Text style);
// A label that never reads its text as markup: names come from devices.
QLabel* label(const QString& text, Text style, QFont::Weight weight = QFont::Normal, bool secondary = false);
// Fills `button` with the system's accent colour and a light label: the one action a panel leads to.
void makeProminent(QPushButton& button);
// A tooltip that shows `text` as written.
QString plainTooltip(const QString& text);
// A thin horizontal line between groups of rows.
QFrame* divider();
// The tinted ground of a tile, chip, card or banner: a rounded rectangle of `colour` at `opacity`.
void fillRounded(QPainter& painter, const QRectF& area, qreal radius, QColor colour, float opacity);

} // namespace Look
} // namespace Plovander
