#include "app/shell/SessionApproval.h"

#include "app/capture/CaptureProbe.h"
#include "app/runtime/TaskHandle.h"
#include "app/shell/SessionAvailability.h"
#include "app/shell/SessionCapture.h"
#include "app/shell/SessionEffects.h"
#include "app/shell/SessionLink.h"
#include "app/shell/SessionMessages.h"
#include "app/shell/SessionModel.h"
#include "app/shell/Settings.h"
#include "app/shell/StopSentences.h"
#include "app/shell/StreamPreferences.h"
#include "app/trace/TraceLog.h"
#include "app/transfers/HostTransfers.h"
#include "base/MainActor.h"
#include "core/UnicodeText.h"
#include "net/channel/PairedDeviceStore.h"
#include "net/channel/PairingExchange.h"
#include "net/channel/PairingLimits.h"
#include "net/channel/SelfSignedCertificate.h"
#include "platform/Environment.h"
#include "platform/UserDefaults.h"

#include <algorithm>

namespace Plovander {
namespace {

using StopReason = TessaloyNet::HostSessionState::StopReason;

} // namespace

const char* nameOf(PairingFault fault) noexcept {
    switch (fault) {
        case PairingFault::peerSentNoKey:
            return "peerSentNoKey";
        case PairingFault::noIdentity:
            return "noIdentity";
        case PairingFault::limitReached:
            return "limitReached";
    }
    return "unknown";
}

const char* descriptionOf(PairingFault fault) noexcept {
    switch (fault) {
        case PairingFault::peerSentNoKey:
            return "The device sent no key to remember it by.";
        case PairingFault::noIdentity:
            return "This Mac's identity is not loaded.";
        case PairingFault::limitReached:
            return "This Mac already has its most paired devices.";
    }
    return "The device could not be paired.";
}

SessionApproval::SessionApproval(const SessionContext& context, Collaborators collaborators)
    : c_(context), own_(std::move(collaborators)) {}

void SessionApproval::approvePeer() {
    TraceLog::message("approvePeer pressed");
    if (!c_.model.pendingPeerName.get()) {
        TraceLog::message("approval refused: no pending peer");
        return;
    }
    const std::string peerName = *c_.model.pendingPeerName.get();
    if (!markApproved()) return;
    startStreaming(peerName, true);
}

std::shared_ptr<TessaloyNet::VideoSender> SessionApproval::markApproved() {
    if (!c_.model.pendingPeerName.get() || !c_.link.sender) return nullptr;
    try {
        c_.link.state.approve();
    } catch (const std::exception& error) {
        own_.availability.stopSharing(StopReason::failed(TessaloyCore::describe(error)));
        return nullptr;
    }
    return c_.link.sender;
}

void SessionApproval::declinePeer() {
    if (c_.link.state.phase().is<TessaloyNet::HostSessionState::Phase::AwaitingApproval>()) c_.link.state.reject();
    c_.model.pendingPeerName.set(std::nullopt);
    own_.availability.stopSharing(StopReason::rejected());
}

void SessionApproval::admitPairedDevice(const TessaloyNet::PairedDevice& device) {
    const auto now = c_.environment.mainActor().now();
    c_.link.state.startOffering(now);
    c_.link.state.beginHandshake(now);
    c_.link.state.handshakeSucceeded(device.name);
    c_.link.state.approve();
    c_.model.pendingPeerName.set(std::nullopt);
    c_.model.clearPairingCode();
    startStreaming(device.name, false);
}

void SessionApproval::startStreaming(std::string peerName, bool completesPairing) {
    const TessaloyCore::QualityMode mode = c_.model.qualityMode;
    c_.preferences.restartLadder(mode);
    c_.link.startupTask = TaskHandle::start(
        [this, lifetime = c_.lifetime, sender = c_.link.sender, rung = c_.preferences.currentRung(mode),
         codec = c_.preferences.preferredCodec(), generation = c_.link.state.sessionGeneration(),
         peerName = std::move(peerName), completesPairing](CancellationToken token) -> QCoro::Task<> {
            if (!lifetime.isCancelled())
                co_await finishApproval(sender, rung, codec, generation, peerName, token, completesPairing);
        });
}

QCoro::Task<> SessionApproval::finishApproval(std::shared_ptr<TessaloyNet::VideoSender> sender,
                                              TessaloyCore::QualityRung rung, TessaloyCore::VideoCodec codec,
                                              std::uint64_t generation, std::string peerName, CancellationToken token,
                                              bool completesPairing) {
    const CancellationToken lifetime = c_.lifetime;
    co_await c_.capture.start(sender, rung, codec);
    if (lifetime.isCancelled()) co_return;
    // A cancelled start was already let go by the stop that cancelled it.
    if (!token.isCancelled()) c_.link.startupTask = {};
    const bool stillThisSession =
        !token.isCancelled() && c_.link.state.sessionGeneration() == generation && c_.link.isStreaming();
    if (!stillThisSession) {
        TraceLog::message("capture start abandoned: the session ended while it was starting");
        // A newer session may already have started its own capture; that one is not ours to stop.
        if (c_.link.state.sessionGeneration() == generation) co_await c_.capture.stop();
        co_return;
    }
    TraceLog::message([&] {
        return "capture.isRunning=" + std::string(c_.capture.isRunning() ? "true" : "false") +
               " status=" + c_.capture.status();
    });
    if (!c_.capture.isRunning()) {
        own_.availability.stopSharing(StopReason::failed(c_.capture.status()));
        co_return;
    }
    if (completesPairing) completePairing(sender, peerName);
    startSession(sender, peerName);
}

void SessionApproval::completePairing(const std::shared_ptr<TessaloyNet::VideoSender>& sender,
                                      const std::string& peerName) {
    const auto notRemembered = [&](const std::string& why) {
        TraceLog::message([&] { return "PAIRING NOT STORED for " + peerName + ": " + why; });
        c_.model.lastRejection.set(peerName + " was not remembered, so it will need a code again.");
    };
    try {
        if (!c_.link.pendingPeerKey) throw PairingFaultError(PairingFault::peerSentNoKey);
        if (!c_.identity) throw PairingFaultError(PairingFault::noIdentity);
        const TessaloyNet::PairingExchange theirs(*c_.link.pendingPeerKey, peerName);
        // This Mac's own exchange is built before the device is stored, so that no device is
        // remembered that never got this Mac's key.
        const TessaloyNet::PairingExchange ours(
            c_.identity->publicKey(),
            std::string(TessaloyCore::leadingBytes(shownName(c_.environment.hostName()),
                                                   TessaloyNet::PairingExchange::maximumNameBytes)));
        const auto& paired = c_.model.pairedDevices.get();
        const bool alreadyPaired = std::any_of(paired.begin(), paired.end(), [&](const auto& device) {
            return TessaloyNet::SelfSignedCertificate::matches(device.publicKey, theirs.publicKey());
        });
        if (!alreadyPaired && paired.size() >= TessaloyNet::PairingLimits::devicesPerMac) {
            throw PairingFaultError(PairingFault::limitReached);
        }
        const TessaloyCore::WirePacket packet = ours.packet();
        c_.trusted.add({.publicKey = theirs.publicKey(),
                        .name = theirs.name(),
                        .pairedAt = c_.environment.mainActor().now(),
                        .lastSeenAt = {}});
        c_.model.reloadPairedDevices(c_.trusted);
        applyAvailabilityChoiceAtApproval();
        sender->sendControl(packet);
        TraceLog::message([&] { return "stored " + peerName + " and sent this Mac's key back"; });
    } catch (const PairingFaultError& fault) {
        if (fault.value() == PairingFault::peerSentNoKey) {
            TraceLog::message("no durable key from this peer; nothing to pair");
        } else if (fault.value() == PairingFault::limitReached) {
            TraceLog::message([&] { return "pairing limit reached; " + peerName + " not remembered"; });
            c_.model.lastRejection.set(pairingLimitText());
        } else {
            notRemembered(fault.caseName());
        }
    } catch (const std::exception& error) {
        notRemembered(error.what());
    }
}

void SessionApproval::startSession(const std::shared_ptr<TessaloyNet::VideoSender>& sender,
                                   const std::string& peerName) {
    sender->attach();
    c_.model.isSharing.set(true);
    c_.effects.updateSleepGuard();
    c_.transfers.attach(sender);
    own_.sessionCapture.startCaptureTask();
    own_.messages.sendReachabilityInfo();
    c_.model.connectedPeerName.set(peerName);
    c_.model.pendingPeerName.set(std::nullopt);
    c_.model.phaseDescription.set("Sharing this display.");
}

void SessionApproval::applyAvailabilityChoiceAtApproval() {
    Platform::UserDefaults& defaults = c_.environment.userDefaults();
    if (c_.model.listensAutomatically || defaults.boolean(Settings::availabilityChosen).has_value()) return;
    defaults.setBoolean(Settings::availabilityChosen, true);
    defaults.setBoolean(Settings::listenForPairedDevices, c_.model.keepsAvailableOnApproval);
    c_.model.listensAutomatically.set(c_.model.keepsAvailableOnApproval);
    // Staying available means little if the host is gone after a restart: start at login too,
    // unless the user already decided about that.
    if (c_.model.keepsAvailableOnApproval && !defaults.boolean(Settings::loginItemChosen).has_value()) {
        c_.effects.setStartAtLogin(true);
    }
}

} // namespace Plovander
