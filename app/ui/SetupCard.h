#pragma once

#include "app/ui/Card.h"

namespace Plovander {

class CaptureProbe;
class StreamingSession;

// The middle panel while nothing is paired: how pairing works, and "Pair a device".
class SetupCard final : public Card {
    Q_OBJECT

public:
    SetupCard(StreamingSession& session, CaptureProbe& capture, QWidget* parent = nullptr);
};

} // namespace Plovander
