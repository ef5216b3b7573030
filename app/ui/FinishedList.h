#pragma once

#include "app/transfers/HostTransfers.h"

#include <QWidget>

#include <map>

class QVBoxLayout;

namespace Platform {
class Workspace;
}

namespace Plovander {

// "Recent": the eight newest finished transfers, with how each ended and, for a received file,
// a button that shows it in the file manager. Rows are kept by record.
class FinishedList final : public QWidget {
    Q_OBJECT

public:
    static constexpr std::size_t shown = 8;

    FinishedList(HostTransfers& transfers, Platform::Workspace& workspace, QWidget* parent = nullptr);

private:
    void reconcile();
    QWidget* makeRow(const HostTransfers::Finished& finished);

    HostTransfers& transfers_;
    Platform::Workspace& workspace_;
    QVBoxLayout* rowsColumn_;
    std::map<QUuid, QWidget*> rows_;
};

} // namespace Plovander
