#pragma once

#include "app/runtime/TaskHandle.h"
#include "app/shell/SessionContext.h"
#include "net/channel/HostListener.h"
#include "net/reach/UnattendedListening.h"
#include "net/session/HostSessionState.h"

#include <qcoro/qcorotask.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace TessaloyBase {
class MainActor;
}

namespace Plovander {

class PointerShapeWatcher;
class Reachability;

// When the Mac listens, and the end of every session: sharing with a code, availability to paired
// devices with its retries, and the one stop path with what follows it. Main actor only.
class SessionAvailability {
public:
    using StopReason = TessaloyNet::HostSessionState::StopReason;
    using Dispatch = std::function<void(const TessaloyNet::HostListener::Event&)>;

    struct Collaborators {
        PointerShapeWatcher& pointerShapes;
        Reachability& reachability;
        std::uint16_t listenPort;
        // The context's trust store, for the listeners to share.
        std::shared_ptr<const TessaloyNet::PairedDeviceStore> trusted;
        // Where the current listener's events go, on the main actor.
        Dispatch dispatch;
    };

    SessionAvailability(const SessionContext& context, Collaborators collaborators);
    ~SessionAvailability();

    // Offers a code on this network; a session that holds a device ends first.
    QCoro::Task<> startSharing(std::string displayName);
    void stopSharing(StopReason reason);
    // Listens for paired devices, or stops doing so, as the settings and the state want.
    QCoro::Task<> updateAvailability();
    void retryAfterSetupProblem();
    // Capture cannot start yet: tries again after the back-off.
    void scheduleCaptureRetry();

    // The listener for paired devices is up, or it stopped by itself (returns the failure count).
    void listening();
    std::int64_t listeningFailed();

    // Stops the listener; a start asked for before it reported `stopped` waits for that.
    void stopListener();

private:
    TessaloyBase::MainActor& actor() const;
    void startListener(std::optional<TessaloyNet::PairingOffer> offer, const std::string& displayName);
    // The retiring listener reported `stopped`: the start held meanwhile runs.
    void retired();
    void expireOffer();
    // A code is offered, a device waits for approval or a session runs.
    bool isBusy() const;
    bool holdsADevice() const;
    void endChannels(const StopReason& reason);
    void scheduleReturnToListening(const StopReason& reason);
    // Decides again at once whether to listen for paired devices.
    void resumeAvailability();

    SessionContext c_;
    Collaborators own_;
    TessaloyNet::UnattendedListening unattended_;
    TaskHandle expiryTask_;
    TaskHandle captureRetry_;
    // Stopped but not yet reported `stopped` on the main actor; until then it may hold the port.
    std::shared_ptr<TessaloyNet::HostListener> retiring_;
    // The latest listener start asked for while one retires.
    std::function<void()> heldStart_;
    // The current listener reported `stopped` by itself.
    bool listenerEnded_ = false;
};

} // namespace Plovander
