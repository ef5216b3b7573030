// From an approved or paired device to a running session: capture, remembering the device and
// sending this Mac's key back.
#include "app/capture/CaptureProbe.h"
#include "app/shell/Settings.h"
#include "app/shell/StreamingSession.h"
#include "app/trace/TraceLog.h"
#include "base/MainActor.h"
#include "core/QualityRung.h"
#include "core/UnicodeText.h"
#include "net/channel/PairingExchange.h"
#include "net/channel/SelfSignedCertificate.h"
#include "platform/UserDefaults.h"

#include <algorithm>

namespace Plovander {
namespace {

using Phase = TessaloyNet::HostSessionState::Phase;
using StopReason = TessaloyNet::HostSessionState::StopReason;

} // namespace

void StreamingSession::approvePeer() {
    assertOnMainActor();
    TraceLog::message("approvePeer pressed");
    if (!pendingPeerName_) {
        TraceLog::message("approval refused: no pending peer");
        return;
    }
    const std::string peerName = *pendingPeerName_;
    const auto sender = markApproved();
    if (!sender) return;
    ladder_ = TessaloyCore::QualityLadder(TessaloyCore::QualityRung::ladder(qualityMode_).size());
    startupTask_ = TaskHandle::start([this, sender, rung = currentRung(), codec = preferredCodec(),
                                      generation = state_.sessionGeneration(),
                                      peerName](CancellationToken token) -> QCoro::Task<> {
        co_await finishApproval(sender, rung, codec, generation, peerName, token, true);
    });
}

std::shared_ptr<TessaloyNet::VideoSender> StreamingSession::markApproved() {
    if (!pendingPeerName_ || !sender_) return nullptr;
    try {
        state_.approve();
    } catch (const std::exception& error) {
        stopSharing(StopReason::failed(error.what()));
        return nullptr;
    }
    return sender_;
}

void StreamingSession::admitPairedDevice(const TessaloyNet::PairedDevice& device) {
    state_.startOffering(actor_.now());
    state_.beginHandshake(actor_.now());
    state_.handshakeSucceeded(device.name);
    state_.approve();
    setPendingPeerName(std::nullopt);
    setPairingCode(std::nullopt);
    ladder_ = TessaloyCore::QualityLadder(TessaloyCore::QualityRung::ladder(qualityMode_).size());
    startupTask_ = TaskHandle::start([this, sender = sender_, rung = currentRung(), codec = preferredCodec(),
                                      generation = state_.sessionGeneration(),
                                      name = device.name](CancellationToken token) -> QCoro::Task<> {
        co_await finishApproval(sender, rung, codec, generation, name, token, false);
    });
}

QCoro::Task<> StreamingSession::finishApproval(std::shared_ptr<TessaloyNet::VideoSender> sender,
                                               TessaloyCore::QualityRung rung, TessaloyCore::VideoCodec codec,
                                               std::uint64_t generation, std::string peerName, CancellationToken token,
                                               bool completesPairing) {
    const std::weak_ptr<bool> alive = alive_;
    co_await capture_.start(sender, rung, codec);
    if (!alive.lock()) co_return;
    const bool stillThisSession =
        !token.isCancelled() && state_.sessionGeneration() == generation && state_.phase().is<Phase::Streaming>();
    if (!stillThisSession) {
        TraceLog::message("capture start abandoned: the session ended while it was starting");
        // A newer session may already have started its own capture; that one is not ours to stop.
        if (state_.sessionGeneration() == generation) co_await capture_.stop();
        co_return;
    }
    TraceLog::message([&] {
        return "capture.isRunning=" + std::string(capture_.isRunning() ? "true" : "false") +
               " status=" + capture_.status();
    });
    if (!capture_.isRunning()) {
        stopSharing(StopReason::failed(capture_.status()));
        co_return;
    }
    if (completesPairing) completePairing(sender, peerName);
    startSession(sender, peerName);
}

void StreamingSession::completePairing(const std::shared_ptr<TessaloyNet::VideoSender>& sender,
                                       const std::string& peerName) {
    try {
        if (!pendingPeerKey_) throw PairingFaultError(PairingFault::peerSentNoKey);
        if (!identity_) throw PairingFaultError(PairingFault::noIdentity);
        const TessaloyNet::PairingExchange theirs(*pendingPeerKey_, peerName);
        // This Mac's own exchange is built before the device is stored, so that no device is
        // remembered that never got this Mac's key.
        const std::string hostName = environment_.hostName();
        const TessaloyNet::PairingExchange ours(
            identity_->publicKey(),
            std::string(TessaloyCore::leadingBytes(hostName.empty() ? "Mac" : hostName,
                                                   TessaloyNet::PairingExchange::maximumNameBytes)));
        const bool alreadyPaired = std::any_of(pairedDevices_.begin(), pairedDevices_.end(), [&](const auto& device) {
            return TessaloyNet::SelfSignedCertificate::matches(device.publicKey, theirs.publicKey());
        });
        if (!alreadyPaired && pairedDevices_.size() >= TessaloyNet::PairingLimits::devicesPerMac) {
            throw PairingFaultError(PairingFault::limitReached);
        }
        const TessaloyCore::WirePacket packet = ours.packet();
        trusted_.add(
            {.publicKey = theirs.publicKey(), .name = theirs.name(), .pairedAt = actor_.now(), .lastSeenAt = {}});
        reloadPairedDevices();
        applyAvailabilityChoiceAtApproval();
        sender->sendControl(packet);
        TraceLog::message([&] { return "stored " + peerName + " and sent this Mac's key back"; });
    } catch (const PairingFaultError& fault) {
        if (fault.value() == PairingFault::peerSentNoKey) {
            TraceLog::message("no durable key from this peer; nothing to pair");
        } else if (fault.value() == PairingFault::limitReached) {
            TraceLog::message([&] { return "pairing limit reached; " + peerName + " not remembered"; });
            setLastRejection(pairingLimitText());
        } else {
            TraceLog::message([&] { return "PAIRING NOT STORED for " + peerName + ": " + fault.caseName(); });
            setLastRejection(peerName + " was not remembered, so it will need a code again.");
        }
    } catch (const std::exception& error) {
        TraceLog::message([&] { return "PAIRING NOT STORED for " + peerName + ": " + error.what(); });
        setLastRejection(peerName + " was not remembered, so it will need a code again.");
    }
}

void StreamingSession::startSession(const std::shared_ptr<TessaloyNet::VideoSender>& sender,
                                    const std::string& peerName) {
    sender->attach();
    setSharing(true);
    updateSleepGuard();
    transfers_->attach(sender);
    startCaptureTask();
    sendReachabilityInfo();
    setConnectedPeerName(peerName);
    setPendingPeerName(std::nullopt);
    setPhaseDescription("Sharing this display.");
}

void StreamingSession::applyAvailabilityChoiceAtApproval() {
    if (listensAutomatically_ || defaults_.boolean(Settings::availabilityChosen).has_value()) return;
    defaults_.setBoolean(Settings::availabilityChosen, true);
    defaults_.setBoolean(Settings::listenForPairedDevices, keepsAvailableOnApproval_);
    if (keepsAvailableOnApproval_ != listensAutomatically_) {
        listensAutomatically_ = keepsAvailableOnApproval_;
        Q_EMIT listensAutomaticallyChanged();
    }
}

void StreamingSession::startCaptureTask() {
    TaskHandle::start([this, alive = std::weak_ptr<bool>(alive_),
                       generation = state_.sessionGeneration()](CancellationToken) -> QCoro::Task<> {
        if (!alive.lock() || !capture_.isRunning() || state_.sessionGeneration() != generation) co_return;
        const bool qualityMatches = capture_.rung() && *capture_.rung() == currentRung();
        if (!qualityMatches || capture_.codec() != preferredCodec()) {
            co_await restartCapture(std::string("applying ") + TessaloyCore::nameOf(qualityMode_) +
                                    " quality chosen during startup");
        }
    });
}

QCoro::Task<bool> StreamingSession::restartCapture(std::string reason) {
    TraceLog::message([&] { return "restarting capture: " + reason; });
    const std::weak_ptr<bool> alive = alive_;
    const std::uint64_t generation = state_.sessionGeneration();
    const bool running = co_await capture_.restart(currentRung(), preferredCodec());
    if (!alive.lock()) co_return false;
    if (running && localCursorEnabled_) sendLocalPointer(controlChannel_);
    if (!running && isSharing_ && state_.sessionGeneration() == generation) {
        stopSharing(StopReason::failed(capture_.status()));
    }
    co_return running;
}

TessaloyCore::VideoCodec StreamingSession::preferredCodec() const {
    return deviceCodecs_.contains(TessaloyCore::VideoCodec::hevc) ? TessaloyCore::VideoCodec::hevc
                                                                  : TessaloyCore::VideoCodec::h264;
}

TessaloyCore::QualityRung StreamingSession::currentRung() const {
    const auto rungs = TessaloyCore::QualityRung::ladder(qualityMode_);
    return rungs[std::min(ladder_.rung(), rungs.size() - 1)];
}

} // namespace Plovander
