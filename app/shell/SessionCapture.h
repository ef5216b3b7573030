#pragma once

#include "app/shell/SessionContext.h"
#include "core/QualityMode.h"
#include "core/WirePacket.h"
#include "net/channel/PacketChannel.h"
#include "platform/Events.h"
#include "platform/ShareableDisplay.h"

#include <qcoro/qcorotask.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Plovander {

class InputInjector;
class SessionAvailability;

// The capture of a running session: restarts with the device's current choices, and where the
// pointer is for a device that draws it itself. Main actor only.
class SessionCapture {
public:
    SessionCapture(const SessionContext& context, InputInjector& input, SessionAvailability& availability);

    // The device's view of where the pointer is: `point` (desktop coordinates) placed inside the
    // shared display's `bounds`. Nothing for empty bounds.
    static std::optional<TessaloyCore::WirePacket> cursorUpdate(std::uint32_t sequence, Platform::Events::Point point,
                                                                const Platform::ShareableDisplay::Bounds& bounds);

    // Applies what was chosen while capture was starting for a new session.
    void startCaptureTask();
    // Restarts with the current quality and codec; a failure ends the session. Returns whether
    // capture runs.
    QCoro::Task<bool> restartCapture(std::string reason);
    // Restarts for a quality mode, a codec or a display chosen while sharing, with the choices of the
    // moment it begins: one runs at a time, and of the requests that come meanwhile only the latest
    // waits, followed by the latest `afterwards` any of them asked for. The session's stop calls them
    // off (SessionLink::captureRestart).
    void restartInBackground(std::string reason, std::function<void()> afterwards = {});
    // Sends the pointer's current position on `channel`.
    void sendLocalPointer(const std::shared_ptr<TessaloyNet::PacketChannel>& channel);
    std::optional<Platform::ShareableDisplay::Bounds> sharedDisplayBounds() const;

private:
    SessionContext c_;
    InputInjector& input_;
    SessionAvailability& availability_;
    // The restart that waits for the running one.
    struct WaitingRestart {
        std::string reason;
        std::function<void()> afterwards;
    };
    std::optional<WaitingRestart> waitingRestart_;
};

} // namespace Plovander
