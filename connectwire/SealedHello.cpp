#include "connectwire/SealedHello.h"

#include "connectwire/ConnectWireError.h"
#include "connectwire/WireReader.h"

#include <algorithm>

namespace TessaloyConnectWire {

Bytes SealedHello::encoded() const {
    if (encapsulatedKey.size() > 0xFF || ciphertext.size() > 0xFFFF) throw ConnectWireError(ConnectWireError::tooLarge);
    Bytes bytes(ConnectProtocol::dataMagic.begin(), ConnectProtocol::dataMagic.end());
    bytes.push_back(ConnectProtocol::version);
    bytes.push_back(static_cast<std::uint8_t>(encapsulatedKey.size()));
    bytes.insert(bytes.end(), encapsulatedKey.begin(), encapsulatedKey.end());
    bytes.push_back(static_cast<std::uint8_t>(ciphertext.size() >> 8));
    bytes.push_back(static_cast<std::uint8_t>(ciphertext.size()));
    bytes.insert(bytes.end(), ciphertext.begin(), ciphertext.end());
    return bytes;
}

std::optional<Decoded<SealedHello>> SealedHello::parse(ByteView buffer) {
    const std::size_t magicSeen = std::min(buffer.size(), ConnectProtocol::dataMagic.size());
    if (!std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(magicSeen),
                    ConnectProtocol::dataMagic.begin())) {
        throw ConnectWireError(ConnectWireError::badMagic);
    }
    WireReader reader(buffer);
    try {
        reader.bytes(ConnectProtocol::dataMagic.size());
        const std::uint8_t version = reader.u8();
        if (version != ConnectProtocol::version) throw ConnectWireError::unsupported(version);
        const ByteView key = reader.bytes(reader.u8());
        const std::size_t length = reader.u16();
        if (length > maximumParsedCiphertext) throw ConnectWireError(ConnectWireError::tooLarge);
        const ByteView ciphertext = reader.bytes(length);
        return Decoded<SealedHello>{
            SealedHello{Bytes(key.begin(), key.end()), Bytes(ciphertext.begin(), ciphertext.end())}, reader.offset()};
    } catch (const WireReader::NeedMore&) {
        return std::nullopt;
    }
}

} // namespace TessaloyConnectWire
