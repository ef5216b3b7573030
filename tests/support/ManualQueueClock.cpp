#include "tests/support/ManualQueueClock.h"

#include <memory>

namespace Testing {

ManualQueueClock::Instant ManualQueueClock::now() const {
    std::lock_guard guard(lock_);
    return now_;
}

TessaloyBase::ScheduledCall ManualQueueClock::after(TessaloyBase::SerialQueue& queue, Duration delay,
                                                    std::function<void()> work) {
    auto state = std::make_shared<TessaloyBase::ScheduledCall::State>();
    {
        std::lock_guard guard(lock_);
        timers_.emplace(now_ + std::chrono::duration_cast<Instant::duration>(delay),
                        Timer{&queue, std::move(work), state, delay});
    }
    scheduled_.notify_all();
    return TessaloyBase::ScheduledCall(std::move(state));
}

void ManualQueueClock::advance(Duration delay) {
    std::unique_lock guard(lock_);
    const Instant target = now_ + std::chrono::duration_cast<Instant::duration>(delay);
    while (!timers_.empty() && timers_.begin()->first <= target) {
        auto due = timers_.extract(timers_.begin());
        now_ = due.key();
        guard.unlock();
        Timer& timer = due.mapped();
        // A cancelled timer's queue may be gone with its owner.
        if (!timer.state->cancelled) {
            timer.queue->sync([&] {
                if (!timer.state->cancelled) timer.work();
            });
        }
        guard.lock();
    }
    now_ = target;
}

std::size_t ManualQueueClock::pendingTimers() const {
    std::lock_guard guard(lock_);
    std::size_t count = 0;
    for (const auto& [due, timer] : timers_) count += timer.state->cancelled ? 0 : 1;
    return count;
}

bool ManualQueueClock::fire(double seconds, std::chrono::milliseconds patience) {
    std::unique_lock guard(lock_);
    if (!scheduled_.wait_for(guard, patience, [&] { return live(seconds) != timers_.end(); })) return false;
    auto due = timers_.extract(live(seconds));
    guard.unlock();
    Timer& timer = due.mapped();
    timer.queue->async([state = timer.state, work = std::move(timer.work)] {
        if (!state->cancelled) work();
    });
    return true;
}

bool ManualQueueClock::pending(double seconds, std::chrono::milliseconds patience) const {
    std::unique_lock guard(lock_);
    return scheduled_.wait_for(guard, patience, [&] { return live(seconds) != timers_.end(); });
}

ManualQueueClock::Timers::const_iterator ManualQueueClock::live(double seconds) const {
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (!it->second.state->cancelled && it->second.delay.count() == seconds) return it;
    }
    return timers_.end();
}

} // namespace Testing
