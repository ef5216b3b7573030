#pragma once

#include <cstdint>
#include <optional>

namespace TessaloyConnectWire {

// The one byte a relay service answers on a data connection after reading the sealed hello.
enum class DataReply : std::uint8_t {
    connected = 0,
    macNotOnline = 1,
    macDidNotAnswer = 2,
    badHello = 4,
    staleHello = 5,
    unsupportedVersion = 6,
    busy = 7,
    candidates = 8,
    suspended = 9,
};

std::optional<DataReply> dataReply(std::uint8_t rawValue) noexcept;

} // namespace TessaloyConnectWire
