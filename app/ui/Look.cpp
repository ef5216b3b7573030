#include "app/ui/Look.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPushButton>
#include <QSvgRenderer>
#include <QWidget>

namespace Plovander::Look {
namespace {

const char* fileOf(const QString& name) {
    static const std::pair<const char*, const char*> names[] = {
        {"iphone", "phone-apple-iphone"},
        {"iphone.radiowaves.left.and.right", "phone-apple-iphone"},
        {"iphone.and.arrow.forward", "phone-apple-iphone"},
        {"hourglass", "content-loading"},
        {"moon.zzz", "weather-clear-night"},
        {"exclamationmark.triangle", "dialog-warning"},
        {"exclamationmark.triangle.fill", "dialog-warning"},
        {"xmark", "window-close"},
        {"xmark.circle.fill", "process-stop"},
        {"doc.on.doc", "edit-copy"},
        {"checkmark", "object-select"},
        {"folder", "folder"},
        {"timer", "alarm"},
        {"plus", "list-add"},
        {"ellipsis.circle", "view-more"},
        {"dot.radiowaves.left.and.right", "network-wireless"},
        {"globe.americas", "web-browser"},
        {"person.badge.shield.checkmark", "security-high"},
        {"eye.slash", "view-conceal"},
        {"arrow.down.circle", "go-down"},
        {"arrow.down.circle.fill", "go-down"},
        {"arrow.up.circle", "go-up"},
        {"arrow.up.circle.fill", "go-up"},
        {"checkmark.circle.fill", "emblem-ok"},
        {"minus.circle.fill", "list-remove"},
        {"exclamationmark.circle.fill", "emblem-important"},
        {"magnifyingglass.circle", "system-search"},
        {"tray", "folder-download"},
        {"tray.and.arrow.up", "document-send"},
    };
    for (const auto& [from, to] : names) {
        if (name == QLatin1String(from)) return to;
    }
    return "dialog-warning";
}

bool isDark(const QWidget& widget) { return widget.palette().color(QPalette::Window).lightnessF() < 0.5; }

} // namespace

QColor tealAccent(const QWidget& widget) {
    return isDark(widget) ? QColor::fromRgbF(0.10f, 0.58f, 0.68f) : QColor::fromRgbF(0.05f, 0.52f, 0.62f);
}

QColor color(Tint tint, const QWidget& widget) {
    switch (tint) {
        case Tint::green:
            return isDark(widget) ? QColor(48, 209, 88) : QColor(40, 167, 69);
        case Tint::orange:
            return isDark(widget) ? QColor(255, 159, 10) : QColor(230, 126, 0);
        case Tint::accent:
            return tealAccent(widget);
        case Tint::secondary:
            return widget.palette().color(QPalette::PlaceholderText);
    }
    return widget.palette().color(QPalette::WindowText);
}

QPixmap symbolPixmap(const QString& name, const QColor& color, int size) {
    QSvgRenderer renderer(QStringLiteral(":/symbols/%1-symbolic.svg").arg(QLatin1String(fileOf(name))));
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(0, 0, size, size));
    // The theme draws in one dark grey: keep its shape, take our colour.
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(0, 0, size, size), color);
    return pixmap;
}

QIcon symbol(const QString& name, const QColor& color, int size) { return QIcon(symbolPixmap(name, color, size)); }

QFont font(Text style, QFont::Weight weight) {
    QFont result = QApplication::font();
    const qreal base = result.pointSizeF() > 0 ? result.pointSizeF() : 10.0;
    switch (style) {
        case Text::headline:
            result.setPointSizeF(base * 1.1);
            result.setWeight(QFont::DemiBold);
            return result;
        case Text::body:
            result.setPointSizeF(base);
            break;
        case Text::callout:
            result.setPointSizeF(base * 0.95);
            break;
        case Text::caption:
            result.setPointSizeF(base * 0.85);
            break;
        case Text::caption2:
            result.setPointSizeF(base * 0.78);
            break;
    }
    result.setWeight(weight);
    return result;
}

QFont monospaceFont(Text style) {
    QFont result = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    result.setPointSizeF(font(style).pointSizeF());
    return result;
}

QLabel* label(const QString& text, Text style, QFont::Weight weight, bool secondary) {
    auto* result = new QLabel(text);
    result->setTextFormat(Qt::PlainText);
    result->setFont(font(style, weight));
    if (secondary) {
        QPalette palette = result->palette();
        palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
        result->setPalette(palette);
    }
    return result;
}

void makeProminent(QPushButton& button) {
    const QPalette& palette = button.palette();
    const QColor fill = palette.color(QPalette::Highlight);
    QColor faded = fill;
    faded.setAlphaF(0.4f);
    button.setStyleSheet(QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 5px; "
                                        "padding: 4px 10px; } QPushButton:pressed { background: %3; } "
                                        "QPushButton:disabled { background: %4; }")
                             .arg(fill.name(), palette.color(QPalette::HighlightedText).name(), fill.darker(120).name(),
                                  faded.name(QColor::HexArgb)));
}

QString plainTooltip(const QString& text) {
    return QStringLiteral("<qt>") + text.toHtmlEscaped() + QStringLiteral("</qt>");
}

QFrame* divider() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

void fillRounded(QPainter& painter, const QRectF& area, qreal radius, QColor colour, float opacity) {
    colour.setAlphaF(opacity);
    QPainterPath shape;
    shape.addRoundedRect(area, radius, radius);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(shape, colour);
}

} // namespace Plovander::Look
