// Feeds arbitrary payloads to the control payload decoders (the first byte picks the decoder) and
// aborts unless every decoded value encodes back to exactly the bytes it came from.
#include "core/ChannelRole.h"
#include "core/CursorUpdate.h"
#include "core/Ping.h"
#include "core/SessionEnd.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace TessaloyCore;

namespace {

template <typename Codec>
void roundTrip(WirePacket::Kind kind, const Bytes& payload) {
    const WirePacket packet(kind, payload);
    try {
        const Codec value = Codec::decode(packet);
        if (value.packet() != packet) std::abort();
        if (!(Codec::decode(value.packet()) == value)) std::abort();
    } catch (const CodecError<Codec>&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size - 1 > WirePacket::maximumPayloadBytes) return 0;
    const Bytes payload(data + 1, data + size);
    switch (data[0] % 4) {
        case 0:
            roundTrip<ChannelRole>(WirePacket::Kind::channelRole, payload);
            break;
        case 1:
            roundTrip<Ping>(WirePacket::Kind::ping, payload);
            break;
        case 2:
            roundTrip<SessionEnd>(WirePacket::Kind::endSession, payload);
            break;
        default:
            roundTrip<CursorUpdate>(WirePacket::Kind::cursorUpdate, payload);
            break;
    }
    return 0;
}
