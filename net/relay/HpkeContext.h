#pragma once

#include "core/Bytes.h"

#include <cstdint>

namespace TessaloyNet {

// The AEADs of RFC 9180 that this code speaks, by their registry numbers.
enum class HpkeAead : std::uint16_t { aes128Gcm = 0x0001, aes256Gcm = 0x0002 };

// The encryption context an HPKE setup yields (RFC 9180, 5.2): the AEAD key, the base nonce and
// the sequence number of the next message. Sealing and opening each take the next number.
class HpkeContext {
public:
    static constexpr std::size_t nonceBytes = 12;
    static constexpr std::size_t tagBytes = 16;

    HpkeContext(HpkeAead aead, TessaloyCore::Bytes key, TessaloyCore::Bytes baseNonce)
        : aead_(aead), key_(std::move(key)), baseNonce_(std::move(baseNonce)) {}

    // The ciphertext with its 16-byte tag. Throws CryptoError.
    TessaloyCore::Bytes seal(TessaloyCore::ByteView aad, TessaloyCore::ByteView plaintext);
    // Throws CryptoError when the ciphertext does not open under this context.
    TessaloyCore::Bytes open(TessaloyCore::ByteView aad, TessaloyCore::ByteView ciphertext);

private:
    TessaloyCore::Bytes nextNonce();

    HpkeAead aead_;
    TessaloyCore::Bytes key_;
    TessaloyCore::Bytes baseNonce_;
    std::uint64_t sequence_ = 0;
};

} // namespace TessaloyNet
