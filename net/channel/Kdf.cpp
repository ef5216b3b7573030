#include "net/channel/Kdf.h"

#include "net/channel/CryptoError.h"
#include "net/channel/OpenSslHandles.h"

#include <openssl/core_names.h>

#include <vector>

namespace TessaloyNet {
namespace {

using TessaloyCore::Bytes;
using TessaloyCore::ByteView;

OSSL_PARAM octets(const char* name, ByteView bytes) {
    // OpenSSL takes an empty parameter without data for a missing one.
    static const std::uint8_t empty = 0;
    const std::uint8_t* data = bytes.empty() ? &empty : bytes.data();
    // OpenSSL only reads parameters passed in; its signature is simply not const.
    return OSSL_PARAM_construct_octet_string(name, const_cast<std::uint8_t*>(data), bytes.size());
}

Bytes derive(const char* algorithm, std::vector<OSSL_PARAM> params, std::size_t length) {
    if (length == 0) return {};
    const EvpKdfHandle kdf(EVP_KDF_fetch(nullptr, algorithm, nullptr));
    const EvpKdfCtxHandle context(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr);
    params.push_back(OSSL_PARAM_construct_end());
    Bytes out(length);
    if (!context || EVP_KDF_derive(context.get(), out.data(), out.size(), params.data()) != 1) {
        throw CryptoError(std::string(algorithm) + " derivation failed");
    }
    return out;
}

} // namespace

Bytes hkdfSha256(ByteView key, ByteView salt, ByteView info, std::size_t length) {
    char digest[] = "SHA256";
    std::vector<OSSL_PARAM> params{OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
                                   octets(OSSL_KDF_PARAM_KEY, key)};
    if (!salt.empty()) params.push_back(octets(OSSL_KDF_PARAM_SALT, salt));
    if (!info.empty()) params.push_back(octets(OSSL_KDF_PARAM_INFO, info));
    return derive(OSSL_KDF_NAME_HKDF, std::move(params), length);
}

Bytes pbkdf2HmacSha256(ByteView password, ByteView salt, std::uint64_t iterations, std::size_t length) {
    char digest[] = "SHA256";
    // PKCS#5 mode: the caller chooses iteration count and salt, without the provider's SP 800-132
    // lower bounds.
    int pkcs5 = 1;
    std::vector<OSSL_PARAM> params{OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
                                   octets(OSSL_KDF_PARAM_PASSWORD, password), octets(OSSL_KDF_PARAM_SALT, salt),
                                   OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_ITER, &iterations),
                                   OSSL_PARAM_construct_int(OSSL_KDF_PARAM_PKCS5, &pkcs5)};
    return derive(OSSL_KDF_NAME_PBKDF2, std::move(params), length);
}

} // namespace TessaloyNet
