#pragma once

#include "core/Bytes.h"
#include "net/channel/OpenSslHandles.h"
#include "net/channel/P256PrivateKey.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace TessaloyNet {

// An X.509 v3 certificate for a P-256 key, signed by that key, with the display name as subject CN.
// Peers are never judged by the certificate itself, only by the key inside it. Immutable; copies
// share the one OpenSSL object.
class SelfSignedCertificate {
public:
    using Date = std::chrono::system_clock::time_point;

    // X.509's upper bound for a common name; longer display names are cut to it.
    static constexpr std::size_t maximumNameCharacters = 64;
    // Valid from an hour before `now`, so a peer whose clock runs a little behind still accepts it.
    static constexpr std::chrono::hours backdating{1};
    static constexpr std::chrono::days lifetime{3650};

    // Throws CryptoError, also when `displayName` is not valid UTF-8.
    SelfSignedCertificate(const P256PrivateKey& key, std::string_view displayName,
                          Date now = std::chrono::system_clock::now());

    SelfSignedCertificate(const SelfSignedCertificate& other);
    SelfSignedCertificate& operator=(const SelfSignedCertificate& other);
    SelfSignedCertificate(SelfSignedCertificate&&) noexcept = default;
    SelfSignedCertificate& operator=(SelfSignedCertificate&&) noexcept = default;
    ~SelfSignedCertificate() = default;

    // Borrowed; valid while this object lives.
    X509* handle() const noexcept { return certificate_.get(); }
    // The DER encoding. Throws CryptoError.
    TessaloyCore::Bytes der() const;

    // True only when both are non-empty, of equal length and equal byte for byte; the time taken
    // depends on the lengths only, never on the contents.
    static bool matches(TessaloyCore::ByteView a, TessaloyCore::ByteView b) noexcept;
    // The certificate's P-256 key as 65 X9.63 bytes; nullopt without a certificate or for any other
    // kind of key.
    static std::optional<TessaloyCore::Bytes> publicKey(const X509* certificate);
    // The subject's common name as UTF-8; nullopt without one.
    static std::optional<std::string> commonName(const X509* certificate);

private:
    X509Handle certificate_;
};

} // namespace TessaloyNet
