#include "connectwire/ConnectRole.h"

namespace TessaloyConnectWire {

std::uint8_t wireByte(ConnectRole role) noexcept { return static_cast<std::uint8_t>(role) + 1; }

std::optional<ConnectRole> connectRole(std::uint8_t byte) noexcept {
    if (byte == 1) return ConnectRole::phone;
    if (byte == 2) return ConnectRole::mac;
    return std::nullopt;
}

} // namespace TessaloyConnectWire
