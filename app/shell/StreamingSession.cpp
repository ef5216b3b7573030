#include "app/shell/StreamingSession.h"

#include "app/capture/CaptureProbe.h"
#include "app/runtime/Awaiters.h"
#include "app/runtime/BlockingCall.h"
#include "app/shell/Settings.h"
#include "app/shell/StopSentences.h"
#include "app/trace/TraceLog.h"
#include "base/MainActor.h"
#include "core/AudioQuality.h"
#include "core/QualityRung.h"
#include "net/channel/SelfSignedCertificate.h"
#include "platform/CursorImage.h"
#include "platform/Events.h"
#include "platform/UserDefaults.h"

#include <cstdio>
#include <cstdlib>

namespace Plovander {

using TessaloyCore::QualityMode;
using TessaloyNet::PairedDevice;

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

const std::string& StreamingSession::pairingLimitText() {
    static const std::string text = "This Mac already has " +
                                    std::to_string(TessaloyNet::PairingLimits::devicesPerMac) +
                                    " paired devices. Forget one below to pair another.";
    return text;
}

StreamingSession::StreamingSession(Platform::Environment& environment, CaptureProbe& capture, Services services,
                                   QObject* parent)
    : QObject(parent),
      environment_(environment),
      actor_(environment.mainActor()),
      defaults_(environment.userDefaults()),
      capture_(capture),
      services_(std::move(services)),
      trusted_(environment.keychain()),
      listenPort_(Plovander::listenPort(defaults_)),
      ladder_(TessaloyCore::QualityRung::ladder(qualityMode_).size()),
      allowsRemoteControl_(Settings::isOn(defaults_, Settings::allowRemoteControl)),
      listensAutomatically_(Settings::isOn(defaults_, Settings::listenForPairedDevices)),
      staysAwakeForPairedDevices_(Settings::isOn(defaults_, Settings::stayAwakeForPairedDevices)) {
    std::string whyNot;
    input_ = std::make_unique<InputInjector>(inputQueue_, environment.events(inputQueue_, &whyNot));
    if (!whyNot.empty()) TraceLog::message([&] { return "input injection unavailable: " + whyNot; });
    whyNot.clear();
    pointerShapes_ = std::make_unique<PointerShapeWatcher>(actor_, environment.cursorImage(&whyNot));
    if (!whyNot.empty()) TraceLog::message([&] { return "pointer shapes unavailable: " + whyNot; });
    services_.inputLock->onEscape = [this, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.lock()) applyPrivacy({.blanksScreen = false, .locksLocalInput = false});
    };

    transfers_ = std::make_unique<HostTransfers>(actor_, environment.pasteboard(), environment.transferFiles());
    transfers_->isAllowed = [this, alive = std::weak_ptr<bool>(alive_)] {
        return alive.lock() && isSharing_ && allowsRemoteControl_ &&
               state_.phase().is<TessaloyNet::HostSessionState::Phase::Streaming>();
    };
    transfers_->paste = [this, alive = std::weak_ptr<bool>(alive_)] {
        if (!alive.lock()) return;
        // Command-V: the V key (9) with Command, which this computer reads as Control.
        using TessaloyCore::InputEvent;
        input_->post(InputEvent{InputEvent::Key{9, true, InputEvent::Modifiers::command}});
        input_->post(InputEvent{InputEvent::Key{9, false, InputEvent::Modifiers::command}});
    };

    services_.updater->onChange = [this, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.lock() && isSharing_) sendHostInfo();
    };
    services_.updater->startDailyCheck();

    capture_.onStopped = [this, alive = std::weak_ptr<bool>(alive_)](const std::string& reason) {
        if (!alive.lock() || !isSharing_) return;
        stopSharing(StopReason::failed("Screen capture stopped. " + reason));
    };

    TaskHandle::start([this, alive = std::weak_ptr<bool>(alive_)](CancellationToken) -> QCoro::Task<> {
        co_await loadIdentity();
        if (!alive.lock()) co_return;
        co_await updateAvailability();
        if (!alive.lock()) co_return;
        ready_ = true;
        Q_EMIT readyChanged();
    });
}

