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

namespace Plovander {

using StopReason = TessaloyNet::HostSessionState::StopReason;

SessionCapture::SessionCapture(CaptureProbe& capture, SessionModel& model, SessionLink& link,
                               StreamPreferences& preferences, InputInjector& input, SessionAvailability& availability)
    : capture_(capture),
      model_(model),
      link_(link),
      preferences_(preferences),
      input_(input),
      availability_(availability) {}

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
    TaskHandle::detach([this, weak = weak_from_this(),
                        generation = link_.state.sessionGeneration()](CancellationToken) -> QCoro::Task<> {
        if (!weak.lock() || !capture_.isRunning() || link_.state.sessionGeneration() != generation) co_return;
        const bool qualityMatches = capture_.rung() && *capture_.rung() == preferences_.currentRung(model_.qualityMode);
        if (!qualityMatches || capture_.codec() != preferences_.preferredCodec()) {
            co_await restartCapture(std::string("applying ") + TessaloyCore::nameOf(model_.qualityMode.get()) +
                                    " quality chosen during startup");
        }
    });
}

QCoro::Task<bool> SessionCapture::restartCapture(std::string reason) {
    TraceLog::message([&] { return "restarting capture: " + reason; });
    const std::weak_ptr<SessionCapture> weak = weak_from_this();
    const std::uint64_t generation = link_.state.sessionGeneration();
    const bool running =
        co_await capture_.restart(preferences_.currentRung(model_.qualityMode), preferences_.preferredCodec());
    if (!weak.lock()) co_return false;
    if (running && link_.localCursorEnabled) sendLocalPointer(link_.controlChannel);
    if (!running && model_.isSharing && link_.state.sessionGeneration() == generation) {
        availability_.stopSharing(StopReason::failed(capture_.status()));
    }
    co_return running;
}

void SessionCapture::restartInBackground(std::string reason) {
    TaskHandle::detach([this, weak = weak_from_this(), reason = std::move(reason)](CancellationToken) -> QCoro::Task<> {
        if (weak.lock()) co_await restartCapture(reason);
    });
}

std::optional<Platform::ShareableDisplay::Bounds> SessionCapture::sharedDisplayBounds() const {
    for (const auto& display : capture_.displays()) {
        if (display.displayID == capture_.selectedDisplayID()) return display.bounds;
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
