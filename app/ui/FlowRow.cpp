#include "app/ui/FlowRow.h"

#include <QWidget>

#include <algorithm>

namespace Plovander {
namespace {

// The width an item starts from on a line `room` wide: its preferred width; for an item that grows,
// no more than half the line, so that the items after it go to a further line before they squeeze
// it further, and never less than its least width.
int baseWidth(const QLayoutItem& item, bool grows, int room) {
    if (!grows) return item.sizeHint().width();
    return std::max(item.minimumSize().width(), std::min(item.sizeHint().width(), room / 2));
}

// Hidden widgets take no room; a stretch does, although it calls itself empty.
bool takesRoom(const QLayoutItem& item) { return !item.isEmpty() || dynamic_cast<const QSpacerItem*>(&item); }

int heightAt(const QLayoutItem& item, int width) {
    return item.hasHeightForWidth() ? item.heightForWidth(width) : item.sizeHint().height();
}

} // namespace

FlowRow::FlowRow(QWidget* parent) : QLayout(parent) { setSpacing(6); }

FlowRow::~FlowRow() {
    while (QLayoutItem* item = takeAt(0)) delete item;
}

void FlowRow::addWidget(QWidget* widget, bool grows) {
    addChildWidget(widget);
    entries_.push_back({new QWidgetItem(widget), grows});
    invalidate();
}

void FlowRow::addLayout(QLayout* layout, bool grows) {
    addChildLayout(layout);
    entries_.push_back({layout, grows});
    invalidate();
}

void FlowRow::addStretch() {
    entries_.push_back({new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Minimum), true});
    invalidate();
}

void FlowRow::addItem(QLayoutItem* item) {
    entries_.push_back({item, false});
    invalidate();
}

int FlowRow::count() const { return static_cast<int>(entries_.size()); }

QLayoutItem* FlowRow::itemAt(int index) const {
    return index >= 0 && index < count() ? entries_[static_cast<std::size_t>(index)].item : nullptr;
}

QLayoutItem* FlowRow::takeAt(int index) {
    if (index < 0 || index >= count()) return nullptr;
    QLayoutItem* item = entries_[static_cast<std::size_t>(index)].item;
    entries_.erase(entries_.begin() + index);
    invalidate();
    return item;
}

int FlowRow::heightForWidth(int width) const { return arrange(QRect(0, 0, width, 0), false); }

QSize FlowRow::sizeHint() const {
    int width = 0;
    int height = 0;
    for (const Entry& entry : entries_) {
        if (!takesRoom(*entry.item)) continue;
        const QSize hint = entry.item->sizeHint();
        width += (width > 0 ? spacing() : 0) + hint.width();
        height = std::max(height, hint.height());
    }
    const QMargins margins = contentsMargins();
    return QSize(width, height).grownBy(margins);
}

QSize FlowRow::minimumSize() const {
    QSize least;
    for (const Entry& entry : entries_) {
        if (takesRoom(*entry.item)) least = least.expandedTo(entry.item->minimumSize());
    }
    return least.grownBy(contentsMargins());
}

void FlowRow::setGeometry(const QRect& area) {
    QLayout::setGeometry(area);
    arrange(area, true);
}

int FlowRow::arrange(const QRect& area, bool place) const {
    const QRect inner = area.marginsRemoved(contentsMargins());
    const int room = inner.width();
    std::vector<const Entry*> shown;
    for (const Entry& entry : entries_) {
        if (takesRoom(*entry.item)) shown.push_back(&entry);
    }
    int top = inner.top();
    std::size_t first = 0;
    while (first < shown.size()) {
        // The items that fit on this line.
        std::size_t end = first;
        int used = 0;
        while (end < shown.size()) {
            const int needed = baseWidth(*shown[end]->item, shown[end]->grows, room) + (end > first ? spacing() : 0);
            // A stretch goes to the line of the item it pushes to the end.
            const bool pushes = shown[end]->item->spacerItem() && end + 1 < shown.size();
            const int pushed = pushes ? spacing() + baseWidth(*shown[end + 1]->item, shown[end + 1]->grows, room) : 0;
            if (end > first && used + needed + pushed > room) break;
            used += needed;
            ++end;
        }
        // What is left goes to the items that grow: evenly when each can be as wide as its share.
        std::vector<int> widths;
        int growing = 0;
        int fixed = (static_cast<int>(end - first) - 1) * spacing();
        int widest = 0;
        for (std::size_t i = first; i < end; ++i) {
            widths.push_back(baseWidth(*shown[i]->item, shown[i]->grows, room));
            if (shown[i]->grows) {
                ++growing;
                widest = std::max(widest, widths.back());
            } else {
                fixed += widths.back();
            }
        }
        if (growing > 0) {
            const int share = (room - fixed) / growing;
            const int extra = std::max(0, room - used) / growing;
            for (std::size_t i = first; i < end; ++i) {
                if (shown[i]->grows) widths[i - first] = widest <= share ? share : widths[i - first] + extra;
            }
        }
        int lineHeight = 0;
        for (std::size_t i = first; i < end; ++i) {
            lineHeight = std::max(lineHeight, heightAt(*shown[i]->item, widths[i - first]));
        }
        if (place) {
            int left = inner.left();
            for (std::size_t i = first; i < end; ++i) {
                const int width = widths[i - first];
                const int height = std::min(lineHeight, heightAt(*shown[i]->item, width));
                shown[i]->item->setGeometry(QRect(left, top + (lineHeight - height) / 2, width, height));
                left += width + spacing();
            }
        }
        top += lineHeight + spacing();
        first = end;
    }
    const int used = shown.empty() ? 0 : top - spacing() - inner.top();
    const QMargins margins = contentsMargins();
    return used + margins.top() + margins.bottom();
}

} // namespace Plovander
