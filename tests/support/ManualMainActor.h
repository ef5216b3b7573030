#pragma once

#include "base/MainActor.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace Testing {

// A main actor for tests: time stands still until `advance` moves it, and posted work runs only
// inside `runUntilIdle`, `advance` or `runUntil`, on the thread that created the actor.
class ManualMainActor final : public TessaloyBase::MainActor {
public:
    static Date defaultStart();

    explicit ManualMainActor(Date start = defaultStart());

    void post(std::function<void()> work) override;
    [[nodiscard]] TessaloyBase::ScheduledCall after(Duration delay, std::function<void()> work) override;
    Date now() const override;
    bool isCurrent() const override;

    // Runs posted work and timers due now until there is none; returns how many items ran.
    std::size_t runUntilIdle();
    // Moves time forward by `delay`, firing each timer at its own time in order.
    void advance(Duration delay);
    // Runs work (also work posted from other threads) until `done` holds or `limit` of real time
    // passed, looking at `done` after each piece of work and every few milliseconds; returns
    // whether `done` held.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds limit = std::chrono::milliseconds(10'000));
    // Timers not yet fired or cancelled.
    std::size_t pendingTimers() const;

private:
    struct Timer {
        std::function<void()> work;
        std::shared_ptr<const TessaloyBase::ScheduledCall::State> state;
    };

    bool runOne();

    mutable std::mutex lock_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> queue_;
    std::multimap<Date, Timer> timers_;
    Date now_;
    std::thread::id owner_;
};

} // namespace Testing
