#include "connectwire/DataHello.h"

#include "connectwire/ConnectWireError.h"
#include "connectwire/WireReader.h"

namespace TessaloyConnectWire {

namespace {

constexpr std::size_t nonceBytes = 16;

std::size_t idBytes(ConnectRole role) {
    return role == ConnectRole::phone ? ConnectProtocol::meetingIDBytes : ConnectProtocol::sessionIDBytes;
}

} // namespace

Bytes DataHello::encoded() const {
    if (id.size() != idBytes(role) || nonce.size() != nonceBytes) throw ConnectWireError(ConnectWireError::malformed);
    Bytes bytes;
    bytes.reserve(3 + id.size() + 8 + nonce.size());
    bytes.push_back(ConnectProtocol::version);
    bytes.push_back(wireByte(role));
    bytes.push_back(wireByte(channel));
    bytes.insert(bytes.end(), id.begin(), id.end());
    for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(sentAtMillis >> shift));
    bytes.insert(bytes.end(), nonce.begin(), nonce.end());
    return bytes;
}

DataHello DataHello::decode(ByteView bytes) {
    WireReader reader(bytes);
    try {
        const std::uint8_t version = reader.u8();
        if (version != ConnectProtocol::version) throw ConnectWireError::unsupported(version);
        const auto role = connectRole(reader.u8());
        if (!role) throw ConnectWireError(ConnectWireError::malformed);
        const auto channel = connectChannel(reader.u8());
        if (!channel) throw ConnectWireError(ConnectWireError::malformed);
        DataHello hello{.role = *role, .channel = *channel, .id = {}, .sentAtMillis = 0, .nonce = {}};
        const ByteView id = reader.bytes(idBytes(*role));
        hello.id.assign(id.begin(), id.end());
        hello.sentAtMillis = reader.u64();
        const ByteView nonce = reader.bytes(nonceBytes);
        hello.nonce.assign(nonce.begin(), nonce.end());
        if (reader.remaining() != 0) throw ConnectWireError(ConnectWireError::malformed);
        return hello;
    } catch (const WireReader::NeedMore&) {
        throw ConnectWireError(ConnectWireError::malformed);
    }
}

} // namespace TessaloyConnectWire
