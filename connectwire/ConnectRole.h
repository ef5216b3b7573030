#pragma once

#include <cstdint>
#include <optional>

namespace TessaloyConnectWire {

// Who sends a data hello. On the wire: 1 phone, 2 mac.
enum class ConnectRole : std::uint8_t { phone, mac };

std::uint8_t wireByte(ConnectRole role) noexcept;
std::optional<ConnectRole> connectRole(std::uint8_t byte) noexcept;

} // namespace TessaloyConnectWire
