#pragma once

#include "app/ui/Card.h"

class QLabel;

namespace Plovander {

class CaptureProbe;
class HostTransfers;
class StreamingSession;

// The middle panel while a device is connected: who, what it may do, how the picture goes, the
// privacy in force, the running transfers, "Files…" and "Disconnect".
class SessionCard final : public Card {
    Q_OBJECT

public:
    SessionCard(StreamingSession& session, CaptureProbe& capture, HostTransfers& transfers, QWidget* parent = nullptr);

Q_SIGNALS:
    void filesRequested();

private:
    void refresh();

    StreamingSession& session_;
    CaptureProbe& capture_;
    QLabel* name_;
    QLabel* access_;
    QLabel* quality_;
    QWidget* privacy_;
    QLabel* privacyText_;
};

} // namespace Plovander
