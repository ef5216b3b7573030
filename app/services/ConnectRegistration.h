#pragma once

#include "app/runtime/CancellationToken.h"
#include "app/services/RouterPort.h"
#include "base/MainActor.h"
#include "core/Bytes.h"
#include "net/channel/DeviceIdentity.h"
#include "net/relay/RelayAnswer.h"
#include "net/relay/RelayAnswers.h"
#include "net/relay/RelayControlClient.h"
#include "net/relay/RelayEndpoint.h"
#include "platform/Interfaces.h"
#include "platform/UserDefaults.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Plovander {

// The relay road: keeps this computer registered with the relay service under the meeting
// identifiers of its paired devices, publishes where the listener can be reached directly (again when
// told of a change of the network), answers relayed calls by bridging them to the listener, and shows
// the registration's state. While registered it also asks the router to forward the listener's
// port, when the user lets it. Main actor only.
class ConnectRegistration final {
public:
    struct Collaborators {
        TessaloyBase::MainActor& actor;
        Platform::UserDefaults& defaults;
        Platform::Interfaces& interfaces;
        // Its onChange is this registration's while it lives.
        RouterPort& routerPort;
        // The user lets the router forward the listener's port ("TessaloyOpenRouterPort").
        std::function<bool()> opensRouterPort;
        // This computer's key, once loaded.
        std::function<const TessaloyNet::DeviceIdentity*()> identity;
        // The stored public keys of the paired devices.
        std::function<std::vector<TessaloyCore::Bytes>()> pairedKeys;
        std::function<std::uint16_t()> listenerPort;
        // Whether a listener takes connections now.
        std::function<bool()> listenerAccepts;
        // For one call: what exempts its bridge's loopback source from the current listener's
        // per-host admission (the bridge calls it on its own queue).
        std::function<TessaloyNet::RelayAnswer::BridgeSource()> bridgeSource;
        std::function<void()> restartListener;
        // "Connecting…", "On", "Offline, retrying", or "" while the relay road is off.
        std::function<void(const std::string&)> showStatus;
        // A summary of the direct candidates last published ("router port open (UPnP) · IPv6"), or
        // nothing while none are.
        std::function<void(std::optional<std::string>)> showDirect;
    };

    explicit ConnectRegistration(Collaborators collaborators);
    ~ConnectRegistration();
    ConnectRegistration(const ConnectRegistration&) = delete;
    ConnectRegistration& operator=(const ConnectRegistration&) = delete;

    // Registers this computer's paired devices with the relay, or withdraws.
    void updateConnectRegistration();
    // Hands the relay the current candidates: the router's forwarded port first, then this
    // computer's global addresses.
    void publishCandidates();
    // While registered: asks the router again and publishes the candidates anew.
    void networkChanged();
    // A listener takes connections now: the calls that came before it did are answered, with what
    // is left of their patience for the relay to reply.
    void listenerListens();

    // Calls that come while no listener takes connections wait for one, so many at most and for as
    // long as an answer may take to reach the relay.
    static constexpr std::size_t maximumHeldCalls = 8;
    static constexpr TessaloyBase::MainActor::Duration heldCallPatience = TessaloyNet::RelayAnswer::connectTimeout;

private:
    struct HeldCall {
        TessaloyCore::Bytes sessionID;
        TessaloyConnectWire::ConnectChannel channel;
        TessaloyBase::MainActor::Date arrived;
        // Lets the call go once its patience has run out.
        TessaloyBase::ScheduledCall expiry;
    };

    void registerDevices();
    void dropClient();
    void answer(const TessaloyCore::Bytes& sessionID, TessaloyConnectWire::ConnectChannel channel);
    void bridge(const TessaloyCore::Bytes& sessionID, TessaloyConnectWire::ConnectChannel channel,
                std::optional<TessaloyBase::MainActor::Duration> patience = std::nullopt);
    void show(const TessaloyNet::RelayControlClient::State& state);

    Collaborators c_;
    std::shared_ptr<TessaloyNet::RelayControlClient> client_;
    std::vector<HeldCall> heldCalls_;
    // Outlive the client: a call bridged through one relay goes on when the client is replaced.
    const std::shared_ptr<TessaloyNet::RelayAnswers> answers_;
    // Cancelled as this goes: what the client and the calls report after that does nothing.
    CancellationToken lifetime_;
};

} // namespace Plovander
