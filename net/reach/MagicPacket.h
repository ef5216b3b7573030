#pragma once

#include "core/Bytes.h"

#include <optional>
#include <string>

namespace TessaloyNet {

// The wake-on-LAN magic packet: six bytes of 0xFF, then the 6-byte hardware address 16 times.
namespace MagicPacket {

inline constexpr std::size_t size = 102;

// Nothing unless `hardwareAddress` is 6 bytes long.
std::optional<TessaloyCore::Bytes> payload(TessaloyCore::ByteView hardwareAddress);
// "aa:bb:cc:00:11:22", for an address of any length.
std::string describe(TessaloyCore::ByteView hardwareAddress);

} // namespace MagicPacket
} // namespace TessaloyNet
