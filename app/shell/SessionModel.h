#pragma once

#include "app/runtime/Published.h"
#include "app/services/LoginItem.h"
#include "core/QualityMode.h"
#include "core/SessionMessage.h"
#include "net/channel/PairedDevice.h"
#include "net/channel/PairingOffer.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace TessaloyNet {
class PairedDeviceStore;
}

namespace Plovander {

class StreamingSession;

// The controller's published state: the one place where what the views show changes. Each
// property notifies through the controller's `<name>Changed()` signal, and only when it changed.
// Main actor only.
class SessionModel {
public:
    using Date = std::chrono::system_clock::time_point;
    static constexpr std::chrono::seconds offerLifetime{300};

    explicit SessionModel(StreamingSession& owner);
    SessionModel(const SessionModel&) = delete;
    SessionModel& operator=(const SessionModel&) = delete;

    // The code on screen, its link and its expiry, from an offer.
    void showOffer(const TessaloyNet::PairingOffer& offer);
    // Clearing the code clears what belongs to it.
    void clearPairingCode();
    // Reloads `pairedDevices` from the trust store; an unreadable store is traced and leaves it
    // empty.
    void reloadPairedDevices(const TessaloyNet::PairedDeviceStore& trusted);
    // What reloadPairedDevices() publishes; safe from any thread.
    static std::vector<TessaloyNet::PairedDevice> readPairedDevices(const TessaloyNet::PairedDeviceStore& trusted);

    Published<bool> isSharing;
    Published<bool> isAdvertising;
    Published<bool> acceptsPairedDevices;
    Published<bool> allowsRemoteControl;
    Published<bool> listensAutomatically;
    Published<bool> staysAwakeForPairedDevices;
    Published<bool> keepsAvailableOnApproval;
    Published<TessaloyCore::QualityMode> qualityMode;
    Published<std::string> phaseDescription;
    Published<std::optional<std::string>> pendingPeerName;
    Published<std::optional<std::string>> connectedPeerName;
    Published<std::optional<std::string>> pairingCode;
    Published<std::optional<Date>> pairingExpiresAt;
    Published<std::optional<std::string>> pairingLink;
    Published<std::vector<TessaloyNet::PairedDevice>> pairedDevices;
    Published<std::optional<std::string>> lastRejection;
    Published<TessaloyCore::SessionMessage::PrivacyState> privacy;
    Published<std::optional<std::string>> setupProblem;
    // Availability is on, yet the user's stop keeps the Mac from listening for paired devices until
    // a listener starts again (availability switched, or a code offered).
    Published<bool> listeningHeldByUser;
    Published<bool> ready;
    // Start at login, as the settings show it.
    Published<LoginItem::State> loginItem;
    // The relay switch (absent counts as on) and the registration's state: "Connecting…", "On",
    // "Offline, retrying", or empty while it is off.
    Published<bool> usesConnect;
    Published<std::string> relayStatus;
    // The router port switch (absent counts as on); the port mapper's line about the direct
    // addresses; this computer's direct addresses as "address:port" texts. The last two stay empty
    // until something that maps ports or lists addresses publishes them.
    Published<bool> opensRouterPort;
    Published<std::optional<std::string>> directStatus;
    Published<std::vector<std::string>> interfaceAddresses;
};

} // namespace Plovander
