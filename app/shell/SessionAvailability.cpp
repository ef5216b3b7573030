#include "app/shell/SessionAvailability.h"

#include "app/capture/CaptureProbe.h"
#include "app/runtime/Awaiters.h"
#include "app/services/PointerShapeWatcher.h"
#include "app/services/Reachability.h"
#include "app/shell/SessionEffects.h"
#include "app/shell/SessionLink.h"
#include "app/shell/SessionModel.h"
#include "app/shell/StopSentences.h"
#include "app/shell/StreamPreferences.h"
#include "app/trace/TraceLog.h"
#include "app/transfers/HostTransfers.h"
#include "base/MainActor.h"
#include "core/AudioQuality.h"
#include "core/SessionEnd.h"
#include "core/UnicodeText.h"
#include "net/channel/PairingLimits.h"
#include "platform/Environment.h"

namespace Plovander {
namespace {

using StopReason = TessaloyNet::HostSessionState::StopReason;
using TessaloyCore::SessionEnd;

SessionEnd sessionEndFor(const StopReason& reason) {
    struct Convert {
        SessionEnd operator()(const StopReason::Failed& failed) const {
            // The device shows the text; it must fit and must not be empty.
            const std::string text(TessaloyCore::leadingBytes(failed.description, SessionEnd::maximumTextBytes));
            return {SessionEnd::Reason::failed, text.empty() ? "failed" : text};
        }
        SessionEnd operator()(const StopReason::UserStopped&) const { return {SessionEnd::Reason::userStopped, {}}; }
        SessionEnd operator()(const StopReason::PeerDisconnected&) const {
            return {SessionEnd::Reason::peerDisconnected, {}};
        }
        SessionEnd operator()(const StopReason::OfferExpired&) const { return {SessionEnd::Reason::offerExpired, {}}; }
        SessionEnd operator()(const StopReason::Rejected&) const { return {SessionEnd::Reason::rejected, {}}; }
        SessionEnd operator()(const StopReason::HostDisconnected&) const {
            return {SessionEnd::Reason::hostDisconnected, {}};
        }
    };
    return std::visit(Convert{}, reason.value);
}

// The displays, listed when none are known yet. The application lists them as it starts: a listing
// still under way is waited for rather than taken for a computer without displays. The probe
// outlives the controller.
QCoro::Task<> listedDisplays(TessaloyBase::MainActor& actor, CaptureProbe& probe) {
    if (!probe.displays().empty()) co_return;
    while (probe.isBusy()) co_await nextEmission(actor, probe, &CaptureProbe::isBusyChanged);
    if (probe.displays().empty()) co_await probe.refreshDisplays();
}

std::optional<TessaloyCore::WirePacket> sessionEndPacket(const StopReason& reason) {
    try {
        return sessionEndFor(reason).packet();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

SessionAvailability::SessionAvailability(const SessionContext& context, Collaborators collaborators)
    : c_(context), own_(std::move(collaborators)) {}

SessionAvailability::~SessionAvailability() {
    expiryTask_.cancel();
    captureRetry_.cancel();
}

TessaloyBase::MainActor& SessionAvailability::actor() const { return c_.environment.mainActor(); }

bool SessionAvailability::isBusy() const {
    return c_.model.isAdvertising || c_.model.isSharing || c_.model.pendingPeerName.get();
}

bool SessionAvailability::holdsADevice() const { return c_.link.sender != nullptr || c_.link.startupTask.isRunning(); }

QCoro::Task<> SessionAvailability::startSharing(std::string displayName) {
    if (isBusy()) co_return;
    if (c_.model.pairedDevices.get().size() >= TessaloyNet::PairingLimits::devicesPerMac) {
        c_.model.lastRejection.set(pairingLimitText());
        co_return;
    }
    // A paired device being admitted is told that the session ends, rather than being left behind.
    if (holdsADevice()) stopSharing(StopReason::userStopped());
    c_.model.lastRejection.set(std::nullopt);
    if (c_.model.acceptsPairedDevices) {
        stopListener();
        c_.model.acceptsPairedDevices.set(false);
    }
    const CancellationToken lifetime = c_.lifetime;
    co_await listedDisplays(actor(), c_.capture);
    if (lifetime.isCancelled() || isBusy() || holdsADevice()) co_return;
    if (!c_.identity) {
        stopSharing(StopReason::failed("This Mac's identity could not be loaded from the keychain."));
        co_return;
    }

    const TessaloyNet::PairingOffer offer = c_.link.state.startOffering(actor().now());
    c_.model.showOffer(offer);
    c_.model.phaseDescription.set("Waiting for a device on this network.");
    c_.model.isAdvertising.set(true);
    startListener(offer, displayName);
    expiryTask_.cancel();
    expiryTask_ = TaskHandle::start([this, lifetime](CancellationToken token) -> QCoro::Task<> {
        const bool elapsed = co_await sleepFor(actor(), SessionModel::offerLifetime, token);
        if (elapsed && !lifetime.isCancelled()) expireOffer();
    });
    c_.effects.updateSleepGuard();
}

void SessionAvailability::expireOffer() {
    if (c_.model.isAdvertising && !c_.model.pendingPeerName.get()) stopSharing(StopReason::offerExpired());
}

void SessionAvailability::stopSharing(StopReason reason) {
    TraceLog::message([&] {
        return "stopSharing(" + reason.description() + ") sharing=" + TraceLog::boolText(c_.model.isSharing) +
               " advertising=" + TraceLog::boolText(c_.model.isAdvertising) +
               " starting=" + TraceLog::boolText(c_.link.startupTask.isRunning());
    });
    // Taking back a code that no device came forward for ends no session.
    const bool withdrawsOffer = c_.model.isAdvertising && !c_.model.pendingPeerName.get() && !holdsADevice();
    const bool byUser = std::holds_alternative<StopReason::UserStopped>(reason.value);
    // A cancelled start no longer counts as starting, even while its capture call finishes.
    c_.link.startupTask.cancel();
    c_.link.startupTask = {};
    c_.link.remoteUpdate.cancel();
    c_.link.captureRestart.cancel();
    expiryTask_.cancel();
    c_.effects.endSession();
    endChannels(reason);
    stopListener();
    c_.model.clearPairingCode();

    // What later gates read goes back to its resting state with the session.
    c_.link.pendingPeerKey.reset();
    c_.link.localCursorEnabled = false;
    c_.model.isSharing.set(false);
    c_.model.isAdvertising.set(false);
    c_.model.acceptsPairedDevices.set(false);
    c_.model.pendingPeerName.set(std::nullopt);
    c_.model.connectedPeerName.set(std::nullopt);
    c_.effects.updateSleepGuard();

    // The capture stops after the stop returned; the next device may draw no pointer of its own,
    // so captures show it again.
    TaskHandle::detach([this, lifetime = c_.lifetime](CancellationToken) -> QCoro::Task<> {
        if (lifetime.isCancelled()) co_return;
        co_await c_.capture.stop();
        if (lifetime.isCancelled()) co_return;
        // A session's buffers are gone now; without this the allocator keeps them for good.
        c_.environment.releaseFreedMemory();
        if (!c_.model.isSharing) co_await c_.capture.setCursorInVideo(true);
    });
    c_.model.phaseDescription.set(stopReasonText(reason));
    scheduleReturnToListening(reason);
    c_.link.state.stop(std::move(reason));
    // The user's stop holds listening off, except when it only took back a code.
    const bool listens = c_.model.listensAutomatically;
    c_.model.listeningHeldByUser.set(byUser && listens && !withdrawsOffer);
    if (byUser && listens && withdrawsOffer) resumeAvailability();
}

void SessionAvailability::endChannels(const StopReason& reason) {
    // The device learns why before its channels close: each channel sends what it holds first.
    const auto end = sessionEndPacket(reason);
    SessionLink& link = c_.link;
    if (link.controlChannel && end) link.controlChannel->sendDirect(*end);
    if (link.sender) link.sender->stop(end);
    link.sender.reset();
    link.sessionPeerKey.reset();
    c_.transfers.detach();

    const TessaloyCore::QualityMode mode = c_.model.qualityMode;
    c_.preferences.reset(mode);
    const auto audio = TessaloyCore::AudioQuality::of(mode);
    c_.capture.audio().setQuality(c_.preferences.wantsSound, audio.sampleRate, audio.channels, audio.bitrate);
    c_.capture.audio().setDestination({});

    if (link.controlChannel) link.controlChannel->close();
    link.controlChannel.reset();
    own_.pointerShapes.stop();
}

void SessionAvailability::scheduleReturnToListening(const StopReason& reason) {
    const auto delay = unattended_.restartDelay(reason, c_.model.listensAutomatically);
    if (!delay) return;
    TaskHandle::detach([this, delay, lifetime = c_.lifetime](CancellationToken) -> QCoro::Task<> {
        // The wait ends early with the controller.
        if (co_await sleepFor(actor(), TessaloyBase::MainActor::Duration(*delay), lifetime)) {
            co_await updateAvailability();
        }
    });
}

QCoro::Task<> SessionAvailability::updateAvailability() {
    const CancellationToken lifetime = c_.lifetime;
    // A paired device being admitted counts as busy here too.
    if (!c_.model.listensAutomatically) {
        if (c_.model.acceptsPairedDevices || c_.model.isSharing) stopSharing(StopReason::userStopped());
    } else if (!c_.model.acceptsPairedDevices && !isBusy() && !c_.link.startupTask.isRunning() && c_.identity &&
               !c_.model.pairedDevices.get().empty()) {
        co_await listedDisplays(actor(), c_.capture);
        if (lifetime.isCancelled()) co_return;
        const bool stillWanted = c_.model.listensAutomatically && !c_.model.acceptsPairedDevices && !isBusy() &&
                                 !c_.link.startupTask.isRunning();
        if (stillWanted && c_.capture.displays().empty()) {
            c_.model.setupProblem.set(c_.capture.status());
            scheduleCaptureRetry();
        } else if (stillWanted) {
            c_.model.setupProblem.set(std::nullopt);
            captureRetry_.cancel();
            c_.model.acceptsPairedDevices.set(true);
            startListener(std::nullopt, c_.environment.hostName());
        }
    }
    const bool wantsRelay = c_.model.listensAutomatically && !c_.model.pairedDevices.get().empty();
    own_.reachability.updateVPNRelay(wantsRelay);
    own_.reachability.updateConnectRegistration();
    c_.effects.updateSleepGuard();
}

void SessionAvailability::retryAfterSetupProblem() {
    if (!c_.model.setupProblem.get() || c_.model.acceptsPairedDevices || c_.model.isSharing) return;
    captureRetry_.cancel();
    resumeAvailability();
}

void SessionAvailability::resumeAvailability() {
    TaskHandle::detach([this, lifetime = c_.lifetime](CancellationToken) -> QCoro::Task<> {
        if (!lifetime.isCancelled()) co_await updateAvailability();
    });
}

void SessionAvailability::scheduleCaptureRetry() {
    unattended_.failed();
    captureRetry_.cancel();
    const auto delay = unattended_.restartDelay(StopReason::failed("capture"), c_.model.listensAutomatically);
    if (!delay) return;
    captureRetry_ = TaskHandle::start([this, lifetime = c_.lifetime, delay](CancellationToken token) -> QCoro::Task<> {
        const bool elapsed = co_await sleepFor(actor(), TessaloyBase::MainActor::Duration(*delay), token);
        if (elapsed && !lifetime.isCancelled()) co_await updateAvailability();
    });
}

void SessionAvailability::listening() {
    unattended_.listening();
    // What the last session's channels and their threads freed after its capture stopped.
    c_.environment.releaseFreedMemory();
}

std::int64_t SessionAvailability::listeningFailed() {
    unattended_.failed();
    return unattended_.consecutiveFailures();
}

void SessionAvailability::startListener(std::optional<TessaloyNet::PairingOffer> offer,
                                        const std::string& displayName) {
    stopListener();
    c_.model.listeningHeldByUser.set(false);
    // The retiring listener may still hold the port.
    if (retiring_) {
        heldStart_ = [this, offer = std::move(offer), displayName] { startListener(offer, displayName); };
        return;
    }
    c_.link.listener = c_.environment.hostListener(own_.trusted);
    listenerEnded_ = false;
    const std::weak_ptr<TessaloyNet::HostListener> from = c_.link.listener;
    // Called on the listener's queue, possibly after this object went: it touches only the actor.
    auto events = [this, &mainActor = actor(), lifetime = c_.lifetime, from](TessaloyNet::HostListener::Event event) {
        mainActor.post([this, lifetime, from, event = std::move(event)] {
            if (lifetime.isCancelled()) return;
            const auto listener = from.lock();
            const bool stopped = std::holds_alternative<TessaloyNet::HostListener::Event::Stopped>(event.value);
            if (listener && listener == retiring_ && stopped) return retired();
            if (!listener || listener != c_.link.listener) {
                TraceLog::message([&] { return "ignored " + event.traceDescription() + " from a retired listener"; });
                return;
            }
            listenerEnded_ = stopped;
            own_.dispatch(event);
        });
    };
    c_.link.listener->start(std::move(offer), shownName(displayName), *c_.identity, own_.listenPort, true,
                            std::move(events));
    own_.reachability.listenerReplaced();
}

void SessionAvailability::stopListener() {
    heldStart_ = nullptr;
    if (!c_.link.listener) return;
    // One that stopped by itself reports nothing more.
    if (!listenerEnded_) retiring_ = c_.link.listener;
    c_.link.listener->stop();
    c_.link.listener.reset();
    // Its channels end with it.
    c_.link.dropLoneControlChannel();
}

void SessionAvailability::retired() {
    retiring_.reset();
    if (const auto start = std::exchange(heldStart_, nullptr)) start();
}

} // namespace Plovander
