#pragma once

namespace Plovander {

// The ways paired devices reach this computer from elsewhere: the relay registration, the router
// port and the listeners on VPN addresses.
class Reachability {
public:
    virtual ~Reachability() = default;
    // Runs the VPN listeners when wanted (listening for paired devices with at least one paired).
    virtual void updateVPNRelay(bool wanted) = 0;
    // Registers this computer's paired devices with the relay, or withdraws.
    virtual void updateConnectRegistration() = 0;
};

// Stand-in until reachability beyond the local network exists: reaches nothing.
class ReachabilityStandIn final : public Reachability {
public:
    void updateVPNRelay(bool) override {}
    void updateConnectRegistration() override {}
};

} // namespace Plovander
