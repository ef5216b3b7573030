#pragma once

#include "core/Bytes.h"

#include <asio/ssl/context.hpp>

namespace TessaloyNet {

// The TLS client side of the relay's control connection: TLS 1.3 only, and a peer accepted only
// when its leaf certificate carries `tlsKey` (constant-time comparison). No chain or host name is
// evaluated; OpenSSL still checks that the peer signed the handshake with that key.
class RelayTlsContext {
public:
    // Throws CryptoError.
    explicit RelayTlsContext(TessaloyCore::Bytes tlsKey);
    RelayTlsContext(const RelayTlsContext&) = delete;
    RelayTlsContext& operator=(const RelayTlsContext&) = delete;

    asio::ssl::context& context() noexcept { return context_; }

private:
    static int verify(X509_STORE_CTX* store, void* self);

    TessaloyCore::Bytes tlsKey_;
    asio::ssl::context context_;
};

} // namespace TessaloyNet
