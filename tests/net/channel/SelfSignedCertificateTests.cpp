#include "net/channel/CryptoError.h"
#include "net/channel/SelfSignedCertificate.h"
#include "net/channel/TlsIdentity.h"

#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <string>

namespace {

using namespace std::chrono_literals;
using TessaloyCore::Bytes;
using TessaloyNet::CryptoError;
using TessaloyNet::P256PrivateKey;
using TessaloyNet::SelfSignedCertificate;
using TessaloyNet::TlsIdentity;
using Date = SelfSignedCertificate::Date;

std::time_t timeOf(const ASN1_TIME* time) {
    std::tm parts{};
    EXPECT_EQ(ASN1_TIME_to_tm(time, &parts), 1);
    return timegm(&parts);
}

std::string repeated(std::string_view piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += piece;
    return text;
}

TEST(SelfSignedCertificate, NamesItsSubjectAndIssuerByTheDisplayName) {
    const P256PrivateKey key = P256PrivateKey::generate();
    const SelfSignedCertificate certificate(key, "Anna’s desk computer");
    EXPECT_EQ(SelfSignedCertificate::commonName(certificate.handle()), "Anna’s desk computer");
    EXPECT_EQ(X509_NAME_cmp(X509_get_subject_name(certificate.handle()), X509_get_issuer_name(certificate.handle())),
              0);
}

TEST(SelfSignedCertificate, CutsLongNamesToSixtyFourCharacters) {
    const P256PrivateKey key = P256PrivateKey::generate();
    const std::string name = repeated("é", 35) + repeated("x", 35); // 70 characters, 105 bytes
    const SelfSignedCertificate certificate(key, name);
    EXPECT_EQ(SelfSignedCertificate::commonName(certificate.handle()), repeated("é", 35) + repeated("x", 29));

    EXPECT_EQ(SelfSignedCertificate::commonName(SelfSignedCertificate(key, "").handle()), "");
    EXPECT_THROW(SelfSignedCertificate(key, "bad \xC3"), CryptoError);
}

TEST(SelfSignedCertificate, IsAVersionThreeCertificateSignedByItsKey) {
    const P256PrivateKey key = P256PrivateKey::generate();
    const SelfSignedCertificate certificate(key, "Mac");
    X509* x509 = certificate.handle();
    EXPECT_EQ(X509_get_version(x509), X509_VERSION_3);
    EXPECT_EQ(X509_verify(x509, key.handle()), 1);
    EXPECT_EQ(X509_verify(x509, P256PrivateKey::generate().handle()), 0);
    ERR_clear_error();
    EXPECT_NE(X509_get_extension_flags(x509) & EXFLAG_SI, 0u) << "self-issued";
    EXPECT_EQ(X509_check_ca(x509), 0);
    EXPECT_EQ(X509_get_key_usage(x509), static_cast<std::uint32_t>(KU_DIGITAL_SIGNATURE));
    EXPECT_EQ(X509_get_extended_key_usage(x509), static_cast<std::uint32_t>(XKU_SSL_SERVER | XKU_SSL_CLIENT));
}

TEST(SelfSignedCertificate, IsValidFromAnHourAgoForTenYears) {
    const Date now{std::chrono::seconds(1'700'000'000)};
    const SelfSignedCertificate certificate(P256PrivateKey::generate(), "Mac", now);
    EXPECT_EQ(timeOf(X509_get0_notBefore(certificate.handle())), 1'700'000'000 - 3'600);
    EXPECT_EQ(timeOf(X509_get0_notAfter(certificate.handle())), 1'700'000'000 + 3'650 * 86'400);
}

TEST(SelfSignedCertificate, HasARandomPositiveSerialNumber) {
    const P256PrivateKey key = P256PrivateKey::generate();
    const SelfSignedCertificate first(key, "Mac");
    const SelfSignedCertificate second(key, "Mac");
    const ASN1_INTEGER* a = X509_get0_serialNumber(first.handle());
    const ASN1_INTEGER* b = X509_get0_serialNumber(second.handle());
    EXPECT_NE(ASN1_INTEGER_cmp(a, b), 0);
    EXPECT_EQ(ASN1_STRING_type(a), V_ASN1_INTEGER) << "not negative";
    EXPECT_EQ(ASN1_STRING_length(a), 20);
}

TEST(SelfSignedCertificate, GivesBackItsKeyInX963Form) {
    const P256PrivateKey key = P256PrivateKey::generate();
    const SelfSignedCertificate certificate(key, "Mac");
    EXPECT_EQ(SelfSignedCertificate::publicKey(certificate.handle()), key.publicKey().x963Representation());

    const Bytes der = certificate.der();
    const unsigned char* cursor = der.data();
    X509* decoded = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(SelfSignedCertificate::publicKey(decoded), key.publicKey().x963Representation());
    EXPECT_EQ(SelfSignedCertificate::commonName(decoded), "Mac");
    X509_free(decoded);

    const SelfSignedCertificate copy = certificate;
    EXPECT_EQ(copy.handle(), certificate.handle());
    EXPECT_EQ(SelfSignedCertificate::publicKey(nullptr), std::nullopt);
    EXPECT_EQ(SelfSignedCertificate::commonName(nullptr), std::nullopt);
}

TEST(SelfSignedCertificate, ReadsCompressedKeysAsUncompressed) {
    const P256PrivateKey key = P256PrivateKey::generate();
    EVP_PKEY* compressed = EVP_PKEY_dup(key.handle());
    ASSERT_NE(compressed, nullptr);
    ASSERT_EQ(EVP_PKEY_set_utf8_string_param(compressed, OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT, "compressed"), 1);
    X509* certificate = X509_new();
    ASSERT_EQ(X509_set_pubkey(certificate, compressed), 1);
    const Bytes der = [&] {
        const X509_PUBKEY* info = X509_get_X509_PUBKEY(certificate);
        const unsigned char* point = nullptr;
        int length = 0;
        X509_PUBKEY_get0_param(nullptr, &point, &length, nullptr, info);
        return Bytes(point, point + length);
    }();
    EXPECT_EQ(der.size(), 33u) << "the certificate carries the compressed form";
    EXPECT_EQ(SelfSignedCertificate::publicKey(certificate), key.publicKey().x963Representation());
    X509_free(certificate);
    EVP_PKEY_free(compressed);
}

TEST(SelfSignedCertificate, KnowsNoKeyOfAnotherCurveAndNoMissingName) {
    EVP_PKEY* p384 = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-384");
    X509* certificate = X509_new();
    ASSERT_EQ(X509_set_pubkey(certificate, p384), 1);
    EXPECT_EQ(SelfSignedCertificate::publicKey(certificate), std::nullopt);
    EXPECT_EQ(SelfSignedCertificate::commonName(certificate), std::nullopt);
    X509_free(certificate);
    EVP_PKEY_free(p384);
    EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST(SelfSignedCertificate, MatchesOnlyEqualNonEmptyBytes) {
    const Bytes key = P256PrivateKey::generate().publicKey().x963Representation();
    EXPECT_TRUE(SelfSignedCertificate::matches(key, Bytes(key)));
    EXPECT_FALSE(SelfSignedCertificate::matches(Bytes{}, Bytes{}));
    EXPECT_FALSE(SelfSignedCertificate::matches(key, Bytes(key.begin(), key.end() - 1)));
    EXPECT_FALSE(SelfSignedCertificate::matches(Bytes(key.begin(), key.end() - 1), key));
    EXPECT_FALSE(SelfSignedCertificate::matches(key, Bytes{}));
    for (const std::size_t position : {std::size_t{0}, std::size_t{32}, key.size() - 1}) {
        Bytes changed = key;
        changed[position] ^= 0x80;
        EXPECT_FALSE(SelfSignedCertificate::matches(key, changed)) << position;
    }
}

// Two ends in one process, joined by a memory BIO pair.
struct TlsPair {
    using Context = std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)>;
    using Connection = std::unique_ptr<SSL, decltype(&SSL_free)>;

    static int acceptAny(int, X509_STORE_CTX*) { return 1; }

    static Context context(const SSL_METHOD* method, const TlsIdentity& identity) {
        Context context(SSL_CTX_new(method), SSL_CTX_free);
        SSL_CTX_set_min_proto_version(context.get(), TLS1_3_VERSION);
        identity.install(context.get());
        // Peers are judged by their key after the handshake, as the channel does.
        SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, acceptAny);
        return context;
    }

    TlsPair(const TlsIdentity& serverIdentity, const TlsIdentity& clientIdentity)
        : serverContext(context(TLS_server_method(), serverIdentity)),
          clientContext(context(TLS_client_method(), clientIdentity)),
          server(SSL_new(serverContext.get()), SSL_free),
          client(SSL_new(clientContext.get()), SSL_free) {
        BIO* serverSide = nullptr;
        BIO* clientSide = nullptr;
        BIO_new_bio_pair(&serverSide, 0, &clientSide, 0);
        SSL_set_bio(server.get(), serverSide, serverSide);
        SSL_set_bio(client.get(), clientSide, clientSide);
        SSL_set_accept_state(server.get());
        SSL_set_connect_state(client.get());
    }

    bool handshake() {
        bool serverDone = false;
        bool clientDone = false;
        for (int round = 0; round < 20 && !(serverDone && clientDone); ++round) {
            clientDone = clientDone || SSL_do_handshake(client.get()) == 1;
            serverDone = serverDone || SSL_do_handshake(server.get()) == 1;
        }
        return serverDone && clientDone;
    }

    Context serverContext;
    Context clientContext;
    Connection server;
    Connection client;
};

TEST(TlsIdentity, EachEndSeesThePeersKeyAndName) {
    const TlsIdentity mac(P256PrivateKey::generate(), "Studio");
    const TlsIdentity phone(P256PrivateKey::generate(), "Anna’s iPhone");
    TlsPair pair(mac, phone);
    ASSERT_TRUE(pair.handshake());
    EXPECT_EQ(SSL_version(pair.server.get()), TLS1_3_VERSION);

    const X509* client = SSL_get0_peer_certificate(pair.server.get());
    EXPECT_EQ(SelfSignedCertificate::publicKey(client), phone.privateKey.publicKey().x963Representation());
    EXPECT_EQ(SelfSignedCertificate::commonName(client), "Anna’s iPhone");
    const X509* server = SSL_get0_peer_certificate(pair.client.get());
    EXPECT_EQ(SelfSignedCertificate::publicKey(server), mac.privateKey.publicKey().x963Representation());
    EXPECT_EQ(SelfSignedCertificate::commonName(server), "Studio");
}

TEST(TlsIdentity, TheContextKeepsTheIdentityAlive) {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    Bytes expected;
    {
        const TlsIdentity identity(P256PrivateKey::generate(), "Mac");
        expected = identity.privateKey.publicKey().x963Representation();
        identity.install(context.get());
    }
    EXPECT_EQ(SelfSignedCertificate::publicKey(SSL_CTX_get0_certificate(context.get())), expected);
    EXPECT_THROW(TlsIdentity(P256PrivateKey::generate(), "Mac").install(nullptr), CryptoError);
}

} // namespace
