#pragma once

#include "base/QueueClock.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace Testing {

// A queue clock for tests: time stands still until `advance` moves it.
class ManualQueueClock final : public TessaloyBase::QueueClock {
public:
    Instant now() const override;
    [[nodiscard]] TessaloyBase::ScheduledCall after(TessaloyBase::SerialQueue& queue, Duration delay,
                                                    std::function<void()> work) override;

    // Moves time forward by `delay`, running each timer due on the way on its queue at its own
    // time, in order, and waiting for it. Not from a queue a timer runs on.
    void advance(Duration delay);
    // Timers not yet fired or cancelled.
    std::size_t pendingTimers() const;

    // Starts the earliest live timer scheduled with a delay of `seconds` on its queue, whatever its
    // due time, without moving time or waiting for it; waits up to `patience` for one to be
    // scheduled. False when none came. For code whose timers are asked for from its own queue.
    bool fire(double seconds, std::chrono::milliseconds patience = std::chrono::seconds(10));
    // Whether a live timer with a delay of `seconds` is pending, or is scheduled within `patience`.
    bool pending(double seconds, std::chrono::milliseconds patience = std::chrono::seconds(10)) const;

private:
    struct Timer {
        TessaloyBase::SerialQueue* queue;
        std::function<void()> work;
        std::shared_ptr<const TessaloyBase::ScheduledCall::State> state;
        Duration delay;
    };
    using Timers = std::multimap<Instant, Timer>;

    // The earliest live timer scheduled with a delay of `seconds`; under the lock.
    Timers::const_iterator live(double seconds) const;

    mutable std::mutex lock_;
    mutable std::condition_variable scheduled_;
    Timers timers_;
    Instant now_ = Instant(std::chrono::hours(1));
};

} // namespace Testing
