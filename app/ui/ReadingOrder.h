#pragma once

#include <QList>

class QWidget;

namespace Plovander {

// Keyboard focus that follows the order in which a window reads: Tab goes through the controls as
// the window's layouts place them, top to bottom and left to right within a row, whatever order
// they were made in (rows that come and go are made long after the rows around them).
namespace ReadingOrder {

// The controls within `root` that Tab can reach now, in reading order.
QList<QWidget*> controls(const QWidget& root);
// Moves the focus to the next control (or the previous one), round from the end to the start;
// a control in a scrolling column is scrolled into view. False when there is no control.
bool moveFocus(const QWidget& root, bool forward);

} // namespace ReadingOrder
} // namespace Plovander
