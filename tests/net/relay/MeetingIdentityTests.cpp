#include "connectwire/ConnectProtocol.h"
#include "net/channel/CryptoError.h"
#include "net/relay/Hpke.h"
#include "net/relay/MeetingIdentity.h"

#include <gtest/gtest.h>

namespace {

using namespace TessaloyNet;
using namespace TessaloyConnectWire;
using std::chrono::system_clock;
using TessaloyCore::Bytes;

TEST(MeetingIdentity, BothSidesDeriveTheSameIdentifier) {
    const DeviceIdentity mac(P256PrivateKey::generate());
    const DeviceIdentity phone(P256PrivateKey::generate());
    const DeviceIdentity other(P256PrivateKey::generate());
    const Bytes fromMac = MeetingIdentity::meetingID(mac, phone.publicKey());
    EXPECT_EQ(fromMac, MeetingIdentity::meetingID(phone, mac.publicKey()));
    EXPECT_NE(fromMac, MeetingIdentity::meetingID(mac, other.publicKey()));
    EXPECT_NE(fromMac, MeetingIdentity::meetingID(other, phone.publicKey()));

    Bytes offCurve = phone.publicKey();
    offCurve[64] ^= 1;
    for (const Bytes& bad : {Bytes(phone.publicKey().begin(), phone.publicKey().end() - 1), offCurve}) {
        EXPECT_THROW(MeetingIdentity::meetingID(mac, bad), CryptoError);
    }
}

TEST(MeetingIdentity, StampsHellosInWholeMillisecondsFromNoEarlierThan1970) {
    const Bytes id(16, 7);
    const struct {
        system_clock::duration sinceEpoch;
        std::uint64_t millis;
    } rows[] = {{std::chrono::microseconds(1'999'900), 1'999}, {-std::chrono::seconds(5), 0}, {{}, 0}};
    for (const auto& row : rows) {
        const auto hello = MeetingIdentity::hello(ConnectRole::mac, ConnectChannel::media, id,
                                                  system_clock::time_point(row.sinceEpoch));
        EXPECT_EQ(hello.sentAtMillis, row.millis);
    }
    const auto now = system_clock::now();
    EXPECT_NE(MeetingIdentity::hello(ConnectRole::mac, ConnectChannel::media, id, now).nonce,
              MeetingIdentity::hello(ConnectRole::mac, ConnectChannel::media, id, now).nonce);
}

TEST(MeetingIdentity, SealsHellosThatOnlyTheRelayOpens) {
    const auto relay = P256PrivateKey::generate();
    const auto mac =
        MeetingIdentity::hello(ConnectRole::mac, ConnectChannel::control, Bytes(16, 1), system_clock::now());

    const SealedHello first = MeetingIdentity::seal(mac, relay.publicKey().x963Representation());
    const SealedHello second = MeetingIdentity::seal(mac, relay.publicKey().x963Representation());
    EXPECT_NE(first.encapsulatedKey, second.encapsulatedKey);
    EXPECT_NE(first.ciphertext, second.ciphertext);

    HpkeContext opener =
        Hpke::setupBaseReceiver(first.encapsulatedKey, relay, ConnectProtocol::helloInfo, HpkeAead::aes256Gcm);
    EXPECT_EQ(DataHello::decode(opener.open({}, first.ciphertext)), mac);

    Bytes badKey = relay.publicKey().x963Representation();
    badKey[64] ^= 1;
    EXPECT_THROW(MeetingIdentity::seal(mac, badKey), CryptoError);
}

} // namespace
