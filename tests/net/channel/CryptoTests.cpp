#include "net/channel/CryptoError.h"
#include "net/channel/Kdf.h"
#include "net/channel/P256PrivateKey.h"
#include "net/channel/P256PublicKey.h"

#include <gtest/gtest.h>

#include <openssl/err.h>

#include <string_view>

namespace {

using TessaloyCore::Bytes;
using TessaloyNet::CryptoError;
using TessaloyNet::P256PrivateKey;
using TessaloyNet::P256PublicKey;

Bytes fromHex(std::string_view hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

// The curve's base point G and its order n.
const Bytes generator = fromHex(
    "046b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c296"
    "4fe342e2fe1a7f9b8ee7eb4a7c0f9e162bce33576b315ececbb6406837bf51f5");
const Bytes order = fromHex("ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551");

TEST(Kdf, HkdfMatchesRfc5869TestCase1) {
    const Bytes okm = TessaloyNet::hkdfSha256(Bytes(22, 0x0b), fromHex("000102030405060708090a0b0c"),
                                              fromHex("f0f1f2f3f4f5f6f7f8f9"), 42);
    EXPECT_EQ(okm, fromHex("3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"));
}

TEST(Kdf, HkdfLengthLimits) {
    EXPECT_TRUE(TessaloyNet::hkdfSha256(bytesOf("key"), {}, {}, 0).empty());
    EXPECT_EQ(TessaloyNet::hkdfSha256(bytesOf("key"), {}, {}, 255 * 32).size(), 255u * 32);
    EXPECT_THROW(TessaloyNet::hkdfSha256(bytesOf("key"), {}, {}, 255 * 32 + 1), CryptoError);
}

TEST(Kdf, HkdfWithoutSaltUsesZeroSalt) {
    EXPECT_EQ(TessaloyNet::hkdfSha256(bytesOf("key"), {}, bytesOf("info"), 32),
              TessaloyNet::hkdfSha256(bytesOf("key"), Bytes(32, 0), bytesOf("info"), 32));
}

TEST(Kdf, Pbkdf2MatchesPublishedVectors) {
    // RFC 7914 section 11.
    EXPECT_EQ(TessaloyNet::pbkdf2HmacSha256(bytesOf("passwd"), bytesOf("salt"), 1, 64),
              fromHex("55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
                      "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"));
    EXPECT_EQ(TessaloyNet::pbkdf2HmacSha256(bytesOf("password"), bytesOf("salt"), 4096, 32),
              fromHex("c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"));
}

TEST(Kdf, Pbkdf2RefusesZeroIterations) {
    EXPECT_THROW(TessaloyNet::pbkdf2HmacSha256(bytesOf("password"), bytesOf("salt"), 0, 32), CryptoError);
}

TEST(P256, SignaturesVerifyOnlyForTheirKeyAndMessage) {
    const P256PrivateKey key = P256PrivateKey::generate();
    const P256PrivateKey other = P256PrivateKey::generate();
    const Bytes message = bytesOf("pair this phone");
    const Bytes signature = key.sign(message);

    EXPECT_TRUE(key.publicKey().verify(signature, message));
    EXPECT_FALSE(key.publicKey().verify(signature, bytesOf("pair this phone!")));
    EXPECT_FALSE(other.publicKey().verify(signature, message));
    EXPECT_FALSE(key.publicKey().verify({}, message));
    EXPECT_FALSE(key.publicKey().verify(bytesOf("not DER at all"), message));
    Bytes tampered = signature;
    tampered.back() ^= 0x01;
    EXPECT_FALSE(key.publicKey().verify(tampered, message));
    EXPECT_TRUE(key.publicKey().verify(key.sign({}), {}));
}

TEST(P256, KeyAgreementGivesBothSidesTheSameSecret) {
    const P256PrivateKey mac = P256PrivateKey::generate();
    const P256PrivateKey phone = P256PrivateKey::generate();
    const P256PrivateKey stranger = P256PrivateKey::generate();

    const Bytes secret = mac.sharedSecret(phone.publicKey());
    EXPECT_EQ(secret.size(), 32u);
    EXPECT_EQ(secret, phone.sharedSecret(mac.publicKey()));
    EXPECT_NE(secret, stranger.sharedSecret(phone.publicKey()));
}

TEST(P256, RawScalarRoundTrips) {
    const P256PrivateKey key = P256PrivateKey::generate();
    const Bytes raw = key.rawRepresentation();
    ASSERT_EQ(raw.size(), 32u);

    const P256PrivateKey reloaded = P256PrivateKey::fromRawRepresentation(raw);
    EXPECT_EQ(reloaded.rawRepresentation(), raw);
    EXPECT_EQ(reloaded.publicKey(), key.publicKey());
    EXPECT_TRUE(key.publicKey().verify(reloaded.sign(raw), raw));

    const P256PrivateKey copy = reloaded;
    EXPECT_EQ(copy.publicKey().x963Representation(), key.publicKey().x963Representation());
}

TEST(P256, ScalarOneGivesTheBasePoint) {
    Bytes one(32, 0);
    one.back() = 1;
    EXPECT_EQ(P256PrivateKey::fromRawRepresentation(one).publicKey().x963Representation(), generator);

    Bytes largest = order;
    largest.back() -= 1;
    EXPECT_NO_THROW(P256PrivateKey::fromRawRepresentation(largest));
}

TEST(P256, RefusesScalarsOutsideTheGroup) {
    EXPECT_THROW(P256PrivateKey::fromRawRepresentation(Bytes(31, 1)), CryptoError);
    EXPECT_THROW(P256PrivateKey::fromRawRepresentation(Bytes(33, 1)), CryptoError);
    EXPECT_THROW(P256PrivateKey::fromRawRepresentation(Bytes(32, 0)), CryptoError);
    EXPECT_THROW(P256PrivateKey::fromRawRepresentation(order), CryptoError);
    EXPECT_THROW(P256PrivateKey::fromRawRepresentation(Bytes(32, 0xFF)), CryptoError);
}

TEST(P256, ImportsOnlyUncompressedPointsOfTheCurve) {
    EXPECT_EQ(P256PublicKey::fromX963(generator).x963Representation(), generator);
    EXPECT_TRUE(P256PublicKey::isValidX963(generator));

    Bytes offCurve = generator;
    offCurve.back() ^= 0x01;
    Bytes zeros(65, 0);
    zeros[0] = 0x04;
    Bytes xTooLarge = generator;
    std::fill(xTooLarge.begin() + 1, xTooLarge.begin() + 33, 0xFF);
    Bytes wrongPrefix = generator;
    wrongPrefix[0] = 0x02;
    const Bytes compressed = [&] {
        Bytes bytes(generator.begin(), generator.begin() + 33);
        bytes[0] = 0x03; // Y of G is odd.
        return bytes;
    }();
    const Bytes tooShort(generator.begin(), generator.end() - 1);
    Bytes tooLong = generator;
    tooLong.push_back(0);

    for (const Bytes& bad : {offCurve, zeros, xTooLarge, wrongPrefix, compressed, tooShort, tooLong, Bytes{}}) {
        EXPECT_FALSE(P256PublicKey::isValidX963(bad)) << bad.size();
        EXPECT_THROW(P256PublicKey::fromX963(bad), CryptoError) << bad.size();
    }
}

TEST(P256, ErrorsCarryOpenSslTextAndLeaveNoQueueBehind) {
    Bytes offCurve = generator;
    offCurve.back() ^= 0x01;
    try {
        P256PublicKey::fromX963(offCurve);
        FAIL();
    } catch (const CryptoError& error) {
        EXPECT_NE(std::string(error.what()).find("not a P-256 public key: "), std::string::npos) << error.what();
    }
    EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST(P256, KeysOfOtherCurvesAreNotP256Keys) {
    EVP_PKEY* p384 = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-384");
    ASSERT_NE(p384, nullptr);
    EXPECT_EQ(P256PublicKey::from(p384), std::nullopt);
    EVP_PKEY_free(p384);
    EVP_PKEY* x25519 = EVP_PKEY_Q_keygen(nullptr, nullptr, "X25519");
    ASSERT_NE(x25519, nullptr);
    EXPECT_EQ(P256PublicKey::from(x25519), std::nullopt);
    EVP_PKEY_free(x25519);
    EXPECT_EQ(P256PublicKey::from(nullptr), std::nullopt);
}

} // namespace
