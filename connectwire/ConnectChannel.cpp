#include "connectwire/ConnectChannel.h"

namespace TessaloyConnectWire {

std::uint8_t wireByte(ConnectChannel channel) noexcept { return static_cast<std::uint8_t>(channel) + 1; }

std::optional<ConnectChannel> connectChannel(std::uint8_t byte) noexcept {
    if (byte < 1 || byte > allConnectChannels.size()) return std::nullopt;
    return static_cast<ConnectChannel>(byte - 1);
}

const char* nameOf(ConnectChannel channel) noexcept {
    switch (channel) {
        case ConnectChannel::media:
            return "media";
        case ConnectChannel::control:
            return "control";
        case ConnectChannel::lookup:
            return "lookup";
    }
    return "unknown";
}

} // namespace TessaloyConnectWire
