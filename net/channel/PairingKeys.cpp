#include "net/channel/PairingKeys.h"

#include "net/channel/CryptoError.h"
#include "net/channel/Kdf.h"
#include "net/channel/P256Curve.h"

#include <openssl/crypto.h>

namespace TessaloyNet {
namespace {

using TessaloyCore::Bytes;
using TessaloyCore::ByteView;

ByteView bytesOf(std::string_view text) { return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}; }

// Wipes derived secrets when they go out of scope.
struct Wiped {
    Bytes bytes;
    ~Wiped() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

} // namespace

Bytes PairingKeys::seed(const PairingCode& code, ByteView salt) {
    return pbkdf2HmacSha256(bytesOf(code.symbols()), salt, iterations, seedBytes);
}

P256PrivateKey PairingKeys::identity(ByteView seed, std::string_view info) {
    const Wiped material{hkdfSha256(seed, bytesOf(hkdfSalt), bytesOf(info), scalarMaterialBytes)};

    // 48 bytes reduced mod n - 1, plus 1: a scalar in 1 ... n - 1 with negligible bias.
    const EcGroupHandle group = P256Curve::newGroup();
    const BnCtxHandle arithmetic(BN_CTX_secure_new());
    const BignumHandle value(BN_secure_new());
    const BignumHandle modulus(BN_dup(EC_GROUP_get0_order(group.get())));
    const BignumHandle scalar(BN_secure_new());
    if (!arithmetic || !value || !modulus || !scalar ||
        !BN_bin2bn(material.bytes.data(), static_cast<int>(material.bytes.size()), value.get()) ||
        !BN_sub_word(modulus.get(), 1) || !BN_nnmod(scalar.get(), value.get(), modulus.get(), arithmetic.get()) ||
        !BN_add_word(scalar.get(), 1)) {
        throw CryptoError("could not reduce the pairing key material");
    }
    Wiped raw{Bytes(P256PrivateKey::rawBytes)};
    if (BN_bn2binpad(scalar.get(), raw.bytes.data(), static_cast<int>(raw.bytes.size())) !=
        static_cast<int>(raw.bytes.size())) {
        throw CryptoError("the pairing scalar does not fit 32 bytes");
    }
    return P256PrivateKey::fromRawRepresentation(raw.bytes);
}

PairingKeys PairingKeys::derive(const PairingCode& code, ByteView salt) {
    const Wiped shared{seed(code, salt)};
    return PairingKeys{identity(shared.bytes, macInfo), identity(shared.bytes, deviceInfo)};
}

} // namespace TessaloyNet
