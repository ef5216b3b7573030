#include "core/Encoding.h"
#include "net/channel/P256PrivateKey.h"
#include "net/channel/PairedDeviceStore.h"
#include "net/channel/PairingLimits.h"
#include "platform/linux/FileKeychain.h"
#include "tests/support/MemoryKeychain.h"
#include "tests/support/ProblemOf.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <thread>

namespace {

using Testing::problemOf;
using namespace std::chrono_literals;
using TessaloyCore::Bytes;
using TessaloyNet::P256PrivateKey;
using TessaloyNet::PairedDevice;
using TessaloyNet::PairedDeviceStore;
using TessaloyNet::PairedDeviceStoreProblem;
using Date = PairedDevice::Date;

constexpr std::string_view service = "dev.tessaloy.paired";
constexpr std::string_view account = "paired-mac-v1";

const Date pairedAt{std::chrono::seconds(1'700'000'000)};

Bytes newKey() { return P256PrivateKey::generate().publicKey().x963Representation(); }

PairedDevice deviceNamed(std::string name, Date at = pairedAt) { return {newKey(), std::move(name), at, {}}; }

std::string repeated(std::string_view piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += piece;
    return text;
}

class PairedDeviceStoreTest : public ::testing::Test {
protected:
    nlohmann::json storedJson() const {
        const auto bytes = keychain.read(service, account);
        EXPECT_TRUE(bytes.has_value());
        return nlohmann::json::parse(bytes->begin(), bytes->end());
    }

    void store(std::string_view text) { keychain.write(service, account, Bytes(text.begin(), text.end())); }

    Testing::MemoryKeychain keychain;
    TessaloyBase::DiskQueue disk = TessaloyBase::DiskQueue::inPlace();
    PairedDeviceStore devices{keychain, disk};
};

TEST_F(PairedDeviceStoreTest, StartsEmptyWithoutAnItem) {
    EXPECT_TRUE(devices.all().empty());
    EXPECT_FALSE(devices.isTrusted(newKey()));
    EXPECT_EQ(devices.device(newKey()), std::nullopt);
    EXPECT_EQ(keychain.writes, 0);
}

TEST_F(PairedDeviceStoreTest, AddedDevicesRoundTripThroughTheKeychain) {
    const PairedDevice phone = deviceNamed("Anna’s iPhone");
    const PairedDevice tablet = deviceNamed("iPad", pairedAt + 1500ms);
    EXPECT_TRUE(devices.add(phone));
    EXPECT_TRUE(devices.add(tablet));

    EXPECT_EQ(devices.all(), (std::vector{phone, tablet}));
    EXPECT_EQ(devices.device(tablet.publicKey), tablet);
    EXPECT_TRUE(devices.isTrusted(phone.publicKey));
    EXPECT_FALSE(devices.isTrusted(newKey()));
    EXPECT_FALSE(devices.isTrusted(Bytes{}));
    EXPECT_EQ(PairedDeviceStore(keychain).all(), (std::vector{phone, tablet}));
}

TEST_F(PairedDeviceStoreTest, StoresTheAgreedJsonLayout) {
    const PairedDevice phone = deviceNamed("Anna’s iPhone");
    devices.add(phone);
    nlohmann::json json = storedJson();
    ASSERT_TRUE(json.is_array());
    ASSERT_EQ(json.size(), 1u);
    const nlohmann::json& entry = json[0];
    EXPECT_EQ(entry.size(), 4u);
    EXPECT_EQ(entry.at("publicKey"), TessaloyCore::base64(phone.publicKey));
    EXPECT_EQ(entry.at("name"), "Anna’s iPhone");
    ASSERT_TRUE(entry.at("pairedAt").is_number());
    EXPECT_EQ(entry.at("pairedAt").get<double>(), 1'700'000'000.0);
    EXPECT_TRUE(entry.at("lastSeenAt").is_null());

    devices.markSeen(phone.publicKey, pairedAt + 90s + 250ms);
    json = storedJson();
    ASSERT_TRUE(json[0].at("lastSeenAt").is_number());
    EXPECT_EQ(json[0].at("lastSeenAt").get<double>(), 1'700'000'090.25);
    EXPECT_EQ(devices.device(phone.publicKey)->lastSeenAt, pairedAt + 90s + 250ms);
}

TEST_F(PairedDeviceStoreTest, ReadsItemsWrittenByOthersInTheAgreedLayout) {
    const Bytes key = newKey();
    store(R"([{"name": "Phone", "publicKey": ")" + TessaloyCore::base64(key) +
          R"(", "pairedAt": 1700000000, "lastSeenAt": 1700000100.5, "extra": true}])");
    const auto all = devices.all();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].publicKey, key);
    EXPECT_EQ(all[0].name, "Phone");
    EXPECT_EQ(all[0].pairedAt, pairedAt);
    EXPECT_EQ(all[0].lastSeenAt, pairedAt + 100s + 500ms);

