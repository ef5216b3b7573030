#pragma once

#include "core/SessionMessage.h"
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

} // namespace Plovander
