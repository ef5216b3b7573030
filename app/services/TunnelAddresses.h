#pragma once

#include "platform/Interfaces.h"

#include <string>
#include <vector>

namespace Plovander {

struct TunnelAddress {
    std::string interface;
    std::string address; // numeric, without a zone
    friend bool operator==(const TunnelAddress&, const TunnelAddress&) = default;
};

// This computer's VPN addresses: those of the tunnel links (WireGuard, tun, PPP, IPsec) that are
// up, link-local IPv6 left out, in the system's order. Where a paired device on the same VPN can
// reach it.
std::vector<TunnelAddress> tunnelAddresses(const Platform::Interfaces& interfaces);
// The same addresses alone: where the VPN relay listens.
std::vector<std::string> vpnRelayAddresses(const Platform::Interfaces& interfaces);

} // namespace Plovander
