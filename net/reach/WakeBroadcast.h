#pragma once

#include "core/Bytes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace TessaloyNet {

// Sends a magic packet as a UDP broadcast on every local IPv4 network. Blocks its caller.
namespace WakeBroadcast {

inline constexpr std::array<std::uint16_t, 2> ports{9, 7};

// One IPv4 address of an interface, as the system lists it.
struct InterfaceAddress {
    bool up = false;
    bool canBroadcast = false;
    bool loopback = false;
    std::uint32_t address = 0;            // host byte order
    std::optional<std::uint32_t> netmask; // host byte order
};

struct Report {
    std::size_t sent = 0;            // datagrams sent in full
    std::vector<std::string> unsent; // "255.255.255.255:9: Network is unreachable"
};

// The subnet broadcast of each broadcast-capable network of `interfaces` (computed from address
// and netmask), each once, then "255.255.255.255".
std::vector<std::string> addresses(const std::vector<InterfaceAddress>& interfaces);
// The same for this computer's interfaces; only "255.255.255.255" when they cannot be read.
std::vector<std::string> addresses();

// Sends `packet` to each of addresses() on ports 9 then 7. The subnet broadcasts come first: a
// computer without a default route cannot send to 255.255.255.255 (ENETUNREACH) but still reaches
// its own networks; what could not be sent is reported.
Report send(TessaloyCore::ByteView packet);

} // namespace WakeBroadcast
} // namespace TessaloyNet
