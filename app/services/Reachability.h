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
    // A new listener took over: bridged connections from now on are exempted by it.
    virtual void listenerReplaced() = 0;
    // The listener takes connections now.
    virtual void listenerListens() = 0;
    // Links, addresses or routes changed.
    virtual void networkChanged() = 0;
};

} // namespace Plovander
