#include "app/ui/ReadingOrder.h"

#include <QApplication>
#include <QLayout>
#include <QScrollArea>
#include <QWidget>

namespace Plovander::ReadingOrder {
namespace {

void collect(QLayout& layout, QList<QWidget*>& found);

void collect(QWidget& widget, QList<QWidget*>& found) {
    if (widget.isHidden()) return;
    if ((widget.focusPolicy() & Qt::TabFocus) && widget.isEnabled()) found << &widget;
    if (auto* column = qobject_cast<QScrollArea*>(&widget)) {
        if (column->widget()) collect(*column->widget(), found);
    } else if (widget.layout()) {
        collect(*widget.layout(), found);
    }
}

void collect(QLayout& layout, QList<QWidget*>& found) {
    for (int index = 0; index < layout.count(); ++index) {
        QLayoutItem* item = layout.itemAt(index);
        if (item->widget()) {
            collect(*item->widget(), found);
        } else if (item->layout()) {
            collect(*item->layout(), found);
        }
    }
}

} // namespace

QList<QWidget*> controls(const QWidget& root) {
    QList<QWidget*> found;
    if (root.layout()) collect(*root.layout(), found);
    return found;
}

bool moveFocus(const QWidget& root, bool forward) {
    const QList<QWidget*> order = controls(root);
    if (order.isEmpty()) return false;
    // The control that has the focus, or holds the widget that has it.
    const QWidget* focused = QApplication::focusWidget();
    qsizetype at = -1;
    for (qsizetype index = 0; index < order.size() && focused; ++index) {
        if (order[index] == focused || order[index]->isAncestorOf(focused)) at = index;
    }
    const qsizetype count = order.size();
    const qsizetype next = at < 0 ? (forward ? 0 : count - 1) : (at + (forward ? 1 : count - 1)) % count;
    QWidget* target = order[next];
    target->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    for (QWidget* above = target->parentWidget(); above && above != &root; above = above->parentWidget()) {
        if (auto* column = qobject_cast<QScrollArea*>(above)) column->ensureWidgetVisible(target);
    }
    return true;
}

} // namespace Plovander::ReadingOrder
