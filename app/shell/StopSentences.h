#pragma once

#include "net/session/HostSessionState.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Platform {
class UserDefaults;
}

namespace Plovander {

// The sentence shown in the menu after a session stopped for `reason`.
std::string stopReasonText(const TessaloyNet::HostSessionState::StopReason& reason);

// The sentence shown for a connection the listener refused, or nullopt when a connection that
// merely broke off is not worth showing. `advertising`: a pairing offer is out.
std::optional<std::string> rejectionMessage(std::string_view reason, bool advertising);

// "This Mac already has 3 paired devices. Forget one below to pair another."
const std::string& pairingLimitText();

// The port for paired devices: the "TessaloyListenPort" setting when it is a port number
// (1...65,535), else the LAN transport's default port.
std::uint16_t listenPort(const Platform::UserDefaults& defaults);

} // namespace Plovander
