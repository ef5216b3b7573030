#include "net/channel/SelfSignedCertificate.h"

#include "core/ByteReader.h"
#include "core/UnicodeText.h"
#include "net/channel/CryptoError.h"
#include "net/channel/RandomBytes.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

namespace TessaloyNet {
namespace {

using TessaloyCore::Bytes;
using TessaloyCore::ByteView;

void setSerialNumber(X509* certificate) {
    // 20 random bytes, positive and without leading zero byte, as RFC 5280 allows at most.
    Bytes serial = randomBytes(20);
    serial[0] = static_cast<std::uint8_t>((serial[0] & 0x7F) | 0x40);
    const BignumHandle number(BN_bin2bn(serial.data(), static_cast<int>(serial.size()), nullptr));
    if (!number || !BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate))) {
        throw CryptoError("could not set the certificate's serial number");
    }
}

void setValidity(X509* certificate, SelfSignedCertificate::Date now) {
    using Clock = std::chrono::system_clock;
    const auto notBefore = Clock::to_time_t(now - SelfSignedCertificate::backdating);
    const auto notAfter = Clock::to_time_t(now + SelfSignedCertificate::lifetime);
    if (!ASN1_TIME_set(X509_getm_notBefore(certificate), notBefore) ||
        !ASN1_TIME_set(X509_getm_notAfter(certificate), notAfter)) {
        throw CryptoError("could not set the certificate's validity");
    }
}

void setNames(X509* certificate, std::string_view displayName) {
    if (!TessaloyCore::isValidUtf8(displayName)) throw CryptoError("the display name is not valid UTF-8");
    const std::string commonName(
        TessaloyCore::leadingScalars(displayName, SelfSignedCertificate::maximumNameCharacters));
    X509_NAME* name = X509_get_subject_name(certificate);
    if (X509_NAME_add_entry_by_NID(name, NID_commonName, V_ASN1_UTF8STRING,
                                   reinterpret_cast<const unsigned char*>(commonName.c_str()),
                                   static_cast<int>(commonName.size()), -1, 0) != 1 ||
        X509_set_issuer_name(certificate, name) != 1) {
        throw CryptoError("could not set the certificate's name");
    }
}

void addExtensions(X509* certificate) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    const std::pair<int, const char*> extensions[] = {
        {NID_basic_constraints, "critical,CA:FALSE"},
        {NID_key_usage, "critical,digitalSignature"},
        {NID_ext_key_usage, "serverAuth,clientAuth"},
        {NID_subject_key_identifier, "hash"},
    };
    for (const auto& [nid, value] : extensions) {
        X509_EXTENSION* extension = X509V3_EXT_nconf_nid(nullptr, &context, nid, value);
        const bool added = extension && X509_add_ext(certificate, extension, -1) == 1;
        X509_EXTENSION_free(extension);
        if (!added) throw CryptoError("could not add a certificate extension");
    }
}

} // namespace

SelfSignedCertificate::SelfSignedCertificate(const P256PrivateKey& key, std::string_view displayName, Date now)
    : certificate_(X509_new()) {
    X509* certificate = certificate_.get();
    if (!certificate || X509_set_version(certificate, X509_VERSION_3) != 1) {
        throw CryptoError("could not make a certificate");
    }
    setSerialNumber(certificate);
    setValidity(certificate, now);
    setNames(certificate, displayName);
    if (X509_set_pubkey(certificate, key.handle()) != 1) throw CryptoError("could not set the certificate's key");
    addExtensions(certificate);
    if (X509_sign(certificate, key.handle(), EVP_sha256()) <= 0) throw CryptoError("could not sign the certificate");
}

SelfSignedCertificate::SelfSignedCertificate(const SelfSignedCertificate& other) {
    X509_up_ref(other.certificate_.get());
    certificate_.reset(other.certificate_.get());
}

SelfSignedCertificate& SelfSignedCertificate::operator=(const SelfSignedCertificate& other) {
    if (this != &other) *this = SelfSignedCertificate(other);
    return *this;
}

Bytes SelfSignedCertificate::der() const {
    const int length = i2d_X509(certificate_.get(), nullptr);
    if (length <= 0) throw CryptoError("could not encode the certificate");
    Bytes encoded(static_cast<std::size_t>(length));
    unsigned char* cursor = encoded.data();
    if (i2d_X509(certificate_.get(), &cursor) != length) throw CryptoError("could not encode the certificate");
    return encoded;
}

bool SelfSignedCertificate::matches(ByteView a, ByteView b) noexcept {
    return !a.empty() && a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::optional<Bytes> SelfSignedCertificate::publicKey(const X509* certificate) {
    if (!certificate) return std::nullopt;
    const EVP_PKEY* key = X509_get0_pubkey(certificate);
    ERR_clear_error();
    auto publicKey = P256PublicKey::from(key);
    if (!publicKey) return std::nullopt;
    return publicKey->x963Representation();
}

std::optional<std::string> SelfSignedCertificate::commonName(const X509* certificate) {
    if (!certificate) return std::nullopt;
    const X509_NAME* subject = X509_get_subject_name(certificate);
    int found = -1;
    for (int next = -1; (next = X509_NAME_get_index_by_NID(subject, NID_commonName, next)) >= 0;) found = next;
    if (found < 0) return std::nullopt;
    // The most specific common name is the last one.
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, found));
    unsigned char* utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, value);
    if (length < 0) {
        ERR_clear_error();
        return std::nullopt;
    }
    std::string name(reinterpret_cast<const char*>(utf8), static_cast<std::size_t>(length));
    OPENSSL_free(utf8);
    if (!TessaloyCore::isValidUtf8(name)) return std::nullopt;
    return name;
}

} // namespace TessaloyNet
