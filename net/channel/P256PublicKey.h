#pragma once

#include "core/Bytes.h"
#include "net/channel/OpenSslHandles.h"

#include <cstddef>
#include <optional>

namespace TessaloyNet {

// A public key on the NIST P-256 curve, known by its 65-byte uncompressed X9.63 form (0x04, X, Y).
// Immutable; copies share the one OpenSSL key, which is safe to use from several threads at once.
class P256PublicKey {
public:
    static constexpr std::size_t x963Bytes = 65;

    // Throws CryptoError unless `x963` is 65 bytes, starts with 0x04 and names a point of the curve.
    static P256PublicKey fromX963(TessaloyCore::ByteView x963);
    static bool isValidX963(TessaloyCore::ByteView x963) noexcept;
    // The key of a certificate or handshake; nullopt unless it is an EC key on P-256.
    static std::optional<P256PublicKey> from(const EVP_PKEY* key);

    P256PublicKey(const P256PublicKey& other);
    P256PublicKey& operator=(const P256PublicKey& other);
    P256PublicKey(P256PublicKey&&) noexcept = default;
    P256PublicKey& operator=(P256PublicKey&&) noexcept = default;
    ~P256PublicKey() = default;

    // Always the uncompressed form, whatever form the key arrived in.
    const TessaloyCore::Bytes& x963Representation() const noexcept { return x963_; }

    // Whether `signature` (DER, as sign() makes it) is this key's ECDSA-SHA256 signature of `message`.
    bool verify(TessaloyCore::ByteView signature, TessaloyCore::ByteView message) const noexcept;

    // Borrowed; valid while this object lives.
    EVP_PKEY* handle() const noexcept { return key_.get(); }

    friend bool operator==(const P256PublicKey& a, const P256PublicKey& b) noexcept { return a.x963_ == b.x963_; }

private:
    P256PublicKey(EvpPkeyHandle key, TessaloyCore::Bytes x963) : key_(std::move(key)), x963_(std::move(x963)) {}

    EvpPkeyHandle key_;
    TessaloyCore::Bytes x963_;
};

} // namespace TessaloyNet
