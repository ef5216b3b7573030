#include "app/ui/FocusRingStyle.h"

#include "app/ui/Look.h"

#include <QStyleOption>

namespace Plovander {
namespace {

bool showsFocus(const QStyleOption& option) {
    return option.state.testFlag(QStyle::State_HasFocus) && option.state.testFlag(QStyle::State_KeyboardFocusChange);
}

void drawRing(QPainter& painter, const QStyleOption& option) {
    Look::drawFocusRing(painter, QRectF(option.rect), 4, Look::focusColor(option.palette));
}

// Draws the control as the base style would without the focus, then the ring around it.
template <typename Option, typename Draw>
void ringed(const QStyleOption* option, QPainter* painter, const Draw& draw) {
    const auto* typed = qstyleoption_cast<const Option*>(option);
    if (!typed || !showsFocus(*option)) return draw(option);
    Option plain = *typed;
    plain.state &= ~QStyle::State_HasFocus;
    draw(&plain);
    drawRing(*painter, *option);
}

} // namespace

void FocusRingStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                   const QWidget* widget) const {
    const auto draw = [&](const QStyleOption* shown) { QProxyStyle::drawPrimitive(element, shown, painter, widget); };
    if (element == PE_FrameFocusRect) {
        if (showsFocus(*option)) drawRing(*painter, *option);
    } else if (element == PE_PanelLineEdit) {
        ringed<QStyleOptionFrame>(option, painter, draw);
    } else {
        draw(option);
    }
}

void FocusRingStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                 const QWidget* widget) const {
    const auto draw = [&](const QStyleOption* shown) { QProxyStyle::drawControl(element, shown, painter, widget); };
    if (element == CE_PushButton || element == CE_CheckBox) {
        ringed<QStyleOptionButton>(option, painter, draw);
    } else {
        draw(option);
    }
}

void FocusRingStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                                        const QWidget* widget) const {
    const auto draw = [&](const QStyleOption* shown) {
        QProxyStyle::drawComplexControl(control, qstyleoption_cast<const QStyleOptionComplex*>(shown), painter, widget);
    };
    if (control == CC_ToolButton) {
        ringed<QStyleOptionToolButton>(option, painter, draw);
    } else if (control == CC_ComboBox) {
        ringed<QStyleOptionComboBox>(option, painter, draw);
    } else {
        draw(option);
    }
}

} // namespace Plovander
