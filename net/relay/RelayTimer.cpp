#include "net/relay/RelayTimer.h"

#include <asio/steady_timer.hpp>

#include <atomic>

namespace TessaloyNet {

namespace {

class SystemRelayTimer final : public RelayTimer {
public:
    TessaloyBase::ScheduledCall after(TessaloyBase::SerialQueue& queue, Duration delay,
                                      std::function<void()> work) override {
        auto cancelled = std::make_shared<std::atomic<bool>>(false);
        auto timer = std::make_shared<asio::steady_timer>(queue.executor());
        timer->expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(delay));
        timer->async_wait([timer, cancelled, work = std::move(work)](std::error_code) {
            if (!cancelled->load()) work();
        });
        return TessaloyBase::ScheduledCall(std::move(cancelled));
    }
};

} // namespace

std::shared_ptr<RelayTimer> RelayTimer::system() { return std::make_shared<SystemRelayTimer>(); }

} // namespace TessaloyNet
