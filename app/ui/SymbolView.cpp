#include "app/ui/SymbolView.h"

#include "app/ui/Look.h"

#include <QPainter>

namespace Plovander {

SymbolView::SymbolView(QString name, Tint tint, int size, QWidget* parent)
    : QWidget(parent), name_(std::move(name)), tint_(tint), size_(size) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SymbolView::setSymbol(QString name, Tint tint) {
    if (name == name_ && tint == tint_) return;
    name_ = std::move(name);
    tint_ = tint;
    update();
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPointF corner((width() - size_) / 2.0, (height() - size_) / 2.0);
    painter.drawPixmap(corner, Look::symbolPixmap(name_, Look::color(tint_, *this), size_, devicePixelRatioF()));
}

} // namespace Plovander
