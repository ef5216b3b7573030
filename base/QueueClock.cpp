#include "base/QueueClock.h"

#include <asio/steady_timer.hpp>

#include <atomic>
#include <memory>
#include <system_error>

namespace TessaloyBase {
namespace {

class SteadyQueueClock final : public QueueClock {
public:
    Instant now() const override { return std::chrono::steady_clock::now(); }

    ScheduledCall after(SerialQueue& queue, Duration delay, std::function<void()> work) override {
        ScheduledCall call(std::make_shared<std::atomic<bool>>(false));
        auto timer = std::make_shared<asio::steady_timer>(
            queue.executor(), std::chrono::duration_cast<std::chrono::steady_clock::duration>(delay));
        // The handler keeps its timer alive; a cancelled call lets it run out and does nothing.
        timer->async_wait([timer, call, work = std::move(work)](const std::error_code& error) {
            if (!error && !call.isCancelled()) work();
        });
        return call;
    }
};

} // namespace

QueueClock& steadyQueueClock() {
    static SteadyQueueClock clock;
    return clock;
}

std::shared_ptr<QueueClock> sharedSteadyQueueClock() {
    return std::shared_ptr<QueueClock>(&steadyQueueClock(), [](QueueClock*) {});
}

} // namespace TessaloyBase
