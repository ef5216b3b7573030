#include "core/ChannelRole.h"

#include "core/ByteReader.h"

namespace TessaloyCore {

const char* nameOf(ChannelRole role) noexcept {
    switch (role) {
        case ChannelRole::media:
            return "media";
        case ChannelRole::control:
            return "control";
    }
    return "unknown";
}

ChannelRole ChannelRole::decode(const WirePacket& packet) {
    if (packet.kind() != WirePacket::Kind::channelRole) throw Error(CodecProblem::wrongKind);
    return decodeAs<ChannelRole>([&] {
        ByteReader reader(packet.payload());
        const std::uint8_t byte = reader.u8();
        if (byte > static_cast<std::uint8_t>(control)) throw CodecError<ByteReader>(CodecProblem::invalidValue);
        reader.expectEnd();
        return ChannelRole(static_cast<Case>(byte));
    });
}

WirePacket ChannelRole::packet() const {
    return WirePacket(WirePacket::Kind::channelRole, Bytes{static_cast<std::uint8_t>(value_)});
}

} // namespace TessaloyCore
