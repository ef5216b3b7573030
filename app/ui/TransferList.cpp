#include "app/ui/TransferList.h"

#include "app/ui/TransferRow.h"

#include <QVBoxLayout>

namespace Plovander {

TransferList::TransferList(HostTransfers& transfers, Style style, QWidget* parent)
    : QWidget(parent), transfers_(transfers), style_(style), column_(new QVBoxLayout(this)) {
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(8);
    connect(&transfers_, &HostTransfers::activeChanged, this, &TransferList::reconcile);
    reconcile();
}

void TransferList::reconcile() {
    std::map<HostTransfers::Activity::Key, TransferRow*> kept;
    for (const HostTransfers::Activity& activity : transfers_.active()) {
        const auto key = activity.key();
        TransferRow* row = nullptr;
        if (const auto found = rows_.find(key); found != rows_.end()) {
            row = found->second;
            rows_.erase(found);
            row->present(activity);
        } else {
            row = new TransferRow(activity, style_ == Style::window, this);
            // Keyed by direction and id: a row whose transfer has just ended cancels nothing else.
            connect(row, &TransferRow::cancelRequested, this, [this, key] { transfers_.cancel(key); });
        }
        kept.emplace(key, row);
        column_->removeWidget(row);
        column_->addWidget(row);
        // A layout shows a new child only on the next turn of the event loop.
        row->setVisible(true);
    }
    for (const auto& [key, row] : rows_) delete row;
    rows_ = std::move(kept);
    setVisible(!rows_.empty());
}

} // namespace Plovander
