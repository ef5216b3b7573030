#pragma once

#include <cstdint>
#include <string>

namespace TessaloyNet {

// A forwarding the router made: its public address and port, and the protocol that made it.
struct PortMapping {
    std::string externalAddress; // dotted IPv4, as the router reported it
    std::uint16_t externalPort = 0;
    std::string method; // "NAT-PMP" or "UPnP"

    // The direct address candidate: "address:port".
    std::string candidate() const { return externalAddress + ":" + std::to_string(externalPort); }

    friend bool operator==(const PortMapping&, const PortMapping&) = default;
};

} // namespace TessaloyNet
