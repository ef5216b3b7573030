#pragma once

#include "connectwire/ConnectChannel.h"
#include "connectwire/ConnectProtocol.h"
#include "connectwire/ConnectRole.h"

#include <cstdint>

namespace TessaloyConnectWire {

// What a relayed data connection says about itself, sealed before it travels: who calls, on
// which channel, for which meeting (phone, 32-byte id) or call (mac, 16-byte session id), when,
// and a nonce.
struct DataHello {
    ConnectRole role = ConnectRole::mac;
    ConnectChannel channel = ConnectChannel::media;
    Bytes id;
    std::uint64_t sentAtMillis = 0;
    Bytes nonce;

    // 59 bytes for a phone, 43 for a Mac; throws malformed when the id or nonce length is wrong.
    Bytes encoded() const;
    // The relay service's side: throws unsupportedVersion, or malformed for anything out of shape.
    static DataHello decode(ByteView bytes);

    friend bool operator==(const DataHello&, const DataHello&) = default;
};

} // namespace TessaloyConnectWire
