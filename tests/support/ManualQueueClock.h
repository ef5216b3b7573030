#pragma once

#include "base/QueueClock.h"

#include <map>
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

private:
    struct Timer {
        TessaloyBase::SerialQueue* queue;
        std::function<void()> work;
        TessaloyBase::ScheduledCall call;
    };

    mutable std::mutex lock_;
    std::multimap<Instant, Timer> timers_;
    Instant now_ = Instant(std::chrono::hours(1));
};

} // namespace Testing
