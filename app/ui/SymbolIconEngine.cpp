#include "app/ui/SymbolIconEngine.h"

#include "app/ui/Look.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

namespace Plovander {

SymbolIconEngine::SymbolIconEngine(QString name, Tint tint) : name_(std::move(name)), tint_(tint) {}

void SymbolIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) {
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const int side = std::min(rect.width(), rect.height());
    const QRect square(rect.x() + (rect.width() - side) / 2, rect.y() + (rect.height() - side) / 2, side, side);
    painter->drawPixmap(square.topLeft(), scaledPixmap(square.size(), mode, state, ratio));
}

QPixmap SymbolIconEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) {
    return scaledPixmap(size, mode, state, 1.0);
}

QPixmap SymbolIconEngine::scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) {
    QColor colour = Look::color(tint_, QGuiApplication::palette());
    if (mode == QIcon::Disabled) colour.setAlphaF(colour.alphaF() * 0.4f);
    QPixmap canvas(size * scale);
    canvas.setDevicePixelRatio(scale);
    canvas.fill(Qt::transparent);
    const int side = std::min(size.width(), size.height());
    QPainter painter(&canvas);
    painter.drawPixmap(QPointF(0, (size.height() - side) / 2.0), Look::symbolPixmap(name_, colour, side, scale));
    return canvas;
}

QIconEngine* SymbolIconEngine::clone() const { return new SymbolIconEngine(name_, tint_); }

QString SymbolIconEngine::key() const { return QStringLiteral("PlovanderSymbol"); }

} // namespace Plovander
