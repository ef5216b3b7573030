#include "net/relay/RelayTlsContext.h"

#include "net/channel/CryptoError.h"
#include "net/channel/SelfSignedCertificate.h"

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace TessaloyNet {

RelayTlsContext::RelayTlsContext(TessaloyCore::Bytes tlsKey)
    : tlsKey_(std::move(tlsKey)), context_(asio::ssl::context::tls_client) {
    SSL_CTX* handle = context_.native_handle();
    if (SSL_CTX_set_min_proto_version(handle, TLS1_3_VERSION) != 1) throw CryptoError("relay TLS setup failed");
    SSL_CTX_set_verify(handle, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(handle, &RelayTlsContext::verify, this);
}

int RelayTlsContext::verify(X509_STORE_CTX* store, void* self) {
    const auto* context = static_cast<const RelayTlsContext*>(self);
    const auto key = SelfSignedCertificate::publicKey(X509_STORE_CTX_get0_cert(store));
    if (key && SelfSignedCertificate::matches(*key, context->tlsKey_)) return 1;
    X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
    return 0;
}

} // namespace TessaloyNet
