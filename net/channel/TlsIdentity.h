#pragma once

#include "net/channel/P256PrivateKey.h"
#include "net/channel/SelfSignedCertificate.h"

#include <openssl/ssl.h>

#include <string_view>

namespace TessaloyNet {

// What one end presents in a TLS handshake: its key and a self-signed certificate for it under its
// display name.
struct TlsIdentity {
    // Throws CryptoError.
    TlsIdentity(P256PrivateKey key, std::string_view displayName,
                SelfSignedCertificate::Date now = std::chrono::system_clock::now())
        : privateKey(std::move(key)), certificate(privateKey, displayName, now) {}

    P256PrivateKey privateKey;
    SelfSignedCertificate certificate;

    // Makes `context` present this identity. The context keeps its own references, so this
    // identity may go away afterwards. Throws CryptoError.
    void install(SSL_CTX* context) const;
};

} // namespace TessaloyNet
