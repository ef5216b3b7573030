#pragma once

#include "app/ui/Card.h"

namespace Plovander {

class StatusLabel;
class StreamingSession;

// The middle panel while this computer should be available but cannot capture its screen: why,
// and "Try again".
class SetupProblemCard final : public Card {
    Q_OBJECT

public:
    explicit SetupProblemCard(StreamingSession& session, QWidget* parent = nullptr);

private:
    void refresh();

    StreamingSession& session_;
    StatusLabel* label_;
};

} // namespace Plovander
