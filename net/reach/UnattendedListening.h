#pragma once

#include "net/session/HostSessionState.h"

#include <cstdint>
#include <optional>

namespace TessaloyNet {

// Counts consecutive failures of listening for paired devices while nobody may be at the Mac, and
// turns a stop into the back-off before the next attempt to listen.
class UnattendedListening {
public:
    std::int64_t consecutiveFailures() const noexcept { return consecutiveFailures_; }

    void listening() noexcept { consecutiveFailures_ = 0; }
    void failed() noexcept;

    // Seconds to wait before listening again: 1, 2, 4, ... up to 60 by failure count; nullopt when
    // listening is off or the user stopped.
    std::optional<double> restartDelay(const HostSessionState::StopReason& after, bool enabled) const;

private:
    std::int64_t consecutiveFailures_ = 0;
};

} // namespace TessaloyNet
