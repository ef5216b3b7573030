#pragma once

#include "app/services/InputInjector.h"
#include "app/services/PointerShapeWatcher.h"
#include "app/shell/SessionAvailability.h"
#include "app/shell/SessionLink.h"
#include "app/shell/SessionModel.h"
#include "app/shell/SessionServices.h"
#include "app/shell/StreamPreferences.h"
#include "app/transfers/HostTransfers.h"
#include "base/SerialQueue.h"
#include "net/channel/PairedDeviceStore.h"
#include "platform/Environment.h"

#include <QObject>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Plovander {

class CaptureProbe;
class ListenerEventRouter;
class SessionApproval;
class SessionCapture;
class SessionEffects;
class SessionMessages;

// The central controller, on the main actor, and the one face of it that the app and the views
// see: it keeps the user's settings and the published state (a getter and a `<name>Changed()`
// signal each), and hands each operation to the part that does that job (availability and stops,
// approval, the listener's events, the device's messages).
class StreamingSession final : public QObject {
    Q_OBJECT

public:
    using Date = SessionModel::Date;
    using StopReason = TessaloyNet::HostSessionState::StopReason;

    // The environment and the capture probe outlive the controller, which makes its updater with
    // `makeUpdater` (the product's: SelfUpdater::forThisProgram).
    StreamingSession(Platform::Environment& environment, CaptureProbe& capture, const UpdaterFactory& makeUpdater,
                     QObject* parent = nullptr);
    ~StreamingSession() override;

    // Published state.
    bool isSharing() const { return model_.isSharing; }
    bool isAdvertising() const { return model_.isAdvertising; }
    bool acceptsPairedDevices() const { return model_.acceptsPairedDevices; }
    bool allowsRemoteControl() const { return model_.allowsRemoteControl; }
    void setAllowsRemoteControl(bool allowed);
    bool listensAutomatically() const { return model_.listensAutomatically; }
    void setListensAutomatically(bool on);
    bool staysAwakeForPairedDevices() const { return model_.staysAwakeForPairedDevices; }
    void setStaysAwakeForPairedDevices(bool on);
    bool keepsAvailableOnApproval() const { return model_.keepsAvailableOnApproval; }
    void setKeepsAvailableOnApproval(bool on) { model_.keepsAvailableOnApproval.set(on); }
    TessaloyCore::QualityMode qualityMode() const { return model_.qualityMode; }
    const std::string& phaseDescription() const { return model_.phaseDescription; }
    const std::optional<std::string>& pendingPeerName() const { return model_.pendingPeerName; }
    const std::optional<std::string>& connectedPeerName() const { return model_.connectedPeerName; }
    const std::optional<std::string>& pairingCode() const { return model_.pairingCode; }
    const std::optional<Date>& pairingExpiresAt() const { return model_.pairingExpiresAt; }
    const std::optional<std::string>& pairingLink() const { return model_.pairingLink; }
    const std::vector<TessaloyNet::PairedDevice>& pairedDevices() const { return model_.pairedDevices; }
    const std::optional<std::string>& lastRejection() const { return model_.lastRejection; }
    void setLastRejection(std::optional<std::string> text) { model_.lastRejection.set(std::move(text)); }
    const TessaloyCore::SessionMessage::PrivacyState& privacy() const { return model_.privacy; }
    const std::optional<std::string>& setupProblem() const { return model_.setupProblem; }
    bool listeningHeldByUser() const { return model_.listeningHeldByUser; }
    // The relay road: the switch (on unless switched off) and the registration's state.
    bool usesConnect() const { return model_.usesConnect; }
    void setUsesConnect(bool on);
    const std::string& relayStatus() const { return model_.relayStatus; }
    // The router port switch: stored, and the router is asked while the relay registration runs.
    bool opensRouterPort() const { return model_.opensRouterPort; }
    void setOpensRouterPort(bool on);
    const std::optional<std::string>& directStatus() const { return model_.directStatus; }
    const std::vector<std::string>& interfaceAddresses() const { return model_.interfaceAddresses; }
    // Whether this desktop takes posted input events (without them remote control does nothing).
    bool canInjectInput() const;
    // Listening for paired devices is off and the user never chose.
    bool needsAvailabilityChoice() const;
    // The long-term key of the device of the current pairing or session, while there is one; it
    // changes with `isSharing` and `pendingPeerName`.
    const std::optional<TessaloyCore::Bytes>& peerKey() const { return link_.pendingPeerKey; }