StreamingSession::~StreamingSession() {
    *alive_ = false;
    startupTask_.cancel();
    expiryTask_.cancel();
    captureRetry_.cancel();
    // The listener calls back into what this object lends it until it has stopped.
    if (listener_) listener_->stopAndWait();
    if (controlChannel_) controlChannel_->close();
    if (sender_) sender_->stop(std::nullopt);
    transfers_->detach();
    // Input work still queued runs on our queue; let it finish before the queue goes.
    input_.reset();
    inputQueue_.sync([] {});
}

QCoro::Task<> StreamingSession::loadIdentity() {
    // The keychain is files: read it off the main actor.
    BlockingCall<TessaloyNet::DeviceIdentity> loading(
        actor_, [&keychain = environment_.keychain()] { return TessaloyNet::DeviceIdentity::loadOrCreate(keychain); });
    try {
        identity_ = co_await loading;
        TraceLog::message([&] { return "this Mac's ID is " + identity_->fingerprint(); });
    } catch (const std::exception& error) {
        TraceLog::message([&] { return std::string("could not load this Mac's identity: ") + error.what(); });
    }
    reloadPairedDevices();
}

std::string StreamingSession::hostDisplayName() const {
    const std::string name = environment_.hostName();
    return name.empty() ? "Mac" : name;
}

bool StreamingSession::needsAvailabilityChoice() const {
    return !listensAutomatically_ && !defaults_.boolean(Settings::availabilityChosen).value_or(false);
}

void StreamingSession::setAllowsRemoteControl(bool allowed) {
    assertOnMainActor();
    defaults_.setBoolean(Settings::allowRemoteControl, allowed);
    if (allowed == allowsRemoteControl_) return;
    allowsRemoteControl_ = allowed;
    Q_EMIT allowsRemoteControlChanged();
    if (!allowed) {
        releaseRemoteControl();
        transfers_->cancelAll();
    }
}

void StreamingSession::setListensAutomatically(bool on) {
    assertOnMainActor();
    defaults_.setBoolean(Settings::listenForPairedDevices, on);
    defaults_.setBoolean(Settings::availabilityChosen, true);
    if (on != listensAutomatically_) {
        listensAutomatically_ = on;
        Q_EMIT listensAutomaticallyChanged();
    }
    TaskHandle::start([this, alive = std::weak_ptr<bool>(alive_)](CancellationToken) -> QCoro::Task<> {
        if (alive.lock()) co_await updateAvailability();
    });
}

void StreamingSession::setStaysAwakeForPairedDevices(bool on) {
    assertOnMainActor();
    defaults_.setBoolean(Settings::stayAwakeForPairedDevices, on);
    if (on != staysAwakeForPairedDevices_) {
        staysAwakeForPairedDevices_ = on;
        Q_EMIT staysAwakeForPairedDevicesChanged();
    }
    updateSleepGuard();
}

void StreamingSession::setKeepsAvailableOnApproval(bool on) {
    if (on == keepsAvailableOnApproval_) return;
    keepsAvailableOnApproval_ = on;
    Q_EMIT keepsAvailableOnApprovalChanged();
}

void StreamingSession::forgetDevice(const PairedDevice& device) {
    assertOnMainActor();
    try {
        trusted_.remove(device.publicKey);
    } catch (const std::exception& error) {
        TraceLog::message([&] { return "could not forget " + device.name + ": " + error.what(); });
        setLastRejection(device.name + " could not be forgotten. This Mac still trusts it.");
    }
    reloadPairedDevices();
    if (pendingPeerKey_ && TessaloyNet::SelfSignedCertificate::matches(*pendingPeerKey_, device.publicKey)) {
        stopSharing(StopReason::rejected());
    }
}

