#pragma once

#include <QProxyStyle>

namespace Plovander {

// The platform's style, with one mark of keyboard focus for every control: the ring that the
// popover's own controls draw, in place of the style's faint box and tinted outlines. Installed on
// the application before any window is made.
class FocusRingStyle final : public QProxyStyle {
    Q_OBJECT

public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;
};

} // namespace Plovander
