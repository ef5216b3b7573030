#include "net/channel/DeviceIdentity.h"

#include "core/Encoding.h"
#include "core/Sha256.h"
#include "net/channel/CryptoError.h"

#include <openssl/crypto.h>

namespace TessaloyNet {

const char* nameOf(DeviceIdentityProblem problem) noexcept {
    switch (problem) {
        case DeviceIdentityProblem::malformedItem:
            return "malformedItem";
    }
    return "unknown";
}

const char* descriptionOf(DeviceIdentityProblem problem) noexcept {
    switch (problem) {
        case DeviceIdentityProblem::malformedItem:
            return "This Mac's stored identity is damaged.";
    }
    return "Something went wrong.";
}

DeviceIdentity DeviceIdentity::loadOrCreate(TessaloyBase::Keychain& keychain) {
    if (auto stored = keychain.read(keychainService, keychainAccount)) {
        std::optional<P256PrivateKey> key;
        try {
            key = P256PrivateKey::fromRawRepresentation(*stored);
        } catch (const CryptoError&) {
        }
        OPENSSL_cleanse(stored->data(), stored->size());
        if (!key) throw Error(DeviceIdentityProblem::malformedItem);
        return DeviceIdentity(std::move(*key));
    }
    P256PrivateKey key = P256PrivateKey::generate();
    TessaloyBase::Keychain::Bytes raw = key.rawRepresentation();
    try {
        keychain.write(keychainService, keychainAccount, raw);
    } catch (...) {
        OPENSSL_cleanse(raw.data(), raw.size());
        throw;
    }
    OPENSSL_cleanse(raw.data(), raw.size());
    return DeviceIdentity(std::move(key));
}

std::string DeviceIdentity::fingerprint() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    std::size_t written = 0;
    for (const std::uint8_t byte : TessaloyCore::Sha256::of(publicKey())) {
        for (const char digit : {digits[byte >> 4], digits[byte & 0x0F]}) {
            if (written > 0 && written % 4 == 0) text += '-';
            text += digit;
            ++written;
        }
    }
    return text;
}

std::string DeviceIdentity::keyIdentifier() const {
    const auto digest = TessaloyCore::Sha256::of(publicKey());
    return TessaloyCore::hexString(TessaloyCore::ByteView(digest).first(8));
}

} // namespace TessaloyNet
