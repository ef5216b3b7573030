#include "core/Encoding.h"
#include "net/channel/PairingKeys.h"
#include "net/channel/SelfSignedCertificate.h"

#include <gtest/gtest.h>

namespace {

using TessaloyCore::Bytes;
using TessaloyNet::PairingCode;
using TessaloyNet::PairingKeys;

Bytes saltFrom(std::uint8_t first) {
    Bytes salt(16);
    for (std::size_t i = 0; i < salt.size(); ++i) salt[i] = static_cast<std::uint8_t>(first + i);
    return salt;
}

const PairingCode code = *PairingCode::parse("7KXQ-2MPA");

// Worked out independently of OpenSSL (PBKDF2 and HMAC of Python's hashlib, affine P-256 arithmetic)
// for the code "7KXQ2MPA" and the salt 00 01 ... 0f: the values every device must reproduce.
TEST(PairingKeys, MatchTheSharedKnownAnswer) {
    const Bytes salt = saltFrom(0);
    EXPECT_EQ(TessaloyCore::hexString(PairingKeys::seed(code, salt)),
              "714f82db6ad9c0a870199007c2ebabecfba654805f6a5c0d75efffa148af0b41");

    const PairingKeys keys = PairingKeys::derive(code, salt);
    EXPECT_EQ(TessaloyCore::hexString(keys.mac.rawRepresentation()),
              "f11b0828decf57298eac30240398816174179b1057f81e9a92cd7a553dd7f3e5");
    EXPECT_EQ(TessaloyCore::hexString(keys.mac.publicKey().x963Representation()),
              "04a4b124d49e208daaf20742b1d9dcbaa38dc2127fe7b6c999a9cf1ea9d61585e3"
              "77b5d7b7c7929c5be3d3dea469c7d5f8f4b7adcee49558eba99cc7da1b7ca99d");
    EXPECT_EQ(TessaloyCore::hexString(keys.device.rawRepresentation()),
              "d0a56211f84ed33e75a4abdc6adeeb60d42eec29d2d215c0f1d03b6c5c452779");
    EXPECT_EQ(TessaloyCore::hexString(keys.device.publicKey().x963Representation()),
              "04f87359a3e2312d96eb726c509649bc276778f8fbf1ac40dc0f17f1003558f93f"
              "fb8ffc3cf217c9568ad43f2ce3de989df6a968236c4da3614bf72d30ddc0480f");
}

TEST(PairingKeys, BothEndsDeriveTheSameKeysAndTheyDiffer) {
    const Bytes salt = saltFrom(0x40);
    const PairingKeys mac = PairingKeys::derive(code, salt);
    // The device reads the code as typed.
    const PairingKeys device = PairingKeys::derive(*PairingCode::parse("7kxq2mpa"), salt);
    EXPECT_EQ(mac.mac.publicKey(), device.mac.publicKey());
    EXPECT_EQ(mac.device.publicKey(), device.device.publicKey());
    EXPECT_FALSE(TessaloyNet::SelfSignedCertificate::matches(mac.mac.publicKey().x963Representation(),
                                                             mac.device.publicKey().x963Representation()));
}

TEST(PairingKeys, AnotherCodeOrSaltGivesOtherKeys) {
    const PairingKeys reference = PairingKeys::derive(code, saltFrom(0));
    const PairingKeys otherSalt = PairingKeys::derive(code, saltFrom(1));
    const PairingKeys otherCode = PairingKeys::derive(*PairingCode::parse("7KXQ2MPB"), saltFrom(0));
    for (const PairingKeys* other : {&otherSalt, &otherCode}) {
        EXPECT_NE(other->mac.publicKey(), reference.mac.publicKey());
        EXPECT_NE(other->device.publicKey(), reference.device.publicKey());
    }
}

TEST(PairingKeys, IdentityIsTheReducedHkdfOutput) {
    const Bytes seed(32, 0x5A);
    EXPECT_EQ(PairingKeys::identity(seed, PairingKeys::macInfo).publicKey(),
              PairingKeys::identity(seed, "mac identity").publicKey());
    EXPECT_NE(PairingKeys::identity(seed, PairingKeys::macInfo).publicKey(),
              PairingKeys::identity(seed, PairingKeys::deviceInfo).publicKey());
}

} // namespace