    store(R"([{"name": "Phone", "publicKey": ")" + TessaloyCore::base64(key) + R"(", "pairedAt": 0}])");
    EXPECT_EQ(PairedDeviceStore(keychain).device(key)->lastSeenAt, std::nullopt);
}

TEST_F(PairedDeviceStoreTest, KeepsAtMostThreeDevices) {
    std::vector<PairedDevice> added;
    for (std::size_t i = 0; i < TessaloyNet::PairingLimits::devicesPerMac; ++i) {
        added.push_back(deviceNamed("Phone " + std::to_string(i)));
        EXPECT_TRUE(devices.add(added.back()));
    }
    const int writes = keychain.writes;
    const PairedDevice fourth = deviceNamed("Fourth");
    EXPECT_FALSE(devices.add(fourth));
    EXPECT_EQ(keychain.writes, writes);
    EXPECT_EQ(devices.all(), added);
    EXPECT_FALSE(devices.isTrusted(fourth.publicKey));

    EXPECT_TRUE(devices.remove(added[0].publicKey));
    EXPECT_TRUE(devices.add(fourth));
    EXPECT_EQ(devices.all(), (std::vector{added[1], added[2], fourth}));
}

TEST_F(PairedDeviceStoreTest, PairingAKnownDeviceAgainReplacesItInPlace) {
    std::vector<PairedDevice> added;
    for (int i = 0; i < 3; ++i) {
        added.push_back(deviceNamed("Phone " + std::to_string(i)));
        devices.add(added.back());
    }
    devices.markSeen(added[1].publicKey, pairedAt + 1h);

    const PairedDevice again{added[1].publicKey, "Renamed on the phone", pairedAt + 2h, std::nullopt};
    EXPECT_TRUE(devices.add(again));
    EXPECT_EQ(devices.all(), (std::vector{added[0], again, added[2]}));
}

TEST_F(PairedDeviceStoreTest, RemovesOnlyAKnownKey) {
    const PairedDevice phone = deviceNamed("Phone");
    devices.add(phone);
    const int writes = keychain.writes;
    EXPECT_FALSE(devices.remove(newKey()));
    EXPECT_FALSE(devices.remove(Bytes{}));
    EXPECT_EQ(keychain.writes, writes);
    EXPECT_TRUE(devices.remove(phone.publicKey));
    EXPECT_TRUE(devices.all().empty());
    EXPECT_EQ(storedJson(), nlohmann::json::array());
    EXPECT_FALSE(devices.remove(phone.publicKey));
}

TEST_F(PairedDeviceStoreTest, MarkSeenIgnoresUnknownKeys) {
    const PairedDevice phone = deviceNamed("Phone");
    devices.add(phone);
    const int writes = keychain.writes;
    devices.markSeen(newKey(), pairedAt + 1h);
    EXPECT_EQ(keychain.writes, writes);
    EXPECT_EQ(devices.all(), std::vector{phone});
}

