#include "app/shell/StreamingSession.h"

#include "app/capture/CaptureProbe.h"
#include "app/runtime/BlockingCall.h"
#include "app/services/HostReachability.h"
#include "app/services/LocalInterfaces.h"
#include "app/shell/ListenerEventRouter.h"
#include "app/shell/SessionApproval.h"
#include "app/shell/SessionCapture.h"
#include "app/shell/SessionContext.h"
#include "app/shell/SessionEffects.h"
#include "app/shell/SessionMessages.h"
#include "app/shell/Settings.h"
#include "app/shell/StopSentences.h"
#include "app/trace/TraceLog.h"
#include "base/MainActor.h"
#include "net/channel/LANHostListener.h"
#include "net/channel/SelfSignedCertificate.h"
#include "platform/CursorImage.h"
#include "platform/NetworkChanges.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>

namespace Plovander {

using TessaloyNet::PairedDevice;

StreamingSession::StreamingSession(Platform::Environment& environment, CaptureProbe& capture,
                                   const UpdaterFactory& makeUpdater, QObject* parent)
    : QObject(parent),
      environment_(environment),
      defaults_(environment.userDefaults()),
      services_(environment),
      trusted_(std::make_shared<TessaloyNet::PairedDeviceStore>(environment.keychain(), environment.diskQueue())),
      listenPort_(Plovander::listenPort(defaults_)),
      preferences_(model_.qualityMode, [&capture] { return capture.encodesHevcInHardware(); }) {
    model_.allowsRemoteControl.set(Settings::isOn(defaults_, Settings::allowRemoteControl));
    model_.usesConnect.set(defaults_.boolean(TessaloyNet::RelayEndpoint::enabledKey).value_or(true));
    model_.opensRouterPort.set(Settings::isOn(defaults_, Settings::openRouterPort));
    model_.listensAutomatically.set(Settings::isOn(defaults_, Settings::listenForPairedDevices));
    model_.staysAwakeForPairedDevices.set(Settings::isOn(defaults_, Settings::stayAwakeForPairedDevices));
    std::string whyNot;
    input_ = std::make_unique<InputInjector>(inputQueue_, environment.events(inputQueue_, &whyNot));
    if (!whyNot.empty()) TraceLog::message([&] { return "input injection unavailable: " + whyNot; });
    whyNot.clear();
    pointerShapes_ = std::make_unique<PointerShapeWatcher>(environment.mainActor(), environment.cursorImage(&whyNot));
    if (!whyNot.empty()) TraceLog::message([&] { return "pointer shapes unavailable: " + whyNot; });
    transfers_ =
        std::make_unique<HostTransfers>(environment.mainActor(), environment.pasteboard(), environment.transferFiles());
    services_.reachability = makeReachability();
    makeParts(capture, makeUpdater);
    startServices();

    capture.onStopped = lifetime_.guard([this](const std::string& reason) {
        if (isSharing()) stopSharing(StopReason::failed("Screen capture stopped. " + reason));
    });
    TaskHandle::detach([this, lifetime = lifetime_](CancellationToken) -> QCoro::Task<> {
        co_await loadIdentity();
        if (!lifetime.isCancelled()) co_await updateAvailability();
        if (!lifetime.isCancelled()) model_.ready.set(true);
    });
}

void StreamingSession::makeParts(CaptureProbe& capture, const UpdaterFactory& makeUpdater) {
    effects_ = std::make_unique<SessionEffects>(model_, link_, services_, *input_, defaults_);
    const SessionContext context{
        .environment = environment_,
        .model = model_,
        .link = link_,
        .preferences = preferences_,
        .effects = *effects_,
        .capture = capture,
        .transfers = *transfers_,
        .trusted = *trusted_,
        .identity = identity_,
        .lifetime = lifetime_,
    };
    availability_ = std::make_unique<SessionAvailability>(
        context, SessionAvailability::Collaborators{
                     .pointerShapes = *pointerShapes_,
                     .reachability = *services_.reachability,
                     .listenPort = listenPort_,
                     .trusted = trusted_,
                     .dispatch = lifetime_.guard(
                         [this](const TessaloyNet::HostListener::Event& event) { router_->handle(event); }),
                 });
    capture_ = std::make_unique<SessionCapture>(context, *input_, *availability_);
    services_.updater = makeUpdater(environment_.mainActor(), [] { QCoreApplication::quit(); });
    messages_ = std::make_unique<SessionMessages>(context, SessionMessages::Collaborators{
                                                               .sessionCapture = *capture_,
                                                               .pointerShapes = *pointerShapes_,
                                                               .updater = *services_.updater,
                                                           });
    approval_ = std::make_unique<SessionApproval>(context, SessionApproval::Collaborators{
                                                               .sessionCapture = *capture_,
                                                               .messages = *messages_,
                                                               .availability = *availability_,
                                                           });
    router_ = std::make_unique<ListenerEventRouter>(context, ListenerEventRouter::Collaborators{
                                                                 .sessionCapture = *capture_,
                                                                 .messages = *messages_,
                                                                 .approval = *approval_,
                                                                 .availability = *availability_,
                                                                 .input = *input_,
                                                                 .reachability = *services_.reachability,
                                                             });
}

// Wires the services that call back into the session: each callback does nothing once it is going.
void StreamingSession::startServices() {
    services_.inputLock->onEscape =
        lifetime_.guard([this] { effects_->applyPrivacy({.blanksScreen = false, .locksLocalInput = false}); });
    transfers_->isAllowed = [this, lifetime = lifetime_] {
        return !lifetime.isCancelled() && isSharing() && allowsRemoteControl() && link_.isStreaming();
    };
    transfers_->remoteControlAllowed = [this, lifetime = lifetime_] {
        return !lifetime.isCancelled() && allowsRemoteControl();
    };
    transfers_->paste = lifetime_.guard([this] {
        // Command-V: the V key (9) with Command, which this computer reads as Control.
        using TessaloyCore::InputEvent;
        input_->post(InputEvent{InputEvent::Key{9, true, InputEvent::Modifiers::command}});
        input_->post(InputEvent{InputEvent::Key{9, false, InputEvent::Modifiers::command}});
    });
    services_.updater->onChange = lifetime_.guard([this] {
        Q_EMIT updaterChanged();
        if (isSharing()) messages_->sendHostInfo();
    });
    services_.updater->startDailyCheck();
    watchNetwork();
    environment_.mainActor().post(lifetime_.guard([this] { refreshLoginItem(); }));
}

StreamingSession::~StreamingSession() {
    // From here on no task or callback of the controller or of its parts does anything.
    lifetime_.cancel();
    // Reachability reads the controller's state through what it was lent: it goes first.
    services_.reachability.reset();
    link_.startupTask.cancel();
    // The listener stops asynchronously: its events check the lifetime token, and the trust store,
    // which its connections still read, they share.
    availability_->stopListener();
    if (link_.controlChannel) link_.controlChannel->close();
    if (link_.sender) link_.sender->stop(std::nullopt);
    transfers_->detach();
    // Input work still queued runs on our queue; let it finish before the queue goes.
    effects_.reset();
    input_.reset();
    inputQueue_.sync([] {});
}

QCoro::Task<> StreamingSession::loadIdentity() {
    // The keychain is files: read it off the main actor. A controller that goes meanwhile abandons
    // the reads, so this task ends with it rather than wait for the disk.
    const CancellationToken lifetime = lifetime_;
    BlockingCall<TessaloyNet::DeviceIdentity> loading(
        environment_.mainActor(),
        [&keychain = environment_.keychain()] { return TessaloyNet::DeviceIdentity::loadOrCreate(keychain); },
        lifetime);
    try {
        auto identity = co_await loading;
        identity_ = std::move(identity);
        TraceLog::message([&] { return "this Mac's ID is " + identity_->fingerprint(); });
    } catch (const std::exception& error) {
        if (lifetime.isCancelled()) co_return;
        TraceLog::message([&] { return std::string("could not load this Mac's identity: ") + error.what(); });
    }
    // The trust store is a file too, and may have grown: it is read into memory there.
    BlockingCall<std::vector<PairedDevice>> reading(
        environment_.mainActor(), [trusted = trusted_] { return SessionModel::readPairedDevices(*trusted); }, lifetime);
    auto devices = co_await reading;
    if (!lifetime.isCancelled()) model_.pairedDevices.set(std::move(devices));
}

QCoro::Task<> StreamingSession::startSharing(std::string displayName) {
    environment_.mainActor().assertCurrent();
    return availability_->startSharing(std::move(displayName));
}

void StreamingSession::stopSharing(StopReason reason) {
    environment_.mainActor().assertCurrent();
    availability_->stopSharing(std::move(reason));
}

void StreamingSession::approvePeer() {
    environment_.mainActor().assertCurrent();
    approval_->approvePeer();
}

void StreamingSession::declinePeer() {
    environment_.mainActor().assertCurrent();
    approval_->declinePeer();
}

QCoro::Task<> StreamingSession::updateAvailability() {
    environment_.mainActor().assertCurrent();
    return availability_->updateAvailability();
}

void StreamingSession::applyPrivacy(TessaloyCore::SessionMessage::PrivacyState wanted) {
    environment_.mainActor().assertCurrent();
    effects_->applyPrivacy(wanted);
}

void StreamingSession::retryAfterSetupProblem() {
    environment_.mainActor().assertCurrent();
    availability_->retryAfterSetupProblem();
}

std::string StreamingSession::hostDisplayName() const { return shownName(environment_.hostName()); }

StreamingSession::Date StreamingSession::now() const { return environment_.mainActor().now(); }

bool StreamingSession::needsAvailabilityChoice() const {
    return !listensAutomatically() && !defaults_.boolean(Settings::availabilityChosen).value_or(false);
}

void StreamingSession::setAllowsRemoteControl(bool allowed) {
    environment_.mainActor().assertCurrent();
    defaults_.setBoolean(Settings::allowRemoteControl, allowed);
    if (!model_.allowsRemoteControl.set(allowed)) return;
    // Whether the device may install an update follows the switch.
    if (isSharing()) messages_->sendHostInfo();
    if (allowed) {
        messages_->remoteControlAllowed();
        return;
    }
    effects_->releaseRemoteControl();
    transfers_->cancelAll();
    // The device's update stops where it is: its download ends and its partial file goes.
    link_.remoteUpdate.cancel();
}

void StreamingSession::setListensAutomatically(bool on) {
    environment_.mainActor().assertCurrent();
    defaults_.setBoolean(Settings::listenForPairedDevices, on);
    defaults_.setBoolean(Settings::availabilityChosen, true);
    model_.listensAutomatically.set(on);
    resumeAvailability();
}

void StreamingSession::resumeAvailability() {
    TaskHandle::detach([this, lifetime = lifetime_](CancellationToken) -> QCoro::Task<> {
        if (!lifetime.isCancelled()) co_await updateAvailability();
    });
}

void StreamingSession::setStaysAwakeForPairedDevices(bool on) {
    environment_.mainActor().assertCurrent();
    defaults_.setBoolean(Settings::stayAwakeForPairedDevices, on);
    model_.staysAwakeForPairedDevices.set(on);
    effects_->updateSleepGuard();
}

void StreamingSession::refreshLoginItem() {
    environment_.mainActor().assertCurrent();
    effects_->refreshLoginItem();
}

void StreamingSession::setStartAtLogin(bool wanted) {
    environment_.mainActor().assertCurrent();
    effects_->setStartAtLogin(wanted);
}

void StreamingSession::forgetDevice(const PairedDevice& device) {
    environment_.mainActor().assertCurrent();
    try {
        trusted_->remove(device.publicKey);
    } catch (const std::exception& error) {
        TraceLog::message([&] { return "could not forget " + device.name + ": " + error.what(); });
        setLastRejection(device.name + " could not be forgotten. This Mac still trusts it.");
    }
    reloadPairedDevices();
    if (link_.pendingPeerKey && TessaloyNet::SelfSignedCertificate::matches(*link_.pendingPeerKey, device.publicKey)) {
        stopSharing(StopReason::rejected());
    }
}

void StreamingSession::renameDevice(const PairedDevice& device, const std::string& name) {
    environment_.mainActor().assertCurrent();
    try {
        trusted_->rename(device.publicKey, name);
    } catch (const std::exception&) {
        setLastRejection("Couldn't rename " + device.name + ". Try again.");
    }
    reloadPairedDevices();
}

void StreamingSession::reloadPairedDevices() {
    environment_.mainActor().assertCurrent();
    model_.reloadPairedDevices(*trusted_);
}

std::unique_ptr<Reachability> StreamingSession::makeReachability() {
    ConnectRegistration::Collaborators registration{
        .actor = environment_.mainActor(),
        .defaults = defaults_,
        .interfaces = environment_.interfaces(),
        .routerPort = *services_.routerPort,
        .opensRouterPort = [this] { return model_.opensRouterPort.get(); },
        .identity = [this] { return identity_ ? &*identity_ : nullptr; },
        .pairedKeys =
            [this] {
                std::vector<TessaloyCore::Bytes> keys;
                for (const PairedDevice& device : model_.pairedDevices.get()) keys.push_back(device.publicKey);
                return keys;
            },
        // The port asked for until the listener has one.
        .listenerPort =
            [this] { return link_.listener && link_.listener->port() ? link_.listener->port() : listenPort_; },
        .listenerAccepts = [this] { return link_.listener && link_.listener->port() != 0; },
        .bridgeSource = [this]() -> TessaloyNet::RelayAnswer::BridgeSource {
            const std::weak_ptr<TessaloyNet::LANHostListener> listener =
                std::dynamic_pointer_cast<TessaloyNet::LANHostListener>(link_.listener);
            return [listener](const asio::ip::tcp::endpoint& source) {
                if (const auto current = listener.lock()) current->exemptBridge(source);
            };
        },
        .restartListener =
            [this] {
                // Only a listener that waits for paired devices is restarted; a session keeps its own.
                if (model_.isSharing || !model_.acceptsPairedDevices || model_.pendingPeerName.get()) return;
                availability_->stopListener();
                model_.acceptsPairedDevices.set(false);
                resumeAvailability();
            },
        .showStatus = [this](const std::string& text) { model_.relayStatus.set(text); },
        .showDirect =
            [this](std::optional<std::string> text) {
                model_.directStatus.set(std::move(text));
                showInterfaceAddresses();
            },
    };
    return std::make_unique<HostReachability>(std::move(registration), environment_.interfaces(), listenPort_);
}

void StreamingSession::watchNetwork() {
    TessaloyBase::MainActor& actor = environment_.mainActor();
    std::string whyNot;
    // The one watch of the network: it calls on its own thread and is destroyed with this object.
    networkWatch_ = environment_.networkChanges([&actor, changed = lifetime_.guard([this] {
                                                    showInterfaceAddresses();
                                                    services_.reachability->networkChanged();
                                                })] { actor.post(changed); },
                                                &whyNot);
    if (!networkWatch_) TraceLog::message([&] { return "nothing follows network changes: " + whyNot; });
    showInterfaceAddresses();
}

void StreamingSession::showInterfaceAddresses() {
    model_.interfaceAddresses.set(localInterfaceAddresses(environment_.interfaces(), listenPort_));
}

void StreamingSession::setUsesConnect(bool on) {
    environment_.mainActor().assertCurrent();
    defaults_.setBoolean(TessaloyNet::RelayEndpoint::enabledKey, on);
    model_.usesConnect.set(on);
    services_.reachability->updateConnectRegistration();
}

void StreamingSession::setOpensRouterPort(bool on) {
    environment_.mainActor().assertCurrent();
    defaults_.setBoolean(Settings::openRouterPort, on);
    model_.opensRouterPort.set(on);
    // The registration runs the router port: it depends on the relay client.
    services_.reachability->updateConnectRegistration();
}

bool StreamingSession::canInjectInput() const { return input_->canPost(); }

QCoro::Task<> StreamingSession::switchSharedDisplay(std::uint32_t displayID, bool fromDevice) {
    environment_.mainActor().assertCurrent();
    co_await messages_->switchSharedDisplay(displayID, fromDevice);
}

} // namespace Plovander
