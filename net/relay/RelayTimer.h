#pragma once

#include "base/MainActor.h"
#include "base/SerialQueue.h"

#include <chrono>
#include <functional>
#include <memory>

namespace TessaloyNet {

// Runs work on a queue after a delay: the relay client's back-off, keep-alive and connect time-out.
// Tests replace it with one whose time moves only when they say so.
class RelayTimer {
public:
    using Duration = std::chrono::duration<double>;

    virtual ~RelayTimer() = default;
    // Runs `work` on `queue` once `delay` has passed, unless cancelled first. Safe from any thread.
    [[nodiscard]] virtual TessaloyBase::ScheduledCall after(TessaloyBase::SerialQueue& queue, Duration delay,
                                                            std::function<void()> work) = 0;

    // Real time, with Asio timers.
    static std::shared_ptr<RelayTimer> system();
};

} // namespace TessaloyNet