TEST_F(PairedDeviceStoreTest, NamesAreCutToSixtyFourCharactersThatFitTheByteBound) {
    const PairedDevice phone = deviceNamed("Phone");
    devices.add(phone);

    devices.rename(phone.publicKey, " \t\n Kitchen iPhone\u00A0\u3000\r\n");
    EXPECT_EQ(devices.device(phone.publicKey)->name, "Kitchen iPhone");

    // 70 characters, most of two or more bytes: the first 64 stay, whole.
    const std::string name = repeated("ü", 30) + repeated("名", 20) + repeated("🙂", 10) + repeated("z", 10);
    devices.rename(phone.publicKey, name);
    EXPECT_EQ(devices.device(phone.publicKey)->name,
              repeated("ü", 30) + repeated("名", 20) + repeated("🙂", 10) + repeated("z", 4));

    // A flag is one character of two code points.
    devices.rename(phone.publicKey, repeated("a", 63) + "🇩🇪🇫🇷");
    EXPECT_EQ(devices.device(phone.publicKey)->name, repeated("a", 63) + "🇩🇪");

    // Characters of seven bytes: as many as fit whole in 256 bytes, added or renamed; one larger than
    // that leaves nothing.
    const PairedDevice accented = deviceNamed(repeated("e\u0301\u0301\u0301", 64));
    devices.add(accented);
    EXPECT_EQ(devices.device(accented.publicKey)->name, repeated("e\u0301\u0301\u0301", 36));
    devices.rename(accented.publicKey, "e" + repeated("\u0301", 300'000));
    EXPECT_EQ(devices.device(accented.publicKey)->name, repeated("e\u0301\u0301\u0301", 36));

    devices.rename(phone.publicKey, repeated("a", 64));
    EXPECT_EQ(devices.device(phone.publicKey)->name, repeated("a", 64));
    EXPECT_EQ(devices.device(phone.publicKey)->pairedAt, phone.pairedAt);
}

TEST_F(PairedDeviceStoreTest, RenameToNothingOrOfAnUnknownKeyChangesNothing) {
    const PairedDevice phone = deviceNamed("Phone");
    devices.add(phone);
    const int writes = keychain.writes;
    devices.rename(phone.publicKey, "");
    devices.rename(phone.publicKey, " \n\t\u2028\u00A0 ");
    devices.rename(newKey(), "Other");
    EXPECT_EQ(keychain.writes, writes);
    EXPECT_EQ(devices.all(), std::vector{phone});

    EXPECT_EQ(problemOf<PairedDeviceStore::Error>([&] { devices.rename(phone.publicKey, "bad \xFF name"); }),
              PairedDeviceStoreProblem::invalidName);
}

TEST_F(PairedDeviceStoreTest, RefusesDevicesThatCouldNotBeReadBack) {
    Bytes offCurve = newKey();
    offCurve.back() ^= 0x01;
    for (const Bytes& key : {Bytes(64, 4), Bytes{}, offCurve}) {
        EXPECT_EQ(problemOf<PairedDeviceStore::Error>([&] {
                      devices.add({key, "Phone", pairedAt, {}});
                  }),
                  PairedDeviceStoreProblem::invalidKey);
    }
    EXPECT_EQ(problemOf<PairedDeviceStore::Error>([&] {
                  devices.add({newKey(), "\xC0\x80", pairedAt, {}});
              }),
              PairedDeviceStoreProblem::invalidName);
    EXPECT_EQ(keychain.writes, 0);
}

TEST_F(PairedDeviceStoreTest, ACorruptItemIsReportedAndNeverOverwritten) {
    const std::string key = TessaloyCore::base64(newKey());
    const std::string shortKey = TessaloyCore::base64(Bytes(64, 4));
    const std::vector<std::string> corrupt = {
        "",
        "not json",
        R"({"publicKey": ")" + key + R"(", "name": "Phone", "pairedAt": 0})",
        "[1]",
        R"([{"name": "Phone", "pairedAt": 0}])",
        R"([{"publicKey": ")" + key + R"(", "pairedAt": 0}])",
        R"([{"publicKey": ")" + key + R"(", "name": "Phone"}])",
        R"([{"publicKey": 4, "name": "Phone", "pairedAt": 0}])",
        R"([{"publicKey": ")" + key + R"(", "name": 7, "pairedAt": 0}])",
        R"([{"publicKey": ")" + key + R"(", "name": "Phone", "pairedAt": "yesterday"}])",
        R"([{"publicKey": ")" + key + R"(", "name": "Phone", "pairedAt": 0, "lastSeenAt": false}])",
        R"([{"publicKey": ")" + key + R"(", "name": "Phone", "pairedAt": 1e300}])",
        R"([{"publicKey": ")" + key + R"(", "name": "Phone", "pairedAt": 0, "lastSeenAt": -1e12}])",
        R"([{"publicKey": "***", "name": "Phone", "pairedAt": 0}])",
        R"([{"publicKey": ")" + shortKey + R"(", "name": "Phone", "pairedAt": 0}])",
    };
    for (const std::string& text : corrupt) {
        SCOPED_TRACE(text);
        store(text);
        const auto original = keychain.read(service, account);
        const int writes = keychain.writes;
        const Bytes someKey = TessaloyCore::decodeBase64(key).value();

        EXPECT_EQ(problemOf<PairedDeviceStore::Error>([&] { devices.all(); }), PairedDeviceStoreProblem::corruptItem);
        EXPECT_EQ(problemOf<PairedDeviceStore::Error>([&] { devices.device(someKey); }),
                  PairedDeviceStoreProblem::corruptItem);
        EXPECT_EQ(problemOf<PairedDeviceStore::Error>([&] { devices.add(deviceNamed("New")); }),
                  PairedDeviceStoreProblem::corruptItem);
        EXPECT_EQ(problemOf<PairedDeviceStore::Error>([&] { devices.remove(someKey); }),
                  PairedDeviceStoreProblem::corruptItem);
        EXPECT_EQ(problemOf<PairedDeviceStore::Error>([&] { devices.rename(someKey, "Name"); }),
                  PairedDeviceStoreProblem::corruptItem);
        EXPECT_EQ(problemOf<PairedDeviceStore::Error>([&] { devices.markSeen(someKey, pairedAt); }),
                  PairedDeviceStoreProblem::corruptItem);
        EXPECT_FALSE(devices.isTrusted(someKey));
        EXPECT_EQ(keychain.writes, writes);
        EXPECT_EQ(keychain.read(service, account), original);
    }
}

TEST_F(PairedDeviceStoreTest, AnItemOverOneMebibyteIsNeitherReadNorWritten) {
    const std::string head = R"([{"publicKey": ")" + TessaloyCore::base64(newKey()) + R"(", "name": ")";
    const std::string tail = R"(", "pairedAt": 0}])";
    for (const std::size_t size : {PairedDeviceStore::maximumItemBytes, PairedDeviceStore::maximumItemBytes + 1}) {
        store(head + std::string(size - head.size() - tail.size(), 'x') + tail);
        PairedDeviceStore fresh(keychain);
        if (size <= PairedDeviceStore::maximumItemBytes) {
            ASSERT_EQ(fresh.all().size(), 1u);
            // A name of an earlier version can make a change larger than the store reads back.
            const auto original = keychain.read(service, account);
            EXPECT_EQ(problemOf<PairedDeviceStore::Error>([&] { fresh.markSeen(fresh.all()[0].publicKey, pairedAt); }),
                      PairedDeviceStoreProblem::itemTooLarge);
            EXPECT_EQ(keychain.read(service, account), original);
        } else {
            EXPECT_EQ(problemOf<PairedDeviceStore::Error>([&] { fresh.all(); }), PairedDeviceStoreProblem::corruptItem);
        }
    }
}

