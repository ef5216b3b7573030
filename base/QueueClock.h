#pragma once

#include "base/MainActor.h"
#include "base/SerialQueue.h"

#include <chrono>
#include <functional>
#include <memory>

namespace TessaloyBase {

// Timers that fire on a serial queue, on a monotonic clock: work that runs on a queue is paced
// there, without a hop through the main actor, and a clock set by the user moves none of it. Tests
// use a manual clock whose time only moves when they say so.
class QueueClock {
public:
    using Duration = std::chrono::duration<double>;
    using Instant = std::chrono::steady_clock::time_point;

    virtual ~QueueClock() = default;

    // Monotonic; any thread.
    virtual Instant now() const = 0;
    // Runs `work` on `queue` once `delay` has passed, unless cancelled first. Any thread; the queue
    // must outlive the call.
    [[nodiscard]] virtual ScheduledCall after(SerialQueue& queue, Duration delay, std::function<void()> work) = 0;
};

// The process's queue clock: std::chrono::steady_clock, with Asio timers bound to the queue.
QueueClock& steadyQueueClock();
// The same clock for owners that hold their clock by shared_ptr; it owns nothing.
std::shared_ptr<QueueClock> sharedSteadyQueueClock();

} // namespace TessaloyBase
