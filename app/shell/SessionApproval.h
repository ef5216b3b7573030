#pragma once

#include "app/runtime/CancellationToken.h"
#include "core/CaseError.h"
#include "core/QualityRung.h"
#include "core/VideoCodec.h"
#include "net/channel/DeviceIdentity.h"
#include "net/channel/PairedDevice.h"
#include "net/channel/PairedDeviceStore.h"
#include "net/send/VideoSender.h"

#include <qcoro/qcorotask.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace Platform {
class Environment;
}

namespace Plovander {

class CaptureProbe;
class HostTransfers;
class SessionAvailability;
class SessionCapture;
class SessionEffects;
class SessionMessages;
class SessionModel;
class StreamPreferences;
struct SessionLink;

enum class PairingFault { peerSentNoKey, noIdentity, limitReached };
const char* nameOf(PairingFault fault) noexcept;
const char* descriptionOf(PairingFault fault) noexcept;
using PairingFaultError = TessaloyCore::CaseError<PairingFault>;

// From a device the user approved, or a paired device admitted without a click, to a running
// session: the capture start, remembering the device and sending this Mac's key back.
// Main actor only.
class SessionApproval : public std::enable_shared_from_this<SessionApproval> {
public:
    struct Collaborators {
        Platform::Environment& environment;
        SessionModel& model;
        SessionLink& link;
        StreamPreferences& preferences;
        SessionEffects& effects;
        CaptureProbe& capture;
        SessionCapture& sessionCapture;
        SessionMessages& messages;
        SessionAvailability& availability;
        TessaloyNet::PairedDeviceStore& trusted;
        const std::optional<TessaloyNet::DeviceIdentity>& identity;
        HostTransfers& transfers;
    };

    explicit SessionApproval(Collaborators collaborators);

    void approvePeer();
    void declinePeer();
    void admitPairedDevice(const TessaloyNet::PairedDevice& device);

private:
    std::shared_ptr<TessaloyNet::VideoSender> markApproved();
    // Starts capture for the session just approved, in `startupTask`.
    void startStreaming(std::string peerName, bool completesPairing);
    QCoro::Task<> finishApproval(std::shared_ptr<TessaloyNet::VideoSender> sender, TessaloyCore::QualityRung rung,
                                 TessaloyCore::VideoCodec codec, std::uint64_t generation, std::string peerName,
                                 CancellationToken token, bool completesPairing);
    void completePairing(const std::shared_ptr<TessaloyNet::VideoSender>& sender, const std::string& peerName);
    void startSession(const std::shared_ptr<TessaloyNet::VideoSender>& sender, const std::string& peerName);
    void applyAvailabilityChoiceAtApproval();

    Collaborators c_;
};

} // namespace Plovander
