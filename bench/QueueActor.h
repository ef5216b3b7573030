#pragma once

#include "base/MainActor.h"
#include "base/QueueClock.h"
#include "base/SerialQueue.h"

#include <chrono>
#include <functional>

namespace Bench {

// The main actor of a benchmark: its own serial queue and real time.
class QueueActor final : public TessaloyBase::MainActor {
public:
    void post(std::function<void()> work) override { queue_.async(std::move(work)); }
    [[nodiscard]] TessaloyBase::ScheduledCall after(Duration delay, std::function<void()> work) override {
        return TessaloyBase::steadyQueueClock().after(queue_, delay, std::move(work));
    }
    Date now() const override { return std::chrono::system_clock::now(); }
    bool isCurrent() const override { return queue_.isCurrent(); }

private:
    TessaloyBase::SerialQueue queue_{"bench.main"};
};

} // namespace Bench
