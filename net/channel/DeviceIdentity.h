#pragma once

#include "base/Keychain.h"
#include "core/Bytes.h"
#include "core/CaseError.h"
#include "net/channel/P256PrivateKey.h"

#include <string>
#include <string_view>

namespace TessaloyNet {

enum class DeviceIdentityProblem { malformedItem };
const char* nameOf(DeviceIdentityProblem problem) noexcept;
// The sentence for the user.
const char* descriptionOf(DeviceIdentityProblem problem) noexcept;

// This Mac's long-term P-256 key: it signs this Mac's certificate in trusted mode and serves ECDH
// for the meeting identifiers. Kept in the Keychain as the 32-byte raw scalar.
class DeviceIdentity {
public:
    using Error = TessaloyCore::CaseError<DeviceIdentityProblem>;

    static constexpr std::string_view keychainService = "dev.tessaloy.identity";
    static constexpr std::string_view keychainAccount = "device-key-v1";

    // The stored key, or a new one stored first when there is none. An item that cannot be read
    // (KeychainError) or does not hold a valid key (Error malformedItem) is reported and left as
    // it is: replacing it would silently unpair every device. Throws CryptoError and KeychainError.
    static DeviceIdentity loadOrCreate(TessaloyBase::Keychain& keychain);

    explicit DeviceIdentity(P256PrivateKey privateKey) : privateKey_(std::move(privateKey)) {}

    const P256PrivateKey& privateKey() const noexcept { return privateKey_; }
    // 65 bytes, uncompressed X9.63: what this Mac sends in its pairing exchange.
    const TessaloyCore::Bytes& publicKey() const noexcept { return privateKey_.publicKey().x963Representation(); }

    // SHA-256 of the public key in upper-case hexadecimal, in groups of four joined by "-"
    // ("3F9A-0C11-..."): the ID the paired device shows for this Mac.
    std::string fingerprint() const;
    // The first 8 bytes of SHA-256 of the public key in lower-case hexadecimal: the Bonjour "k"
    // value and the connect link's "mac".
    std::string keyIdentifier() const;

private:
    P256PrivateKey privateKey_;
};

} // namespace TessaloyNet
