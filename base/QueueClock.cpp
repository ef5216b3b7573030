#include "base/QueueClock.h"

#include <asio/dispatch.hpp>
#include <asio/steady_timer.hpp>

#include <memory>
#include <system_error>

namespace TessaloyBase {
namespace {

class SteadyQueueClock final : public QueueClock {
public:
    Instant now() const override { return std::chrono::steady_clock::now(); }

    ScheduledCall after(SerialQueue& queue, Duration delay, std::function<void()> work) override {
        auto state = std::make_shared<ScheduledCall::State>();
        auto timer = std::make_shared<asio::steady_timer>(
            queue.executor(), std::chrono::duration_cast<std::chrono::steady_clock::duration>(delay));
        // Called off, the timer ends its wait at once, so what `work` holds goes then rather than
        // when it would have fired.
        state->release = [executor = queue.executor(), weak = std::weak_ptr(timer)] {
            asio::dispatch(executor, [weak] {
                if (const auto live = weak.lock()) live->cancel();
            });
        };
        timer->async_wait([timer, state, work = std::move(work)](const std::error_code& error) {
            if (!error && !state->cancelled) work();
        });
        return ScheduledCall(std::move(state));
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
