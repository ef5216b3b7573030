#include "core/Encoding.h"
#include "core/Sha256.h"
#include "net/channel/DeviceIdentity.h"
#include "platform/linux/FileKeychain.h"
#include "tests/support/MemoryKeychain.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

using TessaloyCore::Bytes;
using TessaloyNet::DeviceIdentity;
using TessaloyNet::DeviceIdentityProblem;
using TessaloyNet::P256PrivateKey;

constexpr std::string_view service = "dev.tessaloy.identity";
constexpr std::string_view account = "device-key-v1";

TEST(DeviceIdentity, IsCreatedOnceAndThenAlwaysLoaded) {
    Testing::MemoryKeychain keychain;
    const DeviceIdentity created = DeviceIdentity::loadOrCreate(keychain);
    EXPECT_EQ(keychain.writes, 1);
    EXPECT_EQ(keychain.read(service, account), created.privateKey().rawRepresentation());

    const DeviceIdentity loaded = DeviceIdentity::loadOrCreate(keychain);
    EXPECT_EQ(keychain.writes, 1);
    EXPECT_EQ(loaded.publicKey(), created.publicKey());
    EXPECT_EQ(loaded.fingerprint(), created.fingerprint());
    EXPECT_EQ(loaded.publicKey().size(), 65u);
}

TEST(DeviceIdentity, SurvivesInTheFileKeychain) {
    Testing::TemporaryDirectory folder;
    Bytes publicKey;
    {
        Platform::Linux::FileKeychain keychain(folder / "keychain");
        publicKey = DeviceIdentity::loadOrCreate(keychain).publicKey();
    }
    Platform::Linux::FileKeychain reopened(folder / "keychain");
    EXPECT_EQ(DeviceIdentity::loadOrCreate(reopened).publicKey(), publicKey);
    EXPECT_EQ(reopened.read(service, account)->size(), 32u);
}

TEST(DeviceIdentity, AMalformedItemIsReportedAndLeftAlone) {
    Bytes order(32, 0xFF);
    for (const Bytes& stored : {Bytes(31, 7), Bytes(33, 7), Bytes(32, 0), order, Bytes{}}) {
        Testing::MemoryKeychain keychain;
        keychain.write(service, account, stored);
        try {
            DeviceIdentity::loadOrCreate(keychain);
            FAIL() << stored.size();
        } catch (const DeviceIdentity::Error& error) {
            EXPECT_EQ(error.value(), DeviceIdentityProblem::malformedItem);
            EXPECT_STREQ(error.caseName(), "malformedItem");
        }
        EXPECT_EQ(keychain.read(service, account), stored);
        EXPECT_EQ(keychain.writes, 1);
    }
}

TEST(DeviceIdentity, AnUnreadableItemIsReportedAndNothingIsWritten) {
    Testing::MemoryKeychain keychain;
    keychain.failReads = true;
    EXPECT_THROW(DeviceIdentity::loadOrCreate(keychain), TessaloyBase::KeychainError);
    EXPECT_EQ(keychain.writes, 0);
}

TEST(DeviceIdentity, AFailedFirstWriteIsReported) {
    Testing::MemoryKeychain keychain;
    keychain.failNextWrite = true;
    EXPECT_THROW(DeviceIdentity::loadOrCreate(keychain), TessaloyBase::KeychainError);
    EXPECT_EQ(keychain.read(service, account), std::nullopt);
}

TEST(DeviceIdentity, FingerprintIsTheWholeDigestInGroupsOfFour) {
    const DeviceIdentity identity(P256PrivateKey::generate());
    const std::string fingerprint = identity.fingerprint();
    EXPECT_TRUE(std::regex_match(fingerprint, std::regex("([0-9A-F]{4}-){15}[0-9A-F]{4}"))) << fingerprint;

    std::string digits = TessaloyCore::hexString(TessaloyCore::Sha256::of(identity.publicKey()));
    for (char& c : digits) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string joined = fingerprint;
    std::erase(joined, '-');
    EXPECT_EQ(joined, digits);
}

TEST(DeviceIdentity, KnownKeyGivesKnownFingerprintAndIdentifier) {
    Bytes one(32, 0);
    one.back() = 1; // The public key is the curve's base point.
    const DeviceIdentity identity(P256PrivateKey::fromRawRepresentation(one));
    EXPECT_EQ(identity.fingerprint(),
              "698B-EA63-DC44-A344-663F-F142-9AEA-1084-2DF2-7B6B-991E-F258-66B2-C6C0-2CDC-C5BE");
    EXPECT_EQ(identity.keyIdentifier(), "698bea63dc44a344");
}

} // namespace
