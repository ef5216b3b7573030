#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace TessaloyNet {

// What must be undone at the router: where a mapping was obtained and its external port.
struct PortLease {
    struct NatPmp {
        std::string host; // the gateway's IPv4 address
        std::uint16_t port = 0;
        friend bool operator==(const NatPmp&, const NatPmp&) = default;
    };
    struct Upnp {
        std::string url; // the absolute control URL
        std::string service;
        friend bool operator==(const Upnp&, const Upnp&) = default;
    };
    using Endpoint = std::variant<NatPmp, Upnp>;

    Endpoint endpoint;
    std::uint16_t externalPort = 0;

    friend bool operator==(const PortLease&, const PortLease&) = default;
};

} // namespace TessaloyNet
