#include "app/shell/SessionCapture.h"

#include "app/capture/CaptureProbe.h"
#include "app/runtime/TaskHandle.h"
#include "app/services/InputInjector.h"
#include "app/shell/SessionAvailability.h"
#include "app/shell/SessionLink.h"
#include "app/shell/SessionModel.h"
#include "app/shell/StreamPreferences.h"
#include "app/trace/TraceLog.h"
#include "core/CursorUpdate.h"

#include <algorithm>
#include <utility>

namespace Plovander {

using StopReason = TessaloyNet::HostSessionState::StopReason;

SessionCapture::SessionCapture(const SessionContext& context, InputInjector& input, SessionAvailability& availability)
    : c_(context), input_(input), availability_(availability) {}

std::optional<TessaloyCore::WirePacket> SessionCapture::cursorUpdate(std::uint32_t sequence,
                                                                     Platform::Events::Point point,
                                                                     const Platform::ShareableDisplay::Bounds& bounds) {
    if (bounds.width <= 0 || bounds.height <= 0) return std::nullopt;
    const double x = std::clamp((point.x - bounds.x) / bounds.width, 0.0, 1.0);
    const double y = std::clamp((point.y - bounds.y) / bounds.height, 0.0, 1.0);
    const bool visible = point.x >= bounds.x && point.x < bounds.x + bounds.width && point.y >= bounds.y &&
                         point.y < bounds.y + bounds.height;
    try {
        return TessaloyCore::CursorUpdate(sequence, x, y, bounds.width, bounds.height, visible).packet();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void SessionCapture::startCaptureTask() {
    TaskHandle::detach([this, lifetime = c_.lifetime,
                        generation = c_.link.state.sessionGeneration()](CancellationToken) -> QCoro::Task<> {
        if (lifetime.isCancelled() || !c_.capture.isRunning() || c_.link.state.sessionGeneration() != generation)
            co_return;
        const bool qualityMatches =
            c_.capture.rung() && *c_.capture.rung() == c_.preferences.currentRung(c_.model.qualityMode);
        if (!qualityMatches || c_.capture.codec() != c_.preferences.preferredCodec()) {
            co_await restartCapture(std::string("applying ") + TessaloyCore::nameOf(c_.model.qualityMode.get()) +
                                    " quality chosen during startup");
        }
    });
}

QCoro::Task<bool> SessionCapture::restartCapture(std::string reason) {
    TraceLog::message([&] { return "restarting capture: " + reason; });
    const CancellationToken lifetime = c_.lifetime;
    const std::uint64_t generation = c_.link.state.sessionGeneration();
    const bool running =
        co_await c_.capture.restart(c_.preferences.currentRung(c_.model.qualityMode), c_.preferences.preferredCodec());
    if (lifetime.isCancelled()) co_return false;
    if (running && c_.link.localCursorEnabled) sendLocalPointer(c_.link.controlChannel);
    if (!running && c_.model.isSharing && c_.link.state.sessionGeneration() == generation) {
        availability_.stopSharing(StopReason::failed(c_.capture.status()));
    }
    co_return running;
}

void SessionCapture::restartInBackground(std::string reason, std::function<void()> afterwards) {
    // A device may change its mind many times a second: requests that come while one restart runs
    // merge into the next.
    if (!afterwards && waitingRestart_) afterwards = std::move(waitingRestart_->afterwards);
    waitingRestart_ = WaitingRestart{std::move(reason), std::move(afterwards)};
    TaskHandle& restarts = c_.link.captureRestart;
    if (restarts.isRunning() && !restarts.isCancelled()) return;
    restarts = TaskHandle::start([this, lifetime = c_.lifetime](CancellationToken token) -> QCoro::Task<> {
        while (!lifetime.isCancelled() && !token.isCancelled() && waitingRestart_) {
            const WaitingRestart next = *std::exchange(waitingRestart_, std::nullopt);
            co_await restartCapture(next.reason);
            if (!lifetime.isCancelled() && next.afterwards) next.afterwards();
        }
    });
}

std::optional<Platform::ShareableDisplay::Bounds> SessionCapture::sharedDisplayBounds() const {
    for (const auto& display : c_.capture.displays()) {
        if (display.displayID == c_.capture.selectedDisplayID()) return display.bounds;
    }
    return std::nullopt;
}

void SessionCapture::sendLocalPointer(const std::shared_ptr<TessaloyNet::PacketChannel>& channel) {
    const auto bounds = sharedDisplayBounds();
    if (!channel || !bounds) return;
    input_.readPointer([weak = std::weak_ptr<TessaloyNet::PacketChannel>(channel),
                        bounds = *bounds](std::optional<Platform::Events::Point> point) {
        const auto live = weak.lock();
        if (!point || !live) return;
        if (auto packet = cursorUpdate(0, *point, bounds)) live->sendDirect(std::move(*packet));
    });
}

} // namespace Plovander
