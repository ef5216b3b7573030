#include "tests/support/ManualMainActor.h"

#include <algorithm>

namespace Testing {

ManualMainActor::Date ManualMainActor::defaultStart() {
    // 2026-01-01T00:00:00Z: a fixed start keeps dates in test output stable.
    return Date(std::chrono::seconds(1'767'225'600));
}

ManualMainActor::ManualMainActor(Date start) : now_(start), owner_(std::this_thread::get_id()) {}

void ManualMainActor::post(std::function<void()> work) {
    {
        std::lock_guard guard(lock_);
        queue_.push_back(std::move(work));
    }
    posted_.notify_all();
}

TessaloyBase::ScheduledCall ManualMainActor::after(Duration delay, std::function<void()> work) {
    auto state = std::make_shared<TessaloyBase::ScheduledCall::State>();
    std::lock_guard guard(lock_);
    const auto due = now_ + std::chrono::duration_cast<Date::duration>(std::max(delay, Duration(0)));
    timers_.emplace(due, Timer{std::move(work), state});
    return TessaloyBase::ScheduledCall(std::move(state));
}

ManualMainActor::Date ManualMainActor::now() const {
    std::lock_guard guard(lock_);
    return now_;
}

bool ManualMainActor::isCurrent() const { return std::this_thread::get_id() == owner_; }

bool ManualMainActor::runOne() {
    std::function<void()> work;
    {
        std::lock_guard guard(lock_);
        if (!queue_.empty()) {
            work = std::move(queue_.front());
            queue_.pop_front();
        } else {
            while (!timers_.empty() && timers_.begin()->first <= now_) {
                Timer timer = std::move(timers_.begin()->second);
                timers_.erase(timers_.begin());
                if (timer.state->cancelled) continue;
                work = std::move(timer.work);
                break;
            }
        }
    }
    if (!work) return false;
    work();
    return true;
}

std::size_t ManualMainActor::runUntilIdle() {
    std::size_t count = 0;
    while (runOne()) ++count;
    return count;
}

void ManualMainActor::advance(Duration delay) {
    const auto end = now() + std::chrono::duration_cast<Date::duration>(delay);
    for (;;) {
        runUntilIdle();
        std::unique_lock guard(lock_);
        auto next = std::find_if(timers_.begin(), timers_.end(),
                                 [](const auto& entry) { return !entry.second.state->cancelled; });
        if (next == timers_.end() || next->first > end) break;
        now_ = std::max(now_, next->first);
    }
    {
        std::lock_guard guard(lock_);
        now_ = end;
    }
    runUntilIdle();
}

bool ManualMainActor::runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // What `done` reads may change on other threads without posting anything here: look again
    // every few milliseconds as well as whenever work arrives.
    constexpr std::chrono::milliseconds lookAgain{5};
    for (;;) {
        runUntilIdle();
        if (done()) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        std::unique_lock guard(lock_);
        posted_.wait_until(guard, std::min(deadline, now + lookAgain), [this] { return !queue_.empty(); });
    }
}

std::size_t ManualMainActor::pendingTimers() const {
    std::lock_guard guard(lock_);
    return static_cast<std::size_t>(std::count_if(timers_.begin(), timers_.end(),
                                                  [](const auto& entry) { return !entry.second.state->cancelled; }));
}

} // namespace Testing
