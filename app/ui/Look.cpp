#include "app/ui/Look.h"

#include "app/ui/SymbolIconEngine.h"
#include "app/ui/TextLabel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QSvgRenderer>
#include <QWidget>

#include <cmath>

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
        {"xmark.circle.fill", "xmark-circle-fill"},
        {"doc.on.doc", "edit-copy"},
        {"checkmark", "object-select"},
        {"folder", "folder"},
        {"timer", "alarm"},
        {"plus", "list-add"},
        {"ellipsis.circle", "view-more"},
        {"dot.radiowaves.left.and.right", "network-wireless"},
        {"globe.americas", "globe"},
        {"person.badge.shield.checkmark", "security-high"},
        {"eye.slash", "view-conceal"},
        {"arrow.down.circle", "arrow-down-circle"},
        {"arrow.down.circle.fill", "arrow-down-circle-fill"},
        {"arrow.up.circle", "arrow-up-circle"},
        {"arrow.up.circle.fill", "arrow-up-circle-fill"},
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

bool isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightnessF() < 0.5; }

// How bright a colour is to the eye, from 0 (black) to 1 (white).
double luminance(const QColor& colour) {
    const auto linear = [](float channel) {
        return channel <= 0.04045f ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

} // namespace

QColor tealAccent(const QPalette& palette) {
    return isDark(palette) ? QColor::fromRgbF(0.10f, 0.58f, 0.68f) : QColor::fromRgbF(0.05f, 0.52f, 0.62f);
}

QColor tealAccent(const QWidget& widget) { return tealAccent(widget.palette()); }

QColor color(Tint tint, const QPalette& palette) {
    switch (tint) {
        case Tint::green:
            return isDark(palette) ? QColor(48, 209, 88) : QColor(40, 167, 69);
        case Tint::orange:
            return isDark(palette) ? QColor(255, 159, 10) : QColor(230, 126, 0);
        case Tint::accent:
            return tealAccent(palette);
        case Tint::secondary: {
            // A card is the faintest ground secondary text sits on, in light and dark alike.
            QColor half = palette.color(QPalette::WindowText);
            half.setAlphaF(0.5f);
            return standingOut(half, cardGround(palette), 4.5);
        }
        case Tint::primary:
            break;
    }
    return palette.color(QPalette::WindowText);
}

QColor color(Tint tint, const QWidget& widget) { return color(tint, widget.palette()); }

double contrast(const QColor& a, const QColor& b) {
    const double first = luminance(a);
    const double second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

QColor over(const QColor& top, const QColor& ground) {
    const float opacity = top.alphaF();
    const auto mix = [opacity](float upper, float lower) { return upper * opacity + lower * (1 - opacity); };
    return QColor::fromRgbF(mix(top.redF(), ground.redF()), mix(top.greenF(), ground.greenF()),
                            mix(top.blueF(), ground.blueF()));
}

QColor standingOut(const QColor& colour, const QColor& ground, double ratio) {
    const QColor white(Qt::white);
    const QColor black(Qt::black);
    QColor towards = contrast(black, ground) > contrast(white, ground) ? black : white;
    const QColor start = over(colour, ground);
    for (int step = 0; step < 20; ++step) {
        towards.setAlphaF(static_cast<float>(step) / 20);
        const QColor mixed = over(towards, start);
        if (contrast(mixed, ground) >= ratio) return mixed;
    }
    towards.setAlphaF(1);
    return towards;
}

QColor cardGround(const QPalette& palette) {
    QColor tint = palette.color(QPalette::WindowText);
    tint.setAlphaF(0.06f);
    return over(tint, palette.color(QPalette::Window));
}

QColor highlightGround(const QPalette& palette) {
    // Taken the other way: the highlight moves until its text stands apart from it.
    return standingOut(palette.color(QPalette::Highlight), palette.color(QPalette::HighlightedText), 4.5);
}

QColor focusColor(const QPalette& palette) {
    return standingOut(palette.color(QPalette::Highlight), cardGround(palette), 3);
}

QPixmap symbolPixmap(const QString& name, const QColor& color, int size, qreal ratio) {
    QSvgRenderer renderer(QStringLiteral(":/symbols/%1-symbolic.svg").arg(QLatin1String(fileOf(name))));
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

QIcon symbol(const QString& name, Tint tint) { return QIcon(new SymbolIconEngine(name, tint)); }

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
    auto* result = new TextLabel(text, secondary);
    result->setFont(font(style, weight));
    return result;
}

void paintSecondaryText(QLabel& label) {
    QPainter painter(&label);
    const int margin = label.margin();
    QRect area = label.contentsRect().adjusted(margin, margin, -margin, -margin);
    area.setLeft(area.left() + std::max(label.indent(), 0));
    QPalette shades = label.palette();
    shades.setColor(QPalette::WindowText, color(Tint::secondary, label));
    const int flags = static_cast<int>(label.alignment()) | (label.wordWrap() ? Qt::TextWordWrap : 0);
    label.style()->drawItemText(&painter, area, flags, shades, label.isEnabled(), label.text(), QPalette::WindowText);
}

void setLeadingSymbol(QAbstractButton& button, const QString& name, Tint tint) {
    const int side = qRound(button.fontMetrics().height() * 0.85);
    // A style may make a button with a large icon shorter: it stays as tall as one without.
    button.setMinimumHeight(button.sizeHint().height());
    button.setIcon(symbol(name, tint));
    // The icon's room is wider than the symbol: the rest is the space before the text.
    button.setIconSize(QSize(side + side / 3, side));
}

bool showsFocus(const QWidget& widget) {
    const auto* button = qobject_cast<const QPushButton*>(&widget);
    const bool keyboard = widget.window()->testAttribute(Qt::WA_KeyboardFocusChange);
    return widget.hasFocus() && (keyboard || (button && button->isDefault()));
}

void drawFocusRing(QPainter& painter, const QRectF& area, qreal radius, const QColor& colour) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(colour, 2));
    painter.drawRoundedRect(area.adjusted(1, 1, -1, -1), radius, radius);
    painter.restore();
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
