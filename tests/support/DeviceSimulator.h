#pragma once

#include "core/Bytes.h"
#include "core/ChannelRole.h"
#include "core/WirePacket.h"
#include "net/channel/DeviceIdentity.h"
#include "net/channel/PairingCode.h"
#include "net/channel/PairingExchange.h"
#include "net/channel/PairingKeys.h"
#include "net/channel/TlsPacketChannel.h"
#include "net/channel/TlsParameters.h"
#include "net/relay/RelayRoute.h"
#include "tests/support/ChannelRecorder.h"
#include "tests/support/DeviceMediaReceiver.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace Testing {

// Plays the phone against the Mac's listener, over real TLS on loopback:
// - pairs with a code: derives the pairing identities from the code and salt (or a pairing link),
//   opens the media channel and then the control channel, each declaring its role first, and sends
//   its long-term key and name in a pairing exchange on the media channel; it keeps the Mac's key
//   from the Mac's pairing exchange;
// - reconnects later in trusted mode with its long-term key and the Mac key it kept;
// - sends packets on either channel and collects what arrives, per channel;
// - decodes the video and sound it receives, as the device shows and plays them (media());
// - misbehaves on request, one connection at a time.
class DeviceSimulator {
public:
    using Endpoint = asio::ip::tcp::endpoint;
    using Role = TessaloyCore::ChannelRole;

    // One connection and what it saw.
    struct Connection {
        std::shared_ptr<TessaloyNet::TlsPacketChannel> channel;
        ChannelRecorder log;

        // Waits for the channel's end; returns its error (nothing for a normal close).
        std::optional<std::string> waitForClose();
        ~Connection();
    };

    // Ways to fail a connection on purpose.
    enum class Misbehaviour { noCertificate, nonRoleFirstPacket, badMagic, oversizedLength };

    explicit DeviceSimulator(
        std::string name = "Simulated iPhone",
        TessaloyNet::DeviceIdentity identity = TessaloyNet::DeviceIdentity(TessaloyNet::P256PrivateKey::generate()));
    ~DeviceSimulator();
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;

    const std::string& name() const { return name_; }
    // The name in the device's pairing certificate, which the Mac sees before the device's own
    // pairing exchange arrives; the device's name unless set.
    void setCertificateName(std::string name) { certificateName_ = std::move(name); }
    const TessaloyNet::DeviceIdentity& identity() const { return identity_; }
    // Whether pair() sends this device's pairing exchange (on at first); a device without a
    // durable key leaves it out.
    void setSendsPairingExchange(bool sends) { sendsPairingExchange_ = sends; }
    // The options of the channels opened from now on.
    void setChannelOptions(const TessaloyNet::TlsPacketChannelOptions& options) { channelOptions_ = options; }

    // Pairing mode: media channel, then control channel, then this device's pairing exchange on the
    // media channel. Returns once both channels are ready (or one failed: see channel()).
    void pair(const Endpoint& mac, const TessaloyNet::PairingCode& code, TessaloyCore::ByteView salt);
    // The same from a "plovander://pair?..." link; false when the link does not read.
    bool pair(const Endpoint& mac, std::string_view link);
    // Waits for the Mac's pairing exchange on the media channel and keeps its key.
    std::optional<TessaloyNet::PairingExchange> awaitMacExchange(
        std::chrono::milliseconds patience = std::chrono::seconds(20));
    const std::optional<TessaloyCore::Bytes>& macKey() const { return macKey_; }
    void setMacKey(TessaloyCore::Bytes key) { macKey_ = std::move(key); }

    // Trusted mode with the kept Mac key: media channel, then control channel.
    void connect(const Endpoint& mac);
    // Trusted mode away from home: asks the relay for the Mac's direct candidates and races them;
    // when none answers, opens both channels through the relay. Returns the candidate it reached
    // directly, if any. Throws std::runtime_error when the lookup or a relayed channel fails.
    // `meanwhile` runs while it waits: the Mac answers a relayed call on its main actor.
    std::optional<std::string> connect(const TessaloyNet::RelayRoute& route,
                                       const DeviceMediaReceiver::Meanwhile& meanwhile);

    // The channel of that role from the last pair() or connect(); nullptr before.
    Connection* channel(Role role);
    // What the channels of the last pair() or connect() delivered, decoded; each pair() and
    // connect() starts a new receiver, as the device starts a new player for each session.
    DeviceMediaReceiver& media() { return *receiver_; }
    void send(Role role, TessaloyCore::WirePacket packet);
    // Waits until the channel of `role` received `count` packets; returns them.
    std::vector<TessaloyCore::WirePacket> received(Role role, std::size_t count);
    // Closes both channels normally.
    void disconnect();

    // One connection of the trusted or pairing kind, declaring `role` first (when given).
    std::shared_ptr<Connection> open(const Endpoint& mac, const TessaloyNet::TlsParameters& parameters,
                                     std::optional<Role> role);
    TessaloyNet::TlsParameters trustedParameters() const;
    TessaloyNet::TlsParameters pairingParameters(const TessaloyNet::PairingCode& code, TessaloyCore::ByteView salt);

    // A connection that misbehaves as asked; it runs until the Mac ends it. Returns what the device
    // saw: the error that ended the connection.
    std::optional<std::string> misbehave(const Endpoint& mac, Misbehaviour misbehaviour,
                                         const TessaloyNet::TlsParameters& parameters);
    // After declaring `role`, sends `count` small packets as fast as it can.
    std::shared_ptr<Connection> flood(const Endpoint& mac, const TessaloyNet::TlsParameters& parameters, Role role,
                                      int count);
    // A TCP connection that never starts TLS; it stays open until the object goes.
    static std::unique_ptr<asio::ip::tcp::socket> stallHandshake(
        const Endpoint& mac, const std::optional<asio::ip::address>& from = std::nullopt);

private:
    // Records and decodes what `channel` delivers, declares `role` first (when given), starts it and
    // waits until it is ready or closed.
    std::shared_ptr<Connection> attach(std::shared_ptr<TessaloyNet::TlsPacketChannel> channel, std::optional<Role> role,
                                       const DeviceMediaReceiver::Meanwhile& meanwhile = {});
    const TessaloyNet::PairingKeys& keysFor(const TessaloyNet::PairingCode& code, TessaloyCore::ByteView salt);
    void openBoth(const Endpoint& mac, const TessaloyNet::TlsParameters& parameters);

    std::string name_;
    std::optional<std::string> certificateName_;
    TessaloyNet::DeviceIdentity identity_;
    std::optional<TessaloyCore::Bytes> macKey_;
    std::map<std::string, TessaloyNet::PairingKeys> keys_;
    std::shared_ptr<Connection> media_;
    std::shared_ptr<Connection> control_;
    std::shared_ptr<DeviceMediaReceiver> receiver_ = std::make_shared<DeviceMediaReceiver>();
    bool sendsPairingExchange_ = true;
    TessaloyNet::TlsPacketChannelOptions channelOptions_;
};

} // namespace Testing
