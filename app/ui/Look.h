#pragma once

#include "app/ui/decisions/MenuStatus.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

class QFrame;
class QLabel;
class QPainter;
class QAbstractButton;
class QRectF;
class QWidget;

namespace Plovander {

// The popover's common look: its colours by role, its tinted symbols and its text styles.
namespace Look {

// The popover's own accent: one value for a dark and one for a light window colour.
QColor tealAccent(const QPalette& palette);
QColor tealAccent(const QWidget& widget);
// The secondary tint is the window text at half strength, or stronger where that would read below
// 4.5:1 on a card.
QColor color(Tint tint, const QPalette& palette);
QColor color(Tint tint, const QWidget& widget);
// How far apart two colours stand to the eye (WCAG's contrast ratio): 1 for the same colour, 21 for
// black on white.
double contrast(const QColor& a, const QColor& b);
// `top`, translucent, as painted over `ground`.
QColor over(const QColor& top, const QColor& ground);
// `colour` painted over `ground`, taken towards black or white, whichever stands further from the
// ground, just until the two stand `ratio` apart.
QColor standingOut(const QColor& colour, const QColor& ground, double ratio);
// What cards and settings sections are filled with.
QColor cardGround(const QPalette& palette);
// The palette's highlight as a ground for its highlighted text, darkened or lightened until that
// text reads at 4.5:1 on it.
QColor highlightGround(const QPalette& palette);
// The colour of the ring that marks keyboard focus: the highlight, standing 3:1 apart from a card.
QColor focusColor(const QPalette& palette);
// A bundled symbol by the name the views use, in `tint`: drawn afresh at every size and in the
// application's palette of the moment, so it stays sharp at any scale and follows a light/dark switch.
QIcon symbol(const QString& name, Tint tint);
// `size` points square, drawn in `color` at `pixelRatio` pixels a point.
QPixmap symbolPixmap(const QString& name, const QColor& color, int size, qreal pixelRatio);

enum class Text { headline, body, callout, caption, caption2 };
QFont font(Text style, QFont::Weight weight = QFont::Normal);
// The system's fixed-width font at the size of `style`: for identifiers and counters.
QFont monospaceFont(Text style);
// A label that never reads its text as markup (names come from devices), and wraps between words
// where its line does not fit.
QLabel* label(const QString& text, Text style, QFont::Weight weight = QFont::Normal, bool secondary = false);
// Paints a plain, unselectable label's text at half the window text's strength, taken from the
// palette now, so that it follows a switch between light and dark.
void paintSecondaryText(QLabel& label);
// Puts the symbol before the button's text, sized to its font, with a space between the two.
void setLeadingSymbol(QAbstractButton& button, const QString& name, Tint tint);
// Whether `widget` should show that it has the focus: it has it, and the keyboard moved it or it is
// the default button, which Return and Space press.
bool showsFocus(const QWidget& widget);
// The ring that marks keyboard focus, just inside `area`.
void drawFocusRing(QPainter& painter, const QRectF& area, qreal radius, const QColor& colour);
// A tooltip that shows `text` as written.
QString plainTooltip(const QString& text);
// A thin horizontal line between groups of rows.
QFrame* divider();
// The tinted ground of a tile, chip, card or banner: a rounded rectangle of `colour` at `opacity`.
void fillRounded(QPainter& painter, const QRectF& area, qreal radius, QColor colour, float opacity);

} // namespace Look
} // namespace Plovander
