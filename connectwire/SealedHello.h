#pragma once

#include "connectwire/ConnectProtocol.h"
#include "connectwire/Decoded.h"

#include <cstddef>
#include <optional>

namespace TessaloyConnectWire {

// The first bytes of every relayed data connection: "ZQK1", version, the HPKE encapsulated key
// (u8 length) and the sealed DataHello (u16 length).
struct SealedHello {
    Bytes encapsulatedKey;
    Bytes ciphertext;

    // The parser's limit on the ciphertext; the encoder allows up to 65,535 bytes.
    static constexpr std::size_t maximumParsedCiphertext = 16'640;

    // Throws tooLarge for a key over 255 or a ciphertext over 65,535 bytes.
    Bytes encoded() const;
    // No value while incomplete; bytes after the hello are left to the caller.
    static std::optional<Decoded<SealedHello>> parse(ByteView buffer);

    friend bool operator==(const SealedHello&, const SealedHello&) = default;
};

} // namespace TessaloyConnectWire
