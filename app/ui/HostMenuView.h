#pragma once

#include "app/ui/decisions/MenuStatus.h"

#include <QWidget>

class QFrame;
class QLabel;
class QVBoxLayout;

namespace Plovander {

class ApprovalPrompt;
class AvailabilitySection;
class CaptureProbe;
class HostTransfers;
class PairedDevicesSection;
class PairingPanel;
class ProblemBanner;
class ScrollingColumn;
class SessionCard;
class SetupCard;
class SetupProblemCard;
class StatusCard;
class StatusChip;
class StreamingSession;

// The popover: who this computer is and its status word, the problem banners, the one panel that
// fits the status, the availability switches, the paired devices and the footer. Every part
// re-syncs from the models' change signals.
class HostMenuView final : public QWidget {
    Q_OBJECT

public:
    HostMenuView(StreamingSession& session, CaptureProbe& capture, HostTransfers& transfers, QWidget* parent = nullptr);

    MenuStatus statusWord() const;
    // The work done each time the popover opens.
    void opened();

Q_SIGNALS:
    void filesRequested();
    void settingsRequested();
    void quitRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    // The update rows, Settings and Quit, under a divider.
    QVBoxLayout* footer();
    void refresh();

    StreamingSession& session_;
    HostTransfers& transfers_;
    StatusChip* chip_;
    ProblemBanner* sessionBanner_;
    ProblemBanner* transferBanner_;
    StatusCard* statusCard_;
    SetupProblemCard* setupProblemCard_;
    PairingPanel* pairingPanel_;
    SetupCard* setupCard_;
    ApprovalPrompt* approvalPrompt_;
    SessionCard* sessionCard_;
    QFrame* availabilityDivider_;
    AvailabilitySection* availability_;
    QFrame* devicesDivider_;
    PairedDevicesSection* devices_;
    ScrollingColumn* middle_;
};

} // namespace Plovander
