#pragma once

#include "core/Bytes.h"
#include "net/channel/P256PrivateKey.h"
#include "net/channel/P256PublicKey.h"
#include "net/relay/HpkeContext.h"

namespace TessaloyNet {

// HPKE base mode (RFC 9180) with DHKEM(P-256, HKDF-SHA256) and HKDF-SHA256, over OpenSSL.
namespace Hpke {

struct Sender {
    TessaloyCore::Bytes encapsulatedKey; // 65 bytes, the ephemeral public key
    HpkeContext context;
};

// A sender to `recipient` with a fresh ephemeral key. Throws CryptoError.
Sender setupBaseSender(const P256PublicKey& recipient, TessaloyCore::ByteView info, HpkeAead aead);
// The same with a given ephemeral key, for known-answer checks.
Sender setupBaseSender(const P256PublicKey& recipient, TessaloyCore::ByteView info, HpkeAead aead,
                       const P256PrivateKey& ephemeral);
// The receiver of what a sender sealed with `encapsulatedKey`. Throws CryptoError for a key that is
// not a point of the curve.
HpkeContext setupBaseReceiver(TessaloyCore::ByteView encapsulatedKey, const P256PrivateKey& recipient,
                              TessaloyCore::ByteView info, HpkeAead aead);

} // namespace Hpke

} // namespace TessaloyNet
