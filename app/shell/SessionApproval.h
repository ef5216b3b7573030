#pragma once

#include "app/runtime/CancellationToken.h"
#include "app/shell/SessionContext.h"
#include "core/CaseError.h"
#include "core/QualityRung.h"
#include "core/VideoCodec.h"
#include "net/channel/PairedDevice.h"
#include "net/send/VideoSender.h"

#include <qcoro/qcorotask.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace Plovander {

class SessionAvailability;
class SessionCapture;
class SessionMessages;

enum class PairingFault { peerSentNoKey, noIdentity, limitReached };
const char* nameOf(PairingFault fault) noexcept;
const char* descriptionOf(PairingFault fault) noexcept;
using PairingFaultError = TessaloyCore::CaseError<PairingFault>;

// From a device the user approved, or a paired device admitted without a click, to a running
// session: the capture start, remembering the device and sending this Mac's key back.
// Main actor only.
class SessionApproval {
public:
    struct Collaborators {
        SessionCapture& sessionCapture;
        SessionMessages& messages;
        SessionAvailability& availability;
    };

    SessionApproval(const SessionContext& context, Collaborators collaborators);

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

    SessionContext c_;
    Collaborators own_;
};

} // namespace Plovander
