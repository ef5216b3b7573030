#include "app/ui/ScrollingColumn.h"

#include <QEvent>

namespace Plovander {

ScrollingColumn::ScrollingColumn(QWidget* content, QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::NoFocus);
    setWidgetResizable(true);
    setWidget(content);
}

QSize ScrollingColumn::sizeHint() const {
    const QWidget* content = widget();
    const int height = content->hasHeightForWidth() ? content->heightForWidth(width()) : content->sizeHint().height();
    return {width(), height};
}

QSize ScrollingColumn::minimumSizeHint() const {
    return {width(), std::min(sizeHint().height(), 4 * fontMetrics().height())};
}

bool ScrollingColumn::viewportEvent(QEvent* event) {
    // The content has laid itself out anew and tells its parent, the viewport: the height it asks
    // for may have changed, and this column's own parent has to hear of it.
    if (event->type() == QEvent::LayoutRequest) {
        updateGeometry();
        fitScrollBar();
    }
    return QScrollArea::viewportEvent(event);
}

void ScrollingColumn::resizeEvent(QResizeEvent* event) {
    fitScrollBar();
    QScrollArea::resizeEvent(event);
}

void ScrollingColumn::fitScrollBar() {
    const bool fits = height() >= sizeHint().height();
    setVerticalScrollBarPolicy(fits ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
}

} // namespace Plovander
