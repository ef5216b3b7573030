#include "net/reach/MagicPacket.h"

#include "core/Encoding.h"

namespace TessaloyNet::MagicPacket {

std::optional<TessaloyCore::Bytes> payload(TessaloyCore::ByteView hardwareAddress) {
    if (hardwareAddress.size() != 6) return std::nullopt;
    TessaloyCore::Bytes packet(6, 0xFF);
    packet.reserve(size);
    for (int copy = 0; copy < 16; ++copy) packet.insert(packet.end(), hardwareAddress.begin(), hardwareAddress.end());
    return packet;
}

std::string describe(TessaloyCore::ByteView hardwareAddress) {
    std::string text;
    for (const std::string& byte : TessaloyCore::hexBytes(hardwareAddress)) {
        if (!text.empty()) text += ':';
        text += byte;
    }
    return text;
}

} // namespace TessaloyNet::MagicPacket
