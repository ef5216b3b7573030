#include "net/channel/TlsIdentity.h"

#include "net/channel/CryptoError.h"

namespace TessaloyNet {

void TlsIdentity::install(SSL_CTX* context) const {
    if (!context || SSL_CTX_use_certificate(context, certificate.handle()) != 1 ||
        SSL_CTX_use_PrivateKey(context, privateKey.handle()) != 1 || SSL_CTX_check_private_key(context) != 1) {
        throw CryptoError("could not install the TLS identity");
    }
}

} // namespace TessaloyNet
