#pragma once

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>

#include <memory>

namespace TessaloyNet {

// Owners of OpenSSL objects: each frees its object with the library's own function.
template <typename T, void (*Free)(T*)>
struct OpenSslDeleter {
    void operator()(T* object) const noexcept { Free(object); }
};

template <typename T, void (*Free)(T*)>
using OpenSslHandle = std::unique_ptr<T, OpenSslDeleter<T, Free>>;

using EvpPkeyHandle = OpenSslHandle<EVP_PKEY, EVP_PKEY_free>;
using EvpPkeyCtxHandle = OpenSslHandle<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using EvpMdCtxHandle = OpenSslHandle<EVP_MD_CTX, EVP_MD_CTX_free>;
using EvpKdfHandle = OpenSslHandle<EVP_KDF, EVP_KDF_free>;
using EvpKdfCtxHandle = OpenSslHandle<EVP_KDF_CTX, EVP_KDF_CTX_free>;
using BignumHandle = OpenSslHandle<BIGNUM, BN_clear_free>;
using BnCtxHandle = OpenSslHandle<BN_CTX, BN_CTX_free>;
using EcGroupHandle = OpenSslHandle<EC_GROUP, EC_GROUP_free>;
using EcPointHandle = OpenSslHandle<EC_POINT, EC_POINT_free>;
using ParamBuilderHandle = OpenSslHandle<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>;
using ParamsHandle = OpenSslHandle<OSSL_PARAM, OSSL_PARAM_free>;
using X509Handle = OpenSslHandle<X509, X509_free>;

} // namespace TessaloyNet
