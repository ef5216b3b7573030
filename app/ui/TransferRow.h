#pragma once

#include "app/transfers/HostTransfers.h"

#include <QWidget>

class QLabel;
class QProgressBar;
class QToolButton;

namespace Plovander {

// A running transfer: its direction, its name cut in the middle, its progress and a cancel button.
class TransferRow final : public QWidget {
    Q_OBJECT

public:
    TransferRow(const HostTransfers::Activity& activity, bool windowStyle, QWidget* parent = nullptr);
    void present(const HostTransfers::Activity& activity);

Q_SIGNALS:
    void cancelRequested();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    const bool windowStyle_;
    QString title_;
    QLabel* titleLabel_;
    QProgressBar* progress_;
    QToolButton* cancel_;
};

} // namespace Plovander
