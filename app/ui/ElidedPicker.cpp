#include "app/ui/ElidedPicker.h"

#include <QStyle>
#include <QStyleOptionComboBox>

namespace Plovander {

void ElidedPicker::initStyleOption(QStyleOptionComboBox* option) const {
    QComboBox::initStyleOption(option);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, option, QStyle::SC_ComboBoxEditField, this);
    // The style draws the entry a pixel in from each end of its field.
    option->currentText = fontMetrics().elidedText(option->currentText, Qt::ElideRight, field.width() - 2);
}

} // namespace Plovander