    const TessaloyNet::HostSessionState& state() const { return link_.state; }
    const std::optional<TessaloyNet::DeviceIdentity>& identity() const { return identity_; }
    HostTransfers& transfers() { return *transfers_; }
    // The trust store, as the controller keeps it in memory.
    TessaloyNet::PairedDeviceStore& trusted() { return *trusted_; }
    MacUpdater& updater() { return *services_.updater; }
    // The name this computer shows to devices: its host name, or "Mac" when it has none.
    std::string hostDisplayName() const;
    // The main actor's date, which the model's dates (an offer's expiry) are reckoned by.
    Date now() const;
    // The port paired devices reach this computer on.
    std::uint16_t listenPort() const { return listenPort_; }
    // Whether the identity has been loaded and the first availability decision taken.
    bool isReady() const { return model_.ready; }
    // Start at login, as the settings show it.
    const LoginItem::State& loginItem() const { return model_.loginItem; }
    // Repairs the registration when start at login is wanted, then publishes the agent's state.
    void refreshLoginItem();
    // The user's choice: recorded, then registered or unregistered; publishes the outcome.
    void setStartAtLogin(bool wanted);

    // Operations of the views.
    QCoro::Task<> startSharing(std::string displayName);
    void stopSharing(StopReason reason);
    void approvePeer();
    void declinePeer();
    void forgetDevice(const TessaloyNet::PairedDevice& device);
    void renameDevice(const TessaloyNet::PairedDevice& device, const std::string& name);
    void reloadPairedDevices();
    void retryAfterSetupProblem();
    // Blanks the displays and locks local input as far as the session allows; `privacy` follows.
    void applyPrivacy(TessaloyCore::SessionMessage::PrivacyState wanted);
    QCoro::Task<> updateAvailability();
    // Shares another display during a session; `fromDevice` marks the device's own request.
    QCoro::Task<> switchSharedDisplay(std::uint32_t displayID, bool fromDevice);

Q_SIGNALS:
    void isSharingChanged();
    void isAdvertisingChanged();
    void acceptsPairedDevicesChanged();
    void allowsRemoteControlChanged();
    void listensAutomaticallyChanged();
    void staysAwakeForPairedDevicesChanged();
    void keepsAvailableOnApprovalChanged();
    void qualityModeChanged();
    void phaseDescriptionChanged();
    void pendingPeerNameChanged();
    void connectedPeerNameChanged();
    void pairingCodeChanged();
    void pairingExpiresAtChanged();
    void pairingLinkChanged();
    void pairedDevicesChanged();
    void lastRejectionChanged();
    void privacyChanged();
    void setupProblemChanged();
    void listeningHeldByUserChanged();
    void readyChanged();
    void loginItemChanged();
    void usesConnectChanged();
    void relayStatusChanged();
    void opensRouterPortChanged();
    void directStatusChanged();
    void interfaceAddressesChanged();
    // The updater found a release or moved its installation on.
    void updaterChanged();

private:
    QCoro::Task<> loadIdentity();
    void makeParts(CaptureProbe& capture, const UpdaterFactory& makeUpdater);
    void startServices();
    // Decides again whether to listen for paired devices, in a task of its own.
    void resumeAvailability();
    std::unique_ptr<Reachability> makeReachability();
    // Publishes this computer's addresses for the settings, again at each change of the network and
    // with each direct summary (which follows the router port).
    void watchNetwork();
    void showInterfaceAddresses();

    Platform::Environment& environment_;
    Platform::UserDefaults& defaults_;
    // Cancelled as the controller starts to go; its parts and every callback it lends out check it.
    CancellationToken lifetime_;
    SessionServices services_;
    TessaloyBase::SerialQueue inputQueue_{"dev.tessaloy.input"};
    // Shared with the listeners and their connections, which may outlive the controller.
    const std::shared_ptr<TessaloyNet::PairedDeviceStore> trusted_;
    std::optional<TessaloyNet::DeviceIdentity> identity_;
    const std::uint16_t listenPort_;
    SessionModel model_{*this};
    SessionLink link_;
    StreamPreferences preferences_;
    std::unique_ptr<InputInjector> input_;
    std::unique_ptr<PointerShapeWatcher> pointerShapes_;
    std::unique_ptr<HostTransfers> transfers_;

    // The parts, each with one job.
    std::unique_ptr<SessionEffects> effects_;
    std::unique_ptr<SessionAvailability> availability_;
    std::unique_ptr<SessionCapture> capture_;
    std::unique_ptr<SessionMessages> messages_;
    std::unique_ptr<SessionApproval> approval_;
    std::unique_ptr<ListenerEventRouter> router_;
    std::unique_ptr<Platform::NetworkChanges> networkWatch_;
};

} // namespace Plovander
