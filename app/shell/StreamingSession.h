#pragma once

#include "app/runtime/TaskHandle.h"
#include "app/services/InputInjector.h"
#include "app/services/LoginItem.h"
#include "app/services/PointerShapeWatcher.h"
#include "app/services/PrivacyServices.h"
#include "app/services/Reachability.h"
#include "app/transfers/HostTransfers.h"
#include "app/updater/MacUpdater.h"
#include "base/SerialQueue.h"
#include "core/CaseError.h"
#include "core/QualityLadder.h"
#include "core/QualityMode.h"
#include "core/QualityRung.h"
#include "core/SessionMessage.h"
#include "core/VideoCodec.h"
#include "net/channel/DeviceIdentity.h"
#include "net/channel/LANHostListener.h"
#include "net/channel/PairedDeviceStore.h"
#include "net/channel/PairingLimits.h"
#include "net/channel/PairingLink.h"
#include "net/reach/UnattendedListening.h"
#include "net/send/VideoSender.h"
#include "net/session/HostSessionState.h"
#include "platform/Environment.h"
#include "platform/Events.h"
#include "platform/ShareableDisplay.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace Plovander {

class CaptureProbe;

// The services of the controller that later work fills in; the defaults are the stand-ins.
struct SessionServices {
    std::unique_ptr<ScreenBlanker> blanker = std::make_unique<ScreenBlankerStandIn>();
    std::unique_ptr<LocalInputLock> inputLock = std::make_unique<LocalInputLockStandIn>();
    std::unique_ptr<SleepGuard> sleepGuard = std::make_unique<SleepGuardStandIn>();
    std::unique_ptr<MacUpdater> updater = std::make_unique<MacUpdaterStandIn>();
    std::unique_ptr<Reachability> reachability = std::make_unique<ReachabilityStandIn>();
};

enum class PairingFault { peerSentNoKey, noIdentity, limitReached };
const char* nameOf(PairingFault fault) noexcept;

// The central controller, on the main actor: it keeps the session's state machine, runs the
// listener for a pairing offer or for paired devices, dispatches what the listener reports, starts
// and stops capture for the approved device, and persists the user's settings. Views read its
// published properties (a getter and a `<name>Changed()` signal each) and call its operations.
class StreamingSession final : public QObject {
    Q_OBJECT

public:
    using Date = std::chrono::system_clock::time_point;
    using StopReason = TessaloyNet::HostSessionState::StopReason;
    using PairingFaultError = TessaloyCore::CaseError<PairingFault>;

    using Services = SessionServices;

    static constexpr std::chrono::seconds offerLifetime{300};
    static constexpr std::size_t pendingFramesLimit = 16;
    static constexpr std::size_t pendingBytesLimit = 8'388'608;
    static constexpr double acceptanceWindowSeconds = 10.0;
    static constexpr int audioPacketsInFlight = 8;

    // The environment and the capture probe outlive the controller.
    StreamingSession(Platform::Environment& environment, CaptureProbe& capture, Services services = Services(),
                     QObject* parent = nullptr);
    ~StreamingSession() override;

    static const std::string& pairingLimitText();

    // The device's view of where the pointer is: `point` (desktop coordinates) placed inside the
    // shared display's `bounds`. Nothing for empty bounds.
    static std::optional<TessaloyCore::WirePacket> cursorUpdate(std::uint32_t sequence, Platform::Events::Point point,
                                                                const Platform::ShareableDisplay::Bounds& bounds);

    // Published state.
    bool isSharing() const { return isSharing_; }
    bool isAdvertising() const { return isAdvertising_; }
    bool acceptsPairedDevices() const { return acceptsPairedDevices_; }
    bool allowsRemoteControl() const { return allowsRemoteControl_; }
    void setAllowsRemoteControl(bool allowed);
    bool listensAutomatically() const { return listensAutomatically_; }
    void setListensAutomatically(bool on);
    bool staysAwakeForPairedDevices() const { return staysAwakeForPairedDevices_; }
    void setStaysAwakeForPairedDevices(bool on);
    bool keepsAvailableOnApproval() const { return keepsAvailableOnApproval_; }
    void setKeepsAvailableOnApproval(bool on);
    TessaloyCore::QualityMode qualityMode() const { return qualityMode_; }
    const std::string& phaseDescription() const { return phaseDescription_; }
    const std::optional<std::string>& pendingPeerName() const { return pendingPeerName_; }
    const std::optional<std::string>& connectedPeerName() const { return connectedPeerName_; }
    const std::optional<std::string>& pairingCode() const { return pairingCode_; }
    const std::optional<Date>& pairingExpiresAt() const { return pairingExpiresAt_; }
    const std::optional<std::string>& pairingLink() const { return pairingLink_; }
    const std::vector<TessaloyNet::PairedDevice>& pairedDevices() const { return pairedDevices_; }
    const std::optional<std::string>& lastRejection() const { return lastRejection_; }
    void setLastRejection(std::optional<std::string> text);
    const TessaloyCore::SessionMessage::PrivacyState& privacy() const { return privacy_; }
    const std::optional<std::string>& setupProblem() const { return setupProblem_; }
    // Listening for paired devices is off and the user never chose.
    bool needsAvailabilityChoice() const;