TEST_F(PairedDeviceStoreTest, AFailedReadReachesTheCallerAndAFailedSaveIsReported) {
    keychain.failReads = true;
    EXPECT_THROW(devices.all(), TessaloyBase::KeychainError);
    EXPECT_THROW(devices.add(deviceNamed("First")), TessaloyBase::KeychainError);
    keychain.failReads = false;
    const PairedDevice phone = deviceNamed("Phone");
    devices.add(phone);

    std::vector<std::string> failures;
    disk.reportFailures(
        [&](const std::string& file, const std::string& problem) { failures.push_back(file + ": " + problem); });
    keychain.failNextWrite = true;
    const PairedDevice second = deviceNamed("Second");
    EXPECT_TRUE(devices.add(second));
    EXPECT_EQ(failures, std::vector<std::string>{"the paired devices: refused for the test"});
    EXPECT_EQ(devices.all(), (std::vector{phone, second})) << "what is in memory stays";
    EXPECT_EQ(PairedDeviceStore(keychain).all(), std::vector{phone});
    devices.markSeen(phone.publicKey, pairedAt + 1h);
    EXPECT_EQ(PairedDeviceStore(keychain).all(), devices.all()) << "the next save carries the whole list";
}

TEST(PairedDeviceStore, RoundTripsThroughTheFileKeychain) {
    Testing::TemporaryDirectory folder;
    const PairedDevice phone = deviceNamed("Anna’s iPhone");
    {
        Platform::Linux::FileKeychain keychain(folder / "keychain");
        PairedDeviceStore devices(keychain);
        devices.add(phone);
        devices.markSeen(phone.publicKey, pairedAt + 1h);
    }
    Platform::Linux::FileKeychain keychain(folder / "keychain");
    const auto all = PairedDeviceStore(keychain).all();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].name, phone.name);
    EXPECT_EQ(all[0].lastSeenAt, pairedAt + 1h);
}

