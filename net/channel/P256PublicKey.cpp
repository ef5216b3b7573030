#include "net/channel/P256PublicKey.h"

#include "net/channel/CryptoError.h"
#include "net/channel/P256Curve.h"

#include <openssl/core_names.h>
#include <openssl/err.h>

#include <array>

namespace TessaloyNet {
namespace {

using TessaloyCore::Bytes;
using TessaloyCore::ByteView;

EvpPkeyHandle importPoint(ByteView x963) {
    ParamBuilderHandle builder(OSSL_PARAM_BLD_new());
    if (!builder ||
        OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, P256Curve::groupName, 0) != 1 ||
        OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, x963.data(), x963.size()) != 1) {
        throw CryptoError("could not describe a P-256 public key");
    }
    const ParamsHandle params(OSSL_PARAM_BLD_to_param(builder.get()));
    const EvpPkeyCtxHandle context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* imported = nullptr;
    if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &imported, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
        throw CryptoError("not a P-256 public key");
    }
    EvpPkeyHandle key(imported);
    // Decoding already refuses points off the curve; the full check also refuses the point at
    // infinity and anything outside the group.
    const EvpPkeyCtxHandle check(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    if (!check || EVP_PKEY_public_check(check.get()) != 1) throw CryptoError("not a point of P-256");
    return key;
}

} // namespace

P256PublicKey P256PublicKey::fromX963(ByteView x963) {
    if (x963.size() != x963Bytes || x963[0] != 0x04) {
        throw CryptoError("a P-256 public key must be 65 bytes in uncompressed form");
    }
    return P256PublicKey(importPoint(x963), Bytes(x963.begin(), x963.end()));
}

bool P256PublicKey::isValidX963(ByteView x963) noexcept {
    try {
        fromX963(x963);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::optional<P256PublicKey> P256PublicKey::from(const EVP_PKEY* key) {
    if (!key || !EVP_PKEY_is_a(key, "EC")) return std::nullopt;
    std::array<char, 64> group{};
    std::array<std::uint8_t, 1 + 2 * 66> encoded{};
    std::size_t encodedLength = 0;
    if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group.data(), group.size(), nullptr) != 1 ||
        !P256Curve::isGroupName(group.data()) ||
        EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, encoded.data(), encoded.size(), &encodedLength) !=
            1) {
        ERR_clear_error();
        return std::nullopt;
    }
    // A certificate may carry the compressed form; the rest of the system speaks only the
    // uncompressed one.
    const EcGroupHandle curve = P256Curve::newGroup();
    const EcPointHandle point(EC_POINT_new(curve.get()));
    Bytes x963(x963Bytes);
    if (!point || EC_POINT_oct2point(curve.get(), point.get(), encoded.data(), encodedLength, nullptr) != 1 ||
        EC_POINT_point2oct(curve.get(), point.get(), POINT_CONVERSION_UNCOMPRESSED, x963.data(), x963.size(),
                           nullptr) != x963Bytes) {
        ERR_clear_error();
        return std::nullopt;
    }
    try {
        return fromX963(x963);
    } catch (const CryptoError&) {
        return std::nullopt;
    }
}

P256PublicKey::P256PublicKey(const P256PublicKey& other) : x963_(other.x963_) {
    EVP_PKEY_up_ref(other.key_.get());
    key_.reset(other.key_.get());
}

P256PublicKey& P256PublicKey::operator=(const P256PublicKey& other) {
    if (this != &other) *this = P256PublicKey(other);
    return *this;
}

bool P256PublicKey::verify(ByteView signature, ByteView message) const noexcept {
    const EvpMdCtxHandle context(EVP_MD_CTX_new());
    const bool valid =
        context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key_.get()) == 1 &&
        EVP_DigestVerify(context.get(), signature.data(), signature.size(), message.data(), message.size()) == 1;
    // A malformed signature leaves errors in the queue; it is an answer here, not a failure.
    ERR_clear_error();
    return valid;
}

} // namespace TessaloyNet