    const TessaloyNet::HostSessionState& state() const { return state_; }
    const std::optional<TessaloyNet::DeviceIdentity>& identity() const { return identity_; }
    HostTransfers& transfers() { return *transfers_; }
    MacUpdater& updater() { return *services_.updater; }
    // The name this computer shows to devices: its host name, or "Mac" when it has none.
    std::string hostDisplayName() const;
    // The port paired devices reach this computer on.
    std::uint16_t listenPort() const { return listenPort_; }
    // Whether the identity has been loaded and the first availability decision taken.
    bool isReady() const { return ready_; }

    // Operations of the views.
    QCoro::Task<> startSharing(std::string displayName);
    void stopSharing(StopReason reason);
    void approvePeer();
    void declinePeer();
    void forgetDevice(const TessaloyNet::PairedDevice& device);
    void renameDevice(const TessaloyNet::PairedDevice& device, const std::string& name);
    void reloadPairedDevices();
    void retryAfterSetupProblem();
    QCoro::Task<> updateAvailability();

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
    void readyChanged();

private:
    using ListenerEvent = TessaloyNet::LANHostListener::Event;

    // Start-up.
    QCoro::Task<> loadIdentity();

    // Listening.
    void startListener(std::optional<TessaloyNet::PairingOffer> offer, const std::string& displayName);
    void stopListener();
    void hop(const std::weak_ptr<TessaloyNet::LANHostListener>& from, ListenerEvent event);
    void handleListenerEvent(const ListenerEvent& event);
    void listenerAuthenticated(const ListenerEvent::Authenticated& event);
    void mediaAuthenticated(const std::shared_ptr<TessaloyNet::PacketChannel>& channel, const std::string& peerName);
    void controlAuthenticated(const std::shared_ptr<TessaloyNet::PacketChannel>& channel);
    // Whether `channel` comes from another device than the session's media channel.
    bool belongsToAnotherDevice(const TessaloyNet::PacketChannel& channel) const;
    bool isSessionMedia(const TessaloyNet::PacketChannel& channel) const;
    void listenerStopped(const std::optional<std::string>& error);
    void received(const TessaloyCore::WirePacket& packet, TessaloyCore::ChannelRole role);
    void receivedPairingExchange(const TessaloyCore::WirePacket& packet, TessaloyCore::ChannelRole role);
    void receivedInput(const TessaloyCore::WirePacket& packet, TessaloyCore::ChannelRole role);
    void receivedSession(const TessaloyCore::WirePacket& packet, TessaloyCore::ChannelRole role);
    void receivedTransfer(const TessaloyCore::WirePacket& packet, TessaloyCore::ChannelRole role);

    // A session.
    void admitPairedDevice(const TessaloyNet::PairedDevice& device);
    std::shared_ptr<TessaloyNet::VideoSender> markApproved();
    QCoro::Task<> finishApproval(std::shared_ptr<TessaloyNet::VideoSender> sender, TessaloyCore::QualityRung rung,
                                 TessaloyCore::VideoCodec codec, std::uint64_t generation, std::string peerName,
                                 CancellationToken token, bool completesPairing);
    void completePairing(const std::shared_ptr<TessaloyNet::VideoSender>& sender, const std::string& peerName);
    void startSession(const std::shared_ptr<TessaloyNet::VideoSender>& sender, const std::string& peerName);
    void startCaptureTask();
    QCoro::Task<bool> restartCapture(std::string reason);
    void scheduleCaptureRetry();
    void applyAvailabilityChoiceAtApproval();
    void expireOffer();
    TessaloyCore::VideoCodec preferredCodec() const;
    TessaloyCore::QualityRung currentRung() const;
    void sendReachabilityInfo();
    void sendHostInfo();
    // Sends at once on the control channel; false when there is none or the message cannot go.
    bool sendOnControl(const TessaloyCore::SessionMessage& message);

