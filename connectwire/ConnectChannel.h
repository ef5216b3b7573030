#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace TessaloyConnectWire {

// Which connection a relayed call or hello is for. On the wire the case index plus one.
enum class ConnectChannel : std::uint8_t { media, control, lookup };

inline constexpr std::array<ConnectChannel, 3> allConnectChannels{ConnectChannel::media, ConnectChannel::control,
                                                                  ConnectChannel::lookup};

std::uint8_t wireByte(ConnectChannel channel) noexcept;
std::optional<ConnectChannel> connectChannel(std::uint8_t byte) noexcept;
const char* nameOf(ConnectChannel channel) noexcept;

} // namespace TessaloyConnectWire
