#pragma once

#include "app/transfers/HostTransfers.h"

#include <QWidget>

#include <map>

class QVBoxLayout;

namespace Plovander {

class TransferRow;

// One row per running transfer, in the model's order. Rows are kept by direction and id, so a
// progress update moves a bar without rebuilding the row under the pointer.
class TransferList final : public QWidget {
    Q_OBJECT

public:
    enum class Style {
        // The session card: "Sending name" or "Receiving name", caption font.
        card,
        // The files window: the name alone, callout font.
        window,
    };

    TransferList(HostTransfers& transfers, Style style, QWidget* parent = nullptr);

private:
    void reconcile();

    HostTransfers& transfers_;
    const Style style_;
    QVBoxLayout* column_;
    std::map<HostTransfers::Activity::Key, TransferRow*> rows_;
};

} // namespace Plovander
