#include "net/relay/MeetingIdentity.h"

#include "connectwire/ConnectProtocol.h"
#include "net/channel/Kdf.h"
#include "net/channel/RandomBytes.h"
#include "net/relay/Hpke.h"

#include <string_view>

namespace TessaloyNet::MeetingIdentity {

using TessaloyCore::Bytes;
using TessaloyCore::ByteView;
using namespace TessaloyConnectWire;

namespace {

ByteView utf8(std::string_view text) { return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}; }

} // namespace

Bytes meetingID(const DeviceIdentity& identity, ByteView peerPublicKey) {
    const Bytes shared = identity.privateKey().sharedSecret(P256PublicKey::fromX963(peerPublicKey));
    return hkdfSha256(shared, utf8("Halvern Meetings"), utf8("meeting-id v1"), ConnectProtocol::meetingIDBytes);
}

DataHello hello(ConnectRole role, ConnectChannel channel, ByteView id, std::chrono::system_clock::time_point now) {
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    return DataHello{.role = role,
                     .channel = channel,
                     .id = Bytes(id.begin(), id.end()),
                     .sentAtMillis = millis > 0 ? static_cast<std::uint64_t>(millis) : 0,
                     .nonce = randomBytes(16)};
}

SealedHello seal(const DataHello& hello, ByteView helloKey) {
    const P256PublicKey relay = P256PublicKey::fromX963(helloKey);
    const Bytes plaintext = hello.encoded();
    Hpke::Sender sender = Hpke::setupBaseSender(relay, ConnectProtocol::helloInfo, HpkeAead::aes256Gcm);
    Bytes ciphertext = sender.context.seal({}, plaintext);
    return SealedHello{std::move(sender.encapsulatedKey), std::move(ciphertext)};
}

} // namespace TessaloyNet::MeetingIdentity
