#include "net/channel/LANTransport.h"

#include "core/ChannelRole.h"
#include "net/channel/RefusalReason.h"
#include "tests/net/channel/LoopbackChannels.h"
#include "tests/support/MemoryKeychain.h"

#include <gtest/gtest.h>

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <atomic>

namespace {

using namespace std::chrono_literals;
using TessaloyCore::Bytes;
using TessaloyCore::WirePacket;
using TessaloyNet::DeviceIdentity;
using TessaloyNet::LANTransport;
using TessaloyNet::P256PrivateKey;
using TessaloyNet::PairedDeviceStore;
using TessaloyNet::PairingCode;
using TessaloyNet::PairingKeys;
using TessaloyNet::RefusalReason;
using TessaloyNet::TlsIdentity;
using TessaloyNet::TlsParameters;
using Testing::LoopbackChannels;

const Bytes salt(16, 0x5A);

const PairingKeys& keysForCode() {
    static const PairingKeys keys = PairingKeys::derive(*PairingCode::parse("ABCD-EFGH"), salt);
    return keys;
}
const PairingKeys& keysForOtherCode() {
    static const PairingKeys keys = PairingKeys::derive(*PairingCode::parse("ABCD-EFGJ"), salt);
    return keys;
}

// A certificate for `subjectKey` under `name`, signed by `signer`, valid between the two dates.
TessaloyNet::X509Handle certificate(const P256PrivateKey& subjectKey, const P256PrivateKey& signer,
                                    std::chrono::system_clock::time_point from,
                                    std::chrono::system_clock::time_point to) {
    TessaloyNet::X509Handle x509(X509_new());
    X509_set_version(x509.get(), X509_VERSION_3);
    ASN1_INTEGER_set(X509_get_serialNumber(x509.get()), 7);
    ASN1_TIME_set(X509_getm_notBefore(x509.get()), std::chrono::system_clock::to_time_t(from));
    ASN1_TIME_set(X509_getm_notAfter(x509.get()), std::chrono::system_clock::to_time_t(to));
    X509_NAME* name = X509_get_subject_name(x509.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Phone"), -1, -1, 0);
    X509_set_issuer_name(x509.get(), name);
    X509_set_pubkey(x509.get(), subjectKey.handle());
    X509_sign(x509.get(), signer.handle(), EVP_sha256());
    return x509;
}

// Device-side parameters presenting `leaf` (whose key must be `key`) and optionally a chain
// certificate behind it.
TlsParameters presenting(const P256PrivateKey& key, X509* leaf, X509* chain = nullptr) {
    TlsParameters parameters(TlsParameters::Side::client, TlsIdentity(key, "Phone"),
                             [](TessaloyCore::ByteView) { return std::optional<std::string>(); });
    SSL_CTX* context = parameters.context().native_handle();
    EXPECT_EQ(SSL_CTX_use_certificate(context, leaf), 1);
    EXPECT_EQ(SSL_CTX_use_PrivateKey(context, key.handle()), 1);
    if (chain) {
        EXPECT_EQ(SSL_CTX_add1_chain_cert(context, chain), 1);
    }
    return parameters;
}

TlsParameters pairingServer(std::atomic<int>* attempts = nullptr) {
    return LANTransport::pairingServerParameters(keysForCode(), "Studio Mac", [attempts] {
        if (attempts) ++*attempts;
    });
}

TEST(LANTransport, PairingWithTheSameCodeAuthenticatesBothEndsAndCarriesPackets) {
    std::atomic<int> attempts = 0;
    LoopbackChannels pair(pairingServer(&attempts),
                          LANTransport::pairingClientParameters(keysForCode(), "Anna's phone"));
    ASSERT_TRUE(pair.bothReady()) << pair.serverLog.closedError.value_or("") << pair.clientLog.closedError.value_or("");
    EXPECT_EQ(attempts, 1);
    EXPECT_EQ(pair.server->peerPublicKey(), keysForCode().device.publicKey().x963Representation());
    EXPECT_EQ(pair.server->peerName(), "Anna's phone");
    EXPECT_EQ(pair.client->peerPublicKey(), keysForCode().mac.publicKey().x963Representation());
    EXPECT_EQ(pair.client->peerName(), "Studio Mac");

    const WirePacket big(WirePacket::Kind::videoFrame, Bytes(WirePacket::maximumPayloadBytes, 0xC3));
    pair.client->sendDirect(TessaloyCore::ChannelRole(TessaloyCore::ChannelRole::media).packet());
    pair.client->sendDirect(big);
    pair.server->sendDirect(WirePacket(WirePacket::Kind::session, Bytes{3}));
    ASSERT_TRUE(pair.serverLog.waitUntil([&] { return pair.serverLog.packets.size() == 2; }));
    EXPECT_EQ(pair.serverLog.packets[1], big);
    ASSERT_TRUE(pair.clientLog.waitUntil([&] { return pair.clientLog.packets.size() == 1; }));

    // A close lets the queued packet out first and reads as a normal close on the other end.
    pair.server->sendDirect(WirePacket(WirePacket::Kind::session, Bytes{4}));
    pair.server->close();
    ASSERT_TRUE(pair.clientLog.waitForClose());
    EXPECT_EQ(pair.clientLog.closedError, std::nullopt);
    EXPECT_EQ(pair.clientLog.packets.back(), WirePacket(WirePacket::Kind::session, Bytes{4}));
}

TEST(LANTransport, AWrongCodeIsRefusedAsACertificateMismatchAndCountsAsAnAttempt) {
    std::atomic<int> attempts = 0;
    LoopbackChannels pair(pairingServer(&attempts),
                          LANTransport::pairingClientParameters(keysForOtherCode(), "Anna's phone"));
    ASSERT_TRUE(pair.serverLog.waitForClose());
    EXPECT_EQ(pair.serverLog.closedError, std::string(RefusalReason::pairingCodeMismatch));
    EXPECT_EQ(pair.serverLog.ready, 0);
    EXPECT_EQ(attempts, 1);
    // The device refused the Mac's derived key first.
    ASSERT_TRUE(pair.clientLog.waitForClose());
    EXPECT_EQ(pair.clientLog.closedError, std::string(RefusalReason::hostKeyMismatch));
}

TEST(LANTransport, TrustedModeAdmitsOnlyKeysInTheTrustStore) {
    Testing::MemoryKeychain keychain;
    auto store = std::make_shared<PairedDeviceStore>(keychain);
    const DeviceIdentity mac(P256PrivateKey::generate());
    const DeviceIdentity paired(P256PrivateKey::generate());
    const DeviceIdentity stranger(P256PrivateKey::generate());
    store->add({paired.publicKey(), "Paired phone", std::chrono::system_clock::now(), std::nullopt});
    // The handshakes keep reading the store after its owner let go of it.
    const auto server = LANTransport::trustedServerParameters(mac, "Studio Mac", std::move(store));
    {
        LoopbackChannels pair(server, LANTransport::trustedClientParameters(paired, "Paired phone", mac.publicKey()));
        ASSERT_TRUE(pair.bothReady());
        EXPECT_EQ(pair.server->peerPublicKey(), paired.publicKey());
        EXPECT_EQ(pair.client->peerPublicKey(), mac.publicKey());
    }
    LoopbackChannels refused(server, LANTransport::trustedClientParameters(stranger, "Stranger", mac.publicKey()));
    ASSERT_TRUE(refused.serverLog.waitForClose());
    EXPECT_EQ(refused.serverLog.closedError, std::string(RefusalReason::notPaired));
}

TEST(LANTransport, TheDeviceAcceptsOnlyTheMacKeyItPinned) {
    Testing::MemoryKeychain keychain;
    const auto store = std::make_shared<PairedDeviceStore>(keychain);
    const DeviceIdentity mac(P256PrivateKey::generate());
    const DeviceIdentity phone(P256PrivateKey::generate());
    store->add({phone.publicKey(), "Phone", std::chrono::system_clock::now(), std::nullopt});
    const Bytes otherMac = P256PrivateKey::generate().publicKey().x963Representation();
    LoopbackChannels pair(LANTransport::trustedServerParameters(mac, "Studio Mac", store),
                          LANTransport::trustedClientParameters(phone, "Phone", otherMac));
    ASSERT_TRUE(pair.clientLog.waitForClose());
    EXPECT_EQ(pair.clientLog.closedError, std::string(RefusalReason::hostKeyMismatch));
    ASSERT_TRUE(pair.serverLog.waitForClose());
    EXPECT_EQ(pair.serverLog.closedError, std::string(RefusalReason::macKeyRefused));
    EXPECT_EQ(pair.serverLog.ready, 0);
}

TEST(LANTransport, AClientWithoutACertificateIsRefusedWithCertificateRequired) {
    std::atomic<int> attempts = 0;
    TlsParameters bare(TlsParameters::Side::client,
                       [](TessaloyCore::ByteView) { return std::optional<std::string>(); });
    LoopbackChannels pair(pairingServer(&attempts), bare);
    ASSERT_TRUE(pair.serverLog.waitForClose());
    EXPECT_EQ(pair.serverLog.closedError, std::string(RefusalReason::certificateRequired));
    EXPECT_EQ(attempts, 1);
}

TEST(LANTransport, AnExpiredCertificateCarryingTheRightKeyIsAcceptedOnPurpose) {
    // Peers are their keys: a phone whose clock is wrong, or a certificate past its dates, changes
    // nothing about who holds the key.
    const auto longAgo = std::chrono::system_clock::now() - std::chrono::days(5000);
    const P256PrivateKey& key = keysForCode().device;
    auto expired = certificate(key, key, longAgo, longAgo + std::chrono::days(1));
    LoopbackChannels pair(pairingServer(), presenting(key, expired.get()));
    ASSERT_TRUE(pair.bothReady()) << pair.serverLog.closedError.value_or("");
    EXPECT_EQ(pair.server->peerPublicKey(), key.publicKey().x963Representation());
}

TEST(LANTransport, AnExpiredOrForeignSignedCertificateWithAWrongKeyIsStillRefused) {
    const auto longAgo = std::chrono::system_clock::now() - std::chrono::days(5000);
    const P256PrivateKey wrong = P256PrivateKey::generate();
    auto expired = certificate(wrong, wrong, longAgo, longAgo + std::chrono::days(1));
    LoopbackChannels pair(pairingServer(), presenting(wrong, expired.get()));
    ASSERT_TRUE(pair.serverLog.waitForClose());
    EXPECT_EQ(pair.serverLog.closedError, std::string(RefusalReason::pairingCodeMismatch));

    // Signed by the expected key, but for another key: the signature proves nothing.
    auto vouched = certificate(wrong, keysForCode().device, longAgo, longAgo + std::chrono::days(9000));
    LoopbackChannels second(pairingServer(), presenting(wrong, vouched.get()));
    ASSERT_TRUE(second.serverLog.waitForClose());
    EXPECT_EQ(second.serverLog.closedError, std::string(RefusalReason::pairingCodeMismatch));
}

TEST(LANTransport, AChainCarryingTheExpectedKeyBehindAWrongLeafIsRefused) {
    const auto now = std::chrono::system_clock::now();
    const P256PrivateKey wrong = P256PrivateKey::generate();
    const P256PrivateKey& right = keysForCode().device;
    auto leaf = certificate(wrong, right, now - 1h, now + 24h);
    auto issuer = certificate(right, right, now - 1h, now + 24h);
    LoopbackChannels pair(pairingServer(), presenting(wrong, leaf.get(), issuer.get()));
    ASSERT_TRUE(pair.serverLog.waitForClose());
    EXPECT_EQ(pair.serverLog.closedError, std::string(RefusalReason::pairingCodeMismatch));
}

TEST(LANTransport, ACertificateSignedBySomeoneElseIsJudgedByItsKeyAlone) {
    const auto now = std::chrono::system_clock::now();
    const P256PrivateKey& right = keysForCode().device;
    auto foreign = certificate(right, P256PrivateKey::generate(), now - 1h, now + 24h);
    LoopbackChannels pair(pairingServer(), presenting(right, foreign.get()));
    ASSERT_TRUE(pair.bothReady()) << pair.serverLog.closedError.value_or("");
}

TEST(LANTransport, OnlyTls13IsSpoken) {
    TlsParameters old = LANTransport::pairingClientParameters(keysForCode(), "Phone");
    SSL_CTX_set_min_proto_version(old.context().native_handle(), TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(old.context().native_handle(), TLS1_2_VERSION);
    LoopbackChannels pair(pairingServer(), old);
    ASSERT_TRUE(pair.serverLog.waitForClose());
    EXPECT_EQ(pair.serverLog.closedError->rfind(std::string(RefusalReason::handshakeFailedPrefix), 0), 0u)
        << *pair.serverLog.closedError;
}

TEST(LANTransport, WorksOverIPv6Loopback) {
    LoopbackChannels pair(pairingServer(), LANTransport::pairingClientParameters(keysForCode(), "Phone"), {},
                          asio::ip::make_address("::1"));
    ASSERT_TRUE(pair.bothReady());
}

} // namespace
