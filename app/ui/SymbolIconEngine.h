#pragma once

#include "app/ui/decisions/MenuStatus.h"

#include <QIconEngine>

namespace Plovander {

// Draws a bundled symbol for each size and pixel ratio asked, in its tint taken from the
// application's palette at that moment: the icon stays sharp at any scale and follows a switch
// between light and dark. Painted into an area, the square symbol is centred in it (a tray's slot
// may be wider than tall); a pixmap wider than tall keeps the symbol at its start, so that the rest
// is space before a button's text.
class SymbolIconEngine final : public QIconEngine {
public:
    SymbolIconEngine(QString name, Tint tint);

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override;
    QIconEngine* clone() const override;
    QString key() const override;

private:
    QString name_;
    Tint tint_;
};

} // namespace Plovander
