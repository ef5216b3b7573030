#pragma once

#include "base/MainActor.h"
#include "base/SerialQueue.h"

#include <asio/steady_timer.hpp>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace Bench {

// The main actor of a benchmark: its own serial queue and real time.
class QueueActor final : public TessaloyBase::MainActor {
public:
    void post(std::function<void()> work) override { queue_.async(std::move(work)); }
    [[nodiscard]] TessaloyBase::ScheduledCall after(Duration delay, std::function<void()> work) override {
        TessaloyBase::ScheduledCall call(std::make_shared<std::atomic<bool>>(false));
        auto timer = std::make_shared<asio::steady_timer>(
            queue_.executor(), std::chrono::duration_cast<std::chrono::steady_clock::duration>(delay));
        timer->async_wait([timer, call, work = std::move(work)](const std::error_code& error) {
            if (!error && !call.isCancelled()) work();
        });
        return call;
    }
    Date now() const override { return std::chrono::system_clock::now(); }
    bool isCurrent() const override { return queue_.isCurrent(); }

private:
    TessaloyBase::SerialQueue queue_{"bench.main"};
};

} // namespace Bench
