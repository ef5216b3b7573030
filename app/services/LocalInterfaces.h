#pragma once

#include "core/SessionMessage.h"
#include "platform/Interfaces.h"

#include <vector>

namespace Plovander {

// The wired and wireless links that are up and running, each with its hardware address and a
// routable IPv4 address, by name: where the paired device can wake this computer.
std::vector<TessaloyCore::SessionMessage::WakeTarget> localEthernetInterfaces(const Platform::Interfaces& interfaces);

} // namespace Plovander
