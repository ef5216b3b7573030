#pragma once

#include <QSize>

#include <functional>

class QWidget;

namespace Plovander {

// What the settings and files windows share: each lies wholly within its screen's available area
// (which leaves out the desktop's panels), frame included, and closes on Escape or Ctrl+W.
namespace OwnWindow {

// The most that `window`'s content may take on its screen: the available area less the window's
// frame (estimated before the desktop has framed it).
QSize room(const QWidget& window);
// Shows `window` in front, wholly in its screen's available area: centred when `centre`, otherwise
// as near as it can be to where it was. `fit` sizes it to its room first, and again once shown,
// when the window may have learnt the size of its frame.
void present(QWidget& window, bool centre, const std::function<void()>& fit);
// Escape and Ctrl+W close (hide) `window`.
void closeOnKeys(QWidget& window);

} // namespace OwnWindow
} // namespace Plovander
