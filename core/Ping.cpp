#include "core/Ping.h"

#include "core/ByteReader.h"
#include "core/ByteWriter.h"

namespace TessaloyCore {
namespace {

constexpr std::uint8_t pingByte = 0;
constexpr std::uint8_t pongByte = 1;

} // namespace

Ping Ping::decode(const WirePacket& packet) {
    if (packet.kind() != WirePacket::Kind::ping) throw Error(CodecProblem::wrongKind);
    return decodeAs<Ping>([&] {
        ByteReader reader(packet.payload());
        const std::uint8_t type = reader.u8();
        const std::uint64_t token = reader.u64();
        if (type != pingByte && type != pongByte) throw CodecError<ByteReader>(CodecProblem::invalidValue);
        reader.expectEnd();
        return Ping{.isPong = type == pongByte, .token = token};
    });
}

WirePacket Ping::packet() const {
    ByteWriter writer(9);
    writer.u8(isPong ? pongByte : pingByte);
    writer.u64(token);
    return WirePacket(WirePacket::Kind::ping, writer.take());
}

} // namespace TessaloyCore