void StreamingSession::renameDevice(const PairedDevice& device, const std::string& name) {
    assertOnMainActor();
    try {
        trusted_.rename(device.publicKey, name);
    } catch (const std::exception&) {
        setLastRejection("Couldn't rename " + device.name + ". Try again.");
    }
    reloadPairedDevices();
}

void StreamingSession::reloadPairedDevices() {
    assertOnMainActor();
    std::vector<PairedDevice> devices;
    try {
        devices = trusted_.all();
    } catch (const std::exception& error) {
        TraceLog::message([&] { return std::string("could not read the paired devices: ") + error.what(); });
    }
    if (devices == pairedDevices_) return;
    pairedDevices_ = std::move(devices);
    Q_EMIT pairedDevicesChanged();
}

// Publishing.

void StreamingSession::setSharing(bool on) {
    if (on == isSharing_) return;
    isSharing_ = on;
    Q_EMIT isSharingChanged();
}

void StreamingSession::setAdvertising(bool on) {
    if (on == isAdvertising_) return;
    isAdvertising_ = on;
    Q_EMIT isAdvertisingChanged();
}

void StreamingSession::setAcceptsPairedDevices(bool on) {
    if (on == acceptsPairedDevices_) return;
    acceptsPairedDevices_ = on;
    Q_EMIT acceptsPairedDevicesChanged();
}

void StreamingSession::setPhaseDescription(std::string text) {
    if (text == phaseDescription_) return;
    phaseDescription_ = std::move(text);
    Q_EMIT phaseDescriptionChanged();
}

void StreamingSession::setPendingPeerName(std::optional<std::string> name) {
    if (name == pendingPeerName_) return;
    pendingPeerName_ = std::move(name);
    Q_EMIT pendingPeerNameChanged();
}

void StreamingSession::setConnectedPeerName(std::optional<std::string> name) {
    if (name == connectedPeerName_) return;
    connectedPeerName_ = std::move(name);
    Q_EMIT connectedPeerNameChanged();
}

void StreamingSession::setPairingCode(std::optional<std::string> code) {
    if (code != pairingCode_) {
        pairingCode_ = std::move(code);
        Q_EMIT pairingCodeChanged();
    }
    if (pairingCode_) return;
    // Clearing the code clears what belongs to it.
    if (pairingExpiresAt_) {
        pairingExpiresAt_.reset();
        Q_EMIT pairingExpiresAtChanged();
    }
    if (pairingLink_) {
        pairingLink_.reset();
        Q_EMIT pairingLinkChanged();
    }
}

void StreamingSession::setPairingOffer(const TessaloyNet::PairingOffer& offer) {
    setPairingCode(offer.code.formatted());
    pairingLink_ = TessaloyNet::PairingLink::url(offer.code, offer.salt);
    Q_EMIT pairingLinkChanged();
    pairingExpiresAt_ = offer.createdAt + offerLifetime;
    Q_EMIT pairingExpiresAtChanged();
}

void StreamingSession::setLastRejection(std::optional<std::string> text) {
    if (text == lastRejection_) return;
    lastRejection_ = std::move(text);
    Q_EMIT lastRejectionChanged();
}

void StreamingSession::setPrivacy(TessaloyCore::SessionMessage::PrivacyState privacy) {
    if (privacy == privacy_) return;
    privacy_ = privacy;
    Q_EMIT privacyChanged();
}

void StreamingSession::setSetupProblem(std::optional<std::string> problem) {
    if (problem == setupProblem_) return;
    setupProblem_ = std::move(problem);
    Q_EMIT setupProblemChanged();
}

void StreamingSession::setQualityMode(QualityMode mode) {
    if (mode == qualityMode_) return;
    qualityMode_ = mode;
    Q_EMIT qualityModeChanged();
}

void StreamingSession::assertOnMainActor() const {
    if (actor_.isCurrent()) return;
    std::fprintf(stderr, "StreamingSession used off the main actor\n");
    std::abort();
}

} // namespace Plovander
