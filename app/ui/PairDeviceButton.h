#pragma once

#include "app/ui/ProminenceButton.h"

namespace Plovander {

class CaptureProbe;
class StreamingSession;

// "Pair a device": prominent and wide in the set-up card, small in the paired devices' header.
// It opens a pairing offer under this computer's name.
class PairDeviceButton final : public ProminenceButton {
    Q_OBJECT

public:
    PairDeviceButton(StreamingSession& session, CaptureProbe& capture, bool prominent, QWidget* parent = nullptr);

private:
    void refresh();

    StreamingSession& session_;
    CaptureProbe& capture_;
};

} // namespace Plovander
