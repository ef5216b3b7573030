#pragma once

#include <QWidget>

class QLabel;

namespace Plovander {

class MacUpdater;
class MenuRow;

// The footer's update row: the check, the install row for a newer release, or while an installation
// runs a disabled row naming its step; above it, after a failed installation, the failure sentence.
class UpdateRows final : public QWidget {
    Q_OBJECT

public:
    // The updater outlives the rows.
    explicit UpdateRows(MacUpdater& updater, QWidget* parent = nullptr);

    // Redraws from the updater. The installation flow ends its run in the same turn as its last
    // status, so a change is read once that turn is over.
    void refreshSoon();
    void refresh();

private:
    void activate();

    MacUpdater& updater_;
    QLabel* note_;
    MenuRow* row_;
    bool checking_ = false;
};

} // namespace Plovander