    // The device's session messages.
    void handleSessionMessage(const TessaloyCore::SessionMessage& message);
    void pasteOnMac(const std::string& text);
    void copyFromMac();
    void requestKeyframe();
    TessaloyCore::SessionMessage displayList() const;
    QCoro::Task<> switchSharedDisplay(std::uint32_t displayID, bool fromDevice);
    void applyQuality(TessaloyCore::QualityMode mode);
    void applyVideoCodecs(const std::vector<TessaloyCore::VideoCodec>& list);
    void setDeviceDrawsPointer();
    void startLocalPointerMode();
    void sendLocalPointer(const std::shared_ptr<TessaloyNet::PacketChannel>& channel);
    std::optional<Platform::ShareableDisplay::Bounds> sharedDisplayBounds() const;

    // Effects on this computer.
    void applyPrivacy(TessaloyCore::SessionMessage::PrivacyState wanted);
    void updateSleepGuard();
    void releaseRemoteControl();

    // Publishing.
    void setSharing(bool on);
    void setAdvertising(bool on);
    void setAcceptsPairedDevices(bool on);
    void setPhaseDescription(std::string text);
    void setPendingPeerName(std::optional<std::string> name);
    void setConnectedPeerName(std::optional<std::string> name);
    void setPairingCode(std::optional<std::string> code);
    void setPairingOffer(const TessaloyNet::PairingOffer& offer);
    void setPrivacy(TessaloyCore::SessionMessage::PrivacyState privacy);
    void setSetupProblem(std::optional<std::string> problem);
    void setQualityMode(TessaloyCore::QualityMode mode);
    void assertOnMainActor() const;

    Platform::Environment& environment_;
    TessaloyBase::MainActor& actor_;
    Platform::UserDefaults& defaults_;
    CaptureProbe& capture_;
    Services services_;
    TessaloyBase::SerialQueue inputQueue_{"dev.tessaloy.input"};
    TessaloyNet::PairedDeviceStore trusted_;
    std::unique_ptr<InputInjector> input_;
    std::unique_ptr<PointerShapeWatcher> pointerShapes_;
    std::unique_ptr<HostTransfers> transfers_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    const std::uint16_t listenPort_;

    TessaloyNet::HostSessionState state_;
    std::shared_ptr<TessaloyNet::LANHostListener> listener_;
    std::shared_ptr<TessaloyNet::PacketChannel> controlChannel_;
    std::shared_ptr<TessaloyNet::VideoSender> sender_;
    // The key the session's media channel authenticated with; its control channel must match it.
    std::optional<TessaloyCore::Bytes> sessionPeerKey_;
    std::optional<TessaloyNet::DeviceIdentity> identity_;
    TaskHandle startupTask_;
    TaskHandle expiryTask_;
    TaskHandle captureRetry_;
    std::optional<TessaloyCore::Bytes> pendingPeerKey_;
    bool pendingPeerIsKnown_ = false;
    TessaloyNet::UnattendedListening unattended_;
    std::set<TessaloyCore::VideoCodec> deviceCodecs_{TessaloyCore::VideoCodec::h264};
    bool deviceWantsOwnPointer_ = false;
    bool localCursorEnabled_ = false;
    bool cursorModeStarting_ = false;
    bool wantsSound_ = true;
    TessaloyCore::QualityLadder ladder_;
    bool ready_ = false;

    bool isSharing_ = false;
    bool isAdvertising_ = false;
    bool acceptsPairedDevices_ = false;
    bool allowsRemoteControl_;
    bool listensAutomatically_;
    bool staysAwakeForPairedDevices_;
    bool keepsAvailableOnApproval_ = true;
    TessaloyCore::QualityMode qualityMode_ = TessaloyCore::QualityMode::balanced;
    std::string phaseDescription_ = "Not sharing.";
    std::optional<std::string> pendingPeerName_;
    std::optional<std::string> connectedPeerName_;
    std::optional<std::string> pairingCode_;
    std::optional<Date> pairingExpiresAt_;
    std::optional<std::string> pairingLink_;
    std::vector<TessaloyNet::PairedDevice> pairedDevices_;
    std::optional<std::string> lastRejection_;
    TessaloyCore::SessionMessage::PrivacyState privacy_{};
    std::optional<std::string> setupProblem_;
};

} // namespace Plovander
