// Offers, availability for paired devices, the end of a session and what follows it.
#include "app/capture/CaptureProbe.h"
#include "app/runtime/Awaiters.h"
#include "app/shell/StopSentences.h"
#include "app/shell/StreamingSession.h"
#include "app/trace/TraceLog.h"
#include "base/MainActor.h"
#include "core/AudioQuality.h"
#include "core/QualityRung.h"
#include "core/SessionEnd.h"
#include "core/UnicodeText.h"

namespace Plovander {
namespace {

using StopReason = TessaloyNet::HostSessionState::StopReason;
using Phase = TessaloyNet::HostSessionState::Phase;
using TessaloyCore::SessionEnd;

std::string_view boolText(bool value) { return value ? "true" : "false"; }

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

} // namespace

QCoro::Task<> StreamingSession::startSharing(std::string displayName) {
    assertOnMainActor();
    if (isAdvertising_ || isSharing_ || pendingPeerName_) co_return;
    if (pairedDevices_.size() >= TessaloyNet::PairingLimits::devicesPerMac) {
        setLastRejection(pairingLimitText());
        co_return;
    }
    setLastRejection(std::nullopt);
    if (acceptsPairedDevices_) {
        stopListener();
        setAcceptsPairedDevices(false);
    }
    const std::weak_ptr<bool> alive = alive_;
    if (capture_.displays().empty()) co_await capture_.refreshDisplays();
    if (!alive.lock() || isAdvertising_ || isSharing_ || pendingPeerName_) co_return;
    if (!identity_) {
        stopSharing(StopReason::failed("This Mac's identity could not be loaded from the keychain."));
        co_return;
    }

    const TessaloyNet::PairingOffer offer = state_.startOffering(actor_.now());
    setPairingOffer(offer);
    setPhaseDescription("Waiting for a device on this network.");
    setAdvertising(true);
    startListener(offer, displayName);
    expiryTask_.cancel();
    expiryTask_ = TaskHandle::start([this, alive](CancellationToken token) -> QCoro::Task<> {
        const bool elapsed = co_await sleepFor(actor_, offerLifetime, token);
        if (elapsed && alive.lock()) expireOffer();
    });
    updateSleepGuard();
}

void StreamingSession::expireOffer() {
    if (isAdvertising_ && !pendingPeerName_) stopSharing(StopReason::offerExpired());
}

void StreamingSession::stopSharing(StopReason reason) {
    assertOnMainActor();
    TraceLog::message([&] {
        return "stopSharing(" + reason.description() + ") sharing=" + std::string(boolText(isSharing_)) +
               " advertising=" + std::string(boolText(isAdvertising_)) +
               " starting=" + std::string(boolText(startupTask_.isRunning()));
    });
    startupTask_.cancel();
    expiryTask_.cancel();
    input_->releaseAll();
    services_.blanker->setBlanking(false);
    services_.inputLock->unlock();
    setPrivacy({.blanksScreen = services_.blanker->isBlanking(), .locksLocalInput = services_.inputLock->isLocked()});

    // The device learns why before its channels close: each channel sends what it holds first.
    const std::optional<TessaloyCore::WirePacket> end = [&]() -> std::optional<TessaloyCore::WirePacket> {
        try {
            return sessionEndFor(reason).packet();
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }();
    if (controlChannel_ && end) controlChannel_->sendDirect(*end);
    if (sender_) sender_->stop(end);
    sender_.reset();
    sessionPeerKey_.reset();
    transfers_->detach();

    ladder_ = TessaloyCore::QualityLadder(TessaloyCore::QualityRung::ladder(qualityMode_).size());
    deviceCodecs_ = {TessaloyCore::VideoCodec::h264};
    const auto audio = TessaloyCore::AudioQuality::of(qualityMode_);
    capture_.audio().setQuality(wantsSound_, audio.sampleRate, audio.channels, audio.bitrate);
    capture_.audio().setDestination({});

    if (controlChannel_) controlChannel_->close();
    controlChannel_.reset();
    pointerShapes_->stop();
    stopListener();
    setPairingCode(std::nullopt);

    // What later gates read goes back to its resting state with the session.
    pendingPeerKey_.reset();
    pendingPeerIsKnown_ = false;
    localCursorEnabled_ = false;
    cursorModeStarting_ = false;
    setSharing(false);
    setAdvertising(false);
    setAcceptsPairedDevices(false);
    setPendingPeerName(std::nullopt);
    setConnectedPeerName(std::nullopt);
    updateSleepGuard();

    // The next device may draw no pointer of its own: captures show it again.
    deviceWantsOwnPointer_ = false;
    TaskHandle::start([this, alive = std::weak_ptr<bool>(alive_)](CancellationToken) -> QCoro::Task<> {
        if (!alive.lock()) co_return;
        co_await capture_.stop();
        if (alive.lock() && !isSharing_) co_await capture_.setCursorInVideo(true);
    });
    setPhaseDescription(stopReasonText(reason));
    const auto delay = unattended_.restartDelay(reason, listensAutomatically_);
    state_.stop(std::move(reason));
    if (delay) {
        TaskHandle::start([this, alive = std::weak_ptr<bool>(alive_), delay](CancellationToken) -> QCoro::Task<> {
            co_await sleepFor(actor_, TessaloyBase::MainActor::Duration(*delay));
            if (alive.lock()) co_await updateAvailability();
        });
    }
}

void StreamingSession::declinePeer() {
    assertOnMainActor();
    if (state_.phase().is<Phase::AwaitingApproval>()) state_.reject();
    setPendingPeerName(std::nullopt);
    stopSharing(StopReason::rejected());
}

QCoro::Task<> StreamingSession::updateAvailability() {
    assertOnMainActor();
    const std::weak_ptr<bool> alive = alive_;
    const bool busy = isSharing_ || isAdvertising_ || pendingPeerName_ || startupTask_.isRunning();
    if (!listensAutomatically_) {
        if (acceptsPairedDevices_ && !busy) stopSharing(StopReason::userStopped());
    } else if (!acceptsPairedDevices_ && !busy && identity_ && !pairedDevices_.empty()) {
        if (capture_.displays().empty()) co_await capture_.refreshDisplays();
        if (!alive.lock()) co_return;
        const bool stillWanted = listensAutomatically_ && !acceptsPairedDevices_ && !isSharing_ && !isAdvertising_ &&
                                 !pendingPeerName_ && !startupTask_.isRunning();
        if (stillWanted && capture_.displays().empty()) {
            setSetupProblem(capture_.status());
            scheduleCaptureRetry();
        } else if (stillWanted) {
            setSetupProblem(std::nullopt);
            captureRetry_.cancel();
            setAcceptsPairedDevices(true);
            startListener(std::nullopt, environment_.hostName());
        }
    }
    services_.reachability->updateVPNRelay(listensAutomatically_ && !pairedDevices_.empty());
    services_.reachability->updateConnectRegistration();
    updateSleepGuard();
}

void StreamingSession::retryAfterSetupProblem() {
    assertOnMainActor();
    if (!setupProblem_ || acceptsPairedDevices_ || isSharing_) return;
    captureRetry_.cancel();
    TaskHandle::start([this, alive = std::weak_ptr<bool>(alive_)](CancellationToken) -> QCoro::Task<> {
        if (alive.lock()) co_await updateAvailability();
    });
}

void StreamingSession::scheduleCaptureRetry() {
    unattended_.failed();
    captureRetry_.cancel();
    const auto delay = unattended_.restartDelay(StopReason::failed("capture"), listensAutomatically_);
    if (!delay) return;
    captureRetry_ =
        TaskHandle::start([this, alive = std::weak_ptr<bool>(alive_), delay](CancellationToken token) -> QCoro::Task<> {
            const bool elapsed = co_await sleepFor(actor_, TessaloyBase::MainActor::Duration(*delay), token);
            if (elapsed && alive.lock()) co_await updateAvailability();
        });
}

void StreamingSession::startListener(std::optional<TessaloyNet::PairingOffer> offer, const std::string& displayName) {
    stopListener();
    auto advertisers = [&environment = environment_](TessaloyBase::SerialQueue& queue,
                                                     TessaloyBase::ServiceAdvertiser::StateHandler onState) {
        return environment.serviceAdvertiser(queue, std::move(onState));
    };
    listener_ = TessaloyNet::LANHostListener::create(trusted_, advertisers, {}, environment_.machineKind());
    const std::weak_ptr<TessaloyNet::LANHostListener> from = listener_;
    auto events = [this, alive = std::weak_ptr<bool>(alive_), from](ListenerEvent event) {
        actor_.post([this, alive, from, event = std::move(event)] {
            if (alive.lock()) hop(from, event);
        });
    };
    const std::string name = displayName.empty() ? "Mac" : displayName;
    listener_->start(std::move(offer), name, *identity_, listenPort_, true, std::move(events));
}

void StreamingSession::stopListener() {
    if (!listener_) return;
    listener_->stopAndWait();
    listener_.reset();
}

void StreamingSession::updateSleepGuard() {
    const bool on = isSharing_ || (acceptsPairedDevices_ && staysAwakeForPairedDevices_);
    services_.sleepGuard->setActive(
        on, isSharing_ ? "Plovander is sharing this screen" : "Plovander is waiting for a paired device");
}

void StreamingSession::applyPrivacy(TessaloyCore::SessionMessage::PrivacyState wanted) {
    // Nothing else on this computer asks for the accessibility trust that the platform the
    // session came from needs: injection through the display server is allowed as such.
    const bool permitted = isSharing_ && allowsRemoteControl_;
    services_.blanker->setBlanking(wanted.blanksScreen && permitted);
    const bool lock = wanted.locksLocalInput && permitted;
    if (lock && !services_.inputLock->isLocked()) {
        services_.inputLock->lock();
    } else if (!lock && services_.inputLock->isLocked()) {
        services_.inputLock->unlock();
    }
    const TessaloyCore::SessionMessage::PrivacyState actual{.blanksScreen = services_.blanker->isBlanking(),
                                                            .locksLocalInput = services_.inputLock->isLocked()};
    if (actual != privacy_) {
        TraceLog::message([&] {
            return "privacy blanksScreen=" + std::string(boolText(actual.blanksScreen)) +
                   " locksLocalInput=" + std::string(boolText(actual.locksLocalInput));
        });
    }
    setPrivacy(actual);
    sendOnControl(TessaloyCore::SessionMessage{TessaloyCore::SessionMessage::PrivacyApplied{actual}});
}

void StreamingSession::releaseRemoteControl() {
    input_->releaseAll();
    if (privacy_.blanksScreen || privacy_.locksLocalInput) applyPrivacy(privacy_);
}

} // namespace Plovander
