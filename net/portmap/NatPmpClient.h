#pragma once

#include "core/Bytes.h"
#include "net/portmap/DatagramExchange.h"
#include "net/portmap/PortLease.h"
#include "net/portmap/PortMapping.h"

#include <cstdint>
#include <optional>
#include <string>

namespace TessaloyNet {

// The NAT-PMP requests of RFC 6886 that the port mapper needs: the public address, mapping the
// listener's TCP port, and deleting that mapping again.
class NatPmpClient {
public:
    static constexpr std::uint16_t gatewayPort = 5351;
    static constexpr std::uint32_t requestedLifetime = 3600;

    struct Grant {
        PortMapping mapping;
        PortLease lease;
        std::uint32_t lifetime = 0; // seconds, as granted
    };

    NatPmpClient(std::uint16_t internalPort, DatagramExchange& exchange);

    // The 12-byte TCP mapping request.
    static TessaloyCore::Bytes mapRequest(std::uint16_t internalPort, std::uint16_t suggestedExternalPort,
                                          std::uint32_t lifetime);

    // Asks for the public address, then maps the port with three attempts each; nothing when the
    // router stays silent or answers against the rules. Blocks its caller.
    std::optional<Grant> request(const std::string& host, std::uint16_t port = gatewayPort);
    // Deletes this port's mapping with one attempt; the answer is not looked at. Blocks its caller.
    void release(const PortLease::NatPmp& endpoint);

private:
    const std::uint16_t internalPort_;
    DatagramExchange& exchange_;
};

} // namespace TessaloyNet
