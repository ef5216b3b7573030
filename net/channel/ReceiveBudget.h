#pragma once

#include <chrono>

namespace TessaloyNet {

struct ReceiveBudgetLimits {
    double packetsPerSecond = 240;
    double burstPackets = 720;
};

// How many packets a peer may send: a token bucket that refills at `packetsPerSecond` up to
// `burstPackets`, full at the start. A plain value; the caller gives the time.
class ReceiveBudget {
public:
    using Clock = std::chrono::steady_clock;

    using Limits = ReceiveBudgetLimits;

    explicit ReceiveBudget(Limits limits = {}) : limits_(limits), tokens_(limits.burstPackets) {}

    // Counts one packet received at `now`; false when it exceeds the budget.
    bool admit(Clock::time_point now);

    const Limits& limits() const noexcept { return limits_; }

private:
    Limits limits_;
    double tokens_;
    Clock::time_point last_{};
    bool started_ = false;
};

} // namespace TessaloyNet
