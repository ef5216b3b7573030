#pragma once

#include "core/Bytes.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace Plovander {

using PublicKey = std::array<std::uint8_t, 32>;
using SignatureBytes = std::array<std::uint8_t, 64>;

// The two public keys a release must be signed with: the publisher's over the contents list and
// the notary's over its digest.
struct TrustedKeys {
    std::optional<PublicKey> publisher;
    std::optional<PublicKey> notary;

    // The keys built into this program; absent halves mean no release can be trusted.
    static TrustedKeys pinned();
    // A key written as 64 hexadecimal digits; nullopt for any other text.
    static std::optional<PublicKey> fromHex(std::string_view hex);
};

// An Ed25519 private key, as whoever releases keeps it (PEM, PKCS#8).
class SigningKey {
public:
    static SigningKey generate();
    // Throws std::runtime_error when the file does not hold an Ed25519 private key.
    static SigningKey load(const std::filesystem::path& pem);

    SigningKey(SigningKey&& other) noexcept;
    SigningKey& operator=(SigningKey&& other) noexcept;
    SigningKey(const SigningKey&) = delete;
    SigningKey& operator=(const SigningKey&) = delete;
    ~SigningKey();

    // Written 0600.
    void save(const std::filesystem::path& pem) const;
    PublicKey publicKey() const;
    SignatureBytes sign(TessaloyCore::ByteView message) const;

private:
    explicit SigningKey(void* key) : key_(key) {}
    void* key_; // EVP_PKEY
};

bool verifySignature(const PublicKey& key, TessaloyCore::ByteView message, TessaloyCore::ByteView signature);

} // namespace Plovander
