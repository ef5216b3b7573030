#pragma once

#include "core/Bytes.h"
#include "net/channel/OpenSslHandles.h"
#include "net/channel/P256PublicKey.h"

#include <cstddef>

namespace TessaloyNet {

// A private key on the NIST P-256 curve, used both for ECDSA-SHA256 signatures and for ECDH.
// Immutable; copies share the one OpenSSL key, which is safe to use from several threads at once.
class P256PrivateKey {
public:
    static constexpr std::size_t rawBytes = 32;

    // A fresh key from the system's generator. Throws CryptoError.
    static P256PrivateKey generate();
    // The key whose scalar is `raw`, 32 bytes big-endian. Throws CryptoError unless the scalar lies
    // in 1 ... n - 1.
    static P256PrivateKey fromRawRepresentation(TessaloyCore::ByteView raw);

    P256PrivateKey(const P256PrivateKey& other);
    P256PrivateKey& operator=(const P256PrivateKey& other);
    P256PrivateKey(P256PrivateKey&&) noexcept = default;
    P256PrivateKey& operator=(P256PrivateKey&&) noexcept = default;
    ~P256PrivateKey() = default;

    // The scalar, 32 bytes big-endian. Throws CryptoError.
    TessaloyCore::Bytes rawRepresentation() const;
    const P256PublicKey& publicKey() const noexcept { return publicKey_; }

    // ECDSA-SHA256 signature of `message`, DER-encoded. Throws CryptoError.
    TessaloyCore::Bytes sign(TessaloyCore::ByteView message) const;
    // The ECDH shared secret with `peer`: the 32-byte X coordinate. Throws CryptoError.
    TessaloyCore::Bytes sharedSecret(const P256PublicKey& peer) const;

    // Borrowed; valid while this object lives.
    EVP_PKEY* handle() const noexcept { return key_.get(); }

private:
    P256PrivateKey(EvpPkeyHandle key, P256PublicKey publicKey)
        : key_(std::move(key)), publicKey_(std::move(publicKey)) {}

    EvpPkeyHandle key_;
    P256PublicKey publicKey_;
};

} // namespace TessaloyNet
