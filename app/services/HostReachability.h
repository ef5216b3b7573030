#pragma once

#include "app/services/ConnectRegistration.h"
#include "app/services/Reachability.h"
#include "base/QueueClock.h"
#include "net/reach/VPNRelay.h"
#include "platform/Interfaces.h"

#include <memory>

namespace Plovander {

// Every way this computer is reached from beyond the local network: the relay registration, and
// the VPN relay on this computer's VPN addresses, both carried to the current listener. Main actor
// only.
class HostReachability final : public Reachability {
public:
    // `interfaces` must outlive this object; the VPN relay reads it on its own queue. `listenPort`
    // is the port the listener is started on.
    HostReachability(ConnectRegistration::Collaborators registration, const Platform::Interfaces& interfaces,
                     std::uint16_t listenPort, std::shared_ptr<TessaloyBase::QueueClock> clock = nullptr);
    ~HostReachability() override;

    void updateVPNRelay(bool wanted) override;
    void updateConnectRegistration() override { registration_.updateConnectRegistration(); }
    void listenerReplaced() override;
    void listenerListens() override { registration_.listenerListens(); }
    void networkChanged() override { registration_.networkChanged(); }

private:
    std::function<TessaloyNet::LoopbackBridge::BridgeSource()> bridgeSource_;
    const Platform::Interfaces& interfaces_;
    const std::uint16_t listenPort_;
    std::shared_ptr<TessaloyBase::QueueClock> clock_;
    ConnectRegistration registration_;
    // Made on first use, kept for the life of the process.
    std::shared_ptr<TessaloyNet::VPNRelay> vpnRelay_;
    bool vpnRelayRuns_ = false;
};

} // namespace Plovander
