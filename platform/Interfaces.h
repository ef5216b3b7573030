#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Platform {

// The computer's network interfaces with their addresses, as the system lists them now. Any thread.
class Interfaces {
public:
    // `tunnel`: a point-to-point or tunnel link (WireGuard, tun, PPP, IPsec): where a VPN arrives.
    enum class Kind { wired, wireless, loopback, tunnel, other };
    using HardwareAddress = std::array<std::uint8_t, 6>;

    struct Address {
        enum class Family { ipv4, ipv6 };
        Family family = Family::ipv4;
        std::string text;    // numeric: "192.168.1.20", "2001:db8::1"
        std::string netmask; // numeric; empty when the system gives none
        friend bool operator==(const Address&, const Address&) = default;
    };

    struct Interface {
        std::string name;
        Kind kind = Kind::other;
        bool isUp = false;
        bool isRunning = false;
        bool canBroadcast = false;
        std::optional<HardwareAddress> hardwareAddress; // absent, or all zeros when the link has none
        std::vector<Address> addresses;                 // in the system's order
        friend bool operator==(const Interface&, const Interface&) = default;
    };

    static std::unique_ptr<Interfaces> create();

    virtual ~Interfaces() = default;

    // Every interface in the system's order; empty when the list cannot be read.
    virtual std::vector<Interface> list() const = 0;
};

} // namespace Platform
