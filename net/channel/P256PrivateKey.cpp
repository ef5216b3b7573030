#include "net/channel/P256PrivateKey.h"

#include "net/channel/CryptoError.h"
#include "net/channel/P256Curve.h"

#include <openssl/core_names.h>

namespace TessaloyNet {

using TessaloyCore::Bytes;
using TessaloyCore::ByteView;

P256PrivateKey P256PrivateKey::generate() {
    const EvpPkeyCtxHandle context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* generated = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_group_name(context.get(), P256Curve::groupName) != 1 ||
        EVP_PKEY_generate(context.get(), &generated) != 1) {
        throw CryptoError("could not generate a P-256 key");
    }
    EvpPkeyHandle key(generated);
    auto publicKey = P256PublicKey::from(key.get());
    if (!publicKey) throw CryptoError("the generated P-256 key has no public key");
    return P256PrivateKey(std::move(key), std::move(*publicKey));
}

P256PrivateKey P256PrivateKey::fromRawRepresentation(ByteView raw) {
    if (raw.size() != rawBytes) throw CryptoError("a P-256 private key must be 32 bytes");
    const EcGroupHandle group = P256Curve::newGroup();
    const BnCtxHandle arithmetic(BN_CTX_secure_new());
    const BignumHandle scalar(BN_secure_new());
    if (!arithmetic || !scalar || !BN_bin2bn(raw.data(), static_cast<int>(raw.size()), scalar.get())) {
        throw CryptoError("could not read a P-256 private key");
    }
    if (BN_is_zero(scalar.get()) || BN_cmp(scalar.get(), EC_GROUP_get0_order(group.get())) >= 0) {
        throw CryptoError("a P-256 private key must lie between 1 and the group order");
    }

    const EcPointHandle point(EC_POINT_new(group.get()));
    Bytes x963(P256PublicKey::x963Bytes);
    if (!point || EC_POINT_mul(group.get(), point.get(), scalar.get(), nullptr, nullptr, arithmetic.get()) != 1 ||
        EC_POINT_point2oct(group.get(), point.get(), POINT_CONVERSION_UNCOMPRESSED, x963.data(), x963.size(),
                           arithmetic.get()) != x963.size()) {
        throw CryptoError("could not compute a P-256 public key");
    }

    ParamBuilderHandle builder(OSSL_PARAM_BLD_new());
    if (!builder ||
        OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, P256Curve::groupName, 0) != 1 ||
        OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_PRIV_KEY, scalar.get()) != 1 ||
        OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, x963.data(), x963.size()) != 1) {
        throw CryptoError("could not describe a P-256 private key");
    }
    const ParamsHandle params(OSSL_PARAM_BLD_to_param(builder.get()));
    const EvpPkeyCtxHandle context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* imported = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &imported, EVP_PKEY_KEYPAIR, params.get()) != 1) {
        throw CryptoError("could not load a P-256 private key");
    }
    EvpPkeyHandle key(imported);
    return P256PrivateKey(std::move(key), P256PublicKey::fromX963(x963));
}

P256PrivateKey::P256PrivateKey(const P256PrivateKey& other) : publicKey_(other.publicKey_) {
    EVP_PKEY_up_ref(other.key_.get());
    key_.reset(other.key_.get());
}

P256PrivateKey& P256PrivateKey::operator=(const P256PrivateKey& other) {
    if (this != &other) *this = P256PrivateKey(other);
    return *this;
}

Bytes P256PrivateKey::rawRepresentation() const {
    BIGNUM* exported = nullptr;
    if (EVP_PKEY_get_bn_param(key_.get(), OSSL_PKEY_PARAM_PRIV_KEY, &exported) != 1) {
        throw CryptoError("could not read the P-256 private scalar");
    }
    const BignumHandle scalar(exported);
    Bytes raw(rawBytes);
    if (BN_bn2binpad(scalar.get(), raw.data(), static_cast<int>(raw.size())) != static_cast<int>(rawBytes)) {
        throw CryptoError("the P-256 private scalar does not fit 32 bytes");
    }
    return raw;
}

Bytes P256PrivateKey::sign(ByteView message) const {
    const EvpMdCtxHandle context(EVP_MD_CTX_new());
    std::size_t length = 0;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length, message.data(), message.size()) != 1) {
        throw CryptoError("could not start an ECDSA signature");
    }
    Bytes signature(length);
    if (EVP_DigestSign(context.get(), signature.data(), &length, message.data(), message.size()) != 1) {
        throw CryptoError("could not sign with ECDSA");
    }
    signature.resize(length);
    return signature;
}

Bytes P256PrivateKey::sharedSecret(const P256PublicKey& peer) const {
    const EvpPkeyCtxHandle context(EVP_PKEY_CTX_new_from_pkey(nullptr, key_.get(), nullptr));
    std::size_t length = 0;
    if (!context || EVP_PKEY_derive_init(context.get()) != 1 ||
        EVP_PKEY_derive_set_peer(context.get(), peer.handle()) != 1 ||
        EVP_PKEY_derive(context.get(), nullptr, &length) != 1) {
        throw CryptoError("could not start an ECDH agreement");
    }
    Bytes secret(length);
    if (EVP_PKEY_derive(context.get(), secret.data(), &length) != 1) throw CryptoError("ECDH agreement failed");
    secret.resize(length);
    return secret;
}

} // namespace TessaloyNet