TEST_F(PairedDeviceStoreTest, ConcurrentChangesLoseNothing) {
    constexpr int writers = 8;
    std::vector<PairedDevice> candidates;
    for (int i = 0; i < writers; ++i) candidates.push_back(deviceNamed("Phone " + std::to_string(i)));

    std::atomic<int> accepted = 0;
    std::atomic<bool> readerFailed = false;
    std::atomic<bool> writersDone = false;
    std::vector<std::thread> threads;
    for (int i = 0; i < writers; ++i) {
        threads.emplace_back([&, i] {
            if (devices.add(candidates[i])) ++accepted;
            devices.markSeen(candidates[i].publicKey, pairedAt + std::chrono::seconds(i));
            devices.rename(candidates[i].publicKey, "Renamed " + std::to_string(i));
        });
    }
    std::thread reader([&] {
        while (!writersDone) {
            try {
                if (devices.all().size() > TessaloyNet::PairingLimits::devicesPerMac) readerFailed = true;
            } catch (...) {
                readerFailed = true;
            }
        }
    });
    for (auto& thread : threads) thread.join();
    writersDone = true;
    reader.join();

    EXPECT_FALSE(readerFailed);
    EXPECT_EQ(accepted, 3);
    const auto all = devices.all();
    ASSERT_EQ(all.size(), 3u);
    for (const PairedDevice& device : all) {
        const auto index = std::find_if(candidates.begin(), candidates.end(),
                                        [&](const PairedDevice& c) { return c.publicKey == device.publicKey; }) -
                           candidates.begin();
        EXPECT_EQ(device.name, "Renamed " + std::to_string(index));
        EXPECT_EQ(device.lastSeenAt, pairedAt + std::chrono::seconds(index));
    }
}

} // namespace
