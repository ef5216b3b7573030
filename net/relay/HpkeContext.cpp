#include "net/relay/HpkeContext.h"

#include "net/channel/CryptoError.h"
#include "net/channel/OpenSslHandles.h"

#include <openssl/evp.h>

#include <limits>

namespace TessaloyNet {

using TessaloyCore::Bytes;
using TessaloyCore::ByteView;

namespace {

using CipherCtxHandle = OpenSslHandle<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;

const EVP_CIPHER* cipherOf(HpkeAead aead) {
    return aead == HpkeAead::aes128Gcm ? EVP_aes_128_gcm() : EVP_aes_256_gcm();
}

int intLength(std::size_t length) {
    if (length > static_cast<std::size_t>(std::numeric_limits<int>::max())) throw CryptoError("HPKE message too long");
    return static_cast<int>(length);
}

} // namespace

Bytes HpkeContext::nextNonce() {
    if (sequence_ == std::numeric_limits<std::uint64_t>::max()) throw CryptoError("HPKE sequence exhausted");
    Bytes nonce = baseNonce_;
    for (std::size_t index = 0; index < 8; ++index) {
        nonce[nonceBytes - 1 - index] ^= static_cast<std::uint8_t>(sequence_ >> (8 * index));
    }
    ++sequence_;
    return nonce;
}

Bytes HpkeContext::seal(ByteView aad, ByteView plaintext) {
    const CipherCtxHandle context(EVP_CIPHER_CTX_new());
    const Bytes nonce = nextNonce();
    Bytes out(plaintext.size() + tagBytes);
    int written = 0;
    int finalWritten = 0;
    if (!context || EVP_EncryptInit_ex(context.get(), cipherOf(aead_), nullptr, key_.data(), nonce.data()) != 1 ||
        EVP_EncryptUpdate(context.get(), nullptr, &written, aad.data(), intLength(aad.size())) != 1 ||
        EVP_EncryptUpdate(context.get(), out.data(), &written, plaintext.data(), intLength(plaintext.size())) != 1 ||
        EVP_EncryptFinal_ex(context.get(), out.data() + written, &finalWritten) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, tagBytes, out.data() + plaintext.size()) != 1) {
        throw CryptoError("HPKE seal failed");
    }
    return out;
}

Bytes HpkeContext::open(ByteView aad, ByteView ciphertext) {
    if (ciphertext.size() < tagBytes) throw CryptoError("HPKE ciphertext too short");
    const std::size_t length = ciphertext.size() - tagBytes;
    Bytes tag(ciphertext.begin() + static_cast<std::ptrdiff_t>(length), ciphertext.end());
    const CipherCtxHandle context(EVP_CIPHER_CTX_new());
    const Bytes nonce = nextNonce();
    Bytes out(length);
    int written = 0;
    int finalWritten = 0;
    if (!context || EVP_DecryptInit_ex(context.get(), cipherOf(aead_), nullptr, key_.data(), nonce.data()) != 1 ||
        EVP_DecryptUpdate(context.get(), nullptr, &written, aad.data(), intLength(aad.size())) != 1 ||
        EVP_DecryptUpdate(context.get(), out.data(), &written, ciphertext.data(), intLength(length)) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, tagBytes, tag.data()) != 1 ||
        EVP_DecryptFinal_ex(context.get(), out.data() + written, &finalWritten) != 1) {
        throw CryptoError("HPKE open failed");
    }
    return out;
}

} // namespace TessaloyNet
