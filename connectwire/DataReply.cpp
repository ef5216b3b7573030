#include "connectwire/DataReply.h"

namespace TessaloyConnectWire {

std::optional<DataReply> dataReply(std::uint8_t rawValue) noexcept {
    if (rawValue == 3 || rawValue > static_cast<std::uint8_t>(DataReply::suspended)) return std::nullopt;
    return static_cast<DataReply>(rawValue);
}

} // namespace TessaloyConnectWire
