#pragma once

#include "core/SessionMessage.h"
#include "net/reach/VPNRelay.h"
#include "platform/Interfaces.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Plovander {

// The wired and wireless links that are up and running, each with its hardware address and a
// routable IPv4 address, by name: where the paired device can wake this computer.
std::vector<TessaloyCore::SessionMessage::WakeTarget> localEthernetInterfaces(const Platform::Interfaces& interfaces);

// The global IPv6 addresses of the wired and wireless links that are up and running, joined with
// `port`: where a phone on another network might reach the listener directly.
std::vector<std::string> directCandidates(const Platform::Interfaces& interfaces, std::uint16_t port);

// Where paired devices on the same VPN reach the listener through this computer's tunnel links.
inline constexpr std::uint16_t vpnRelayPort = TessaloyNet::VPNRelay::defaultPort;

// The addresses of the tunnel links that are up, without link-local ones or zones, in the system's
// order: where the VPN relay listens.
std::vector<std::string> tunnelAddresses(const Platform::Interfaces& interfaces);

// "address:port", an IPv6 address in brackets.
std::string addressText(const std::string& address, std::uint16_t port);

// Puts IPv4 texts before IPv6 ones, keeping the order otherwise. A text is judged by its host
// part, so bare addresses and texts with a port sort alike: every "address:port" holds a colon.
void sortIPv4First(std::vector<std::string>& texts);

// The overlay-VPN addresses of the tunnel links as address texts with the VPN relay's port, IPv4
// first, at most as many as a session message carries: how a paired device reaches this computer
// from elsewhere on the VPN.
std::vector<std::string> remoteAddresses(const Platform::Interfaces& interfaces);

// This computer's direct addresses as address texts in the system's order, for display: the
// tunnel links' with the VPN relay's port, every other link's with `listenPort`; no loopback,
// no link-local addresses.
std::vector<std::string> localInterfaceAddresses(const Platform::Interfaces& interfaces, std::uint16_t listenPort);

} // namespace Plovander
