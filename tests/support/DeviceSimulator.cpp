#include "tests/support/DeviceSimulator.h"

#include "base/SerialQueue.h"
#include "core/Encoding.h"
#include "net/channel/LANTransport.h"
#include "net/channel/PairingLink.h"
#include "net/relay/CandidateAddress.h"
#include "net/relay/DirectProbe.h"
#include "net/relay/RelayLookup.h"
#include "tests/support/RelayedChannel.h"

#include <asio/connect.hpp>
#include <asio/ssl/stream.hpp>
#include <asio/write.hpp>

#include <future>
#include <stdexcept>

namespace Testing {

using TessaloyCore::Bytes;
using TessaloyCore::ByteView;
using TessaloyCore::WirePacket;
using TessaloyNet::LANTransport;
using TessaloyNet::TlsPacketChannel;
using TessaloyNet::TlsParameters;
using namespace std::chrono_literals;

namespace {

// How long the device waits for a channel to be ready.
constexpr std::chrono::milliseconds patience = 20s;
// The device's time-out for the relay's lookup answer and for racing the candidates.
constexpr TessaloyBase::QueueClock::Duration lookupTimeout{5.0};

} // namespace

std::optional<std::string> DeviceSimulator::Connection::waitForClose() {
    log.waitForClose();
    std::lock_guard guard(log.lock);
    return log.closedError;
}

DeviceSimulator::Connection::~Connection() {
    if (!channel) return;
    channel->close();
    log.waitForClose();
}

DeviceSimulator::DeviceSimulator(std::string name, TessaloyNet::DeviceIdentity identity)
    : name_(std::move(name)), identity_(std::move(identity)) {}

DeviceSimulator::~DeviceSimulator() { disconnect(); }

const TessaloyNet::PairingKeys& DeviceSimulator::keysFor(const TessaloyNet::PairingCode& code, ByteView salt) {
    const std::string key = code.symbols() + TessaloyCore::hexString(salt);
    auto found = keys_.find(key);
    if (found == keys_.end()) found = keys_.emplace(key, TessaloyNet::PairingKeys::derive(code, salt)).first;
    return found->second;
}

TlsParameters DeviceSimulator::pairingParameters(const TessaloyNet::PairingCode& code, ByteView salt) {
    return LANTransport::pairingClientParameters(keysFor(code, salt), certificateName_.value_or(name_));
}

TlsParameters DeviceSimulator::trustedParameters() const {
    if (!macKey_) throw std::logic_error("the simulator has not paired with a Mac");
    return LANTransport::trustedClientParameters(identity_, name_, *macKey_);
}

std::shared_ptr<DeviceSimulator::Connection> DeviceSimulator::open(const Endpoint& mac, const TlsParameters& parameters,
                                                                   std::optional<Role> role) {
    return attach(TlsPacketChannel::connecting(mac, parameters, channelOptions_), role);
}

std::shared_ptr<DeviceSimulator::Connection> DeviceSimulator::attach(std::shared_ptr<TlsPacketChannel> channel,
                                                                     std::optional<Role> role,
                                                                     const DeviceMediaReceiver::Meanwhile& meanwhile) {
    auto connection = std::make_shared<Connection>();
    connection->channel = std::move(channel);
    auto events = connection->log.events();
    // Decoded before it is logged: a test that saw a packet in the log finds it decoded.
    events.packet = [record = std::move(events.packet), receiver = receiver_](WirePacket packet) {
        receiver->take(packet);
        record(std::move(packet));
    };
    connection->channel->setEvents(std::move(events));
    if (role) connection->channel->sendDirect(role->packet());
    connection->channel->start();
    auto& log = connection->log;
    const auto settled = [&] { return log.ready > 0 || log.closedCount > 0; };
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (std::unique_lock guard(log.lock); !log.changed.wait_for(guard, meanwhile ? 5ms : patience, settled) &&
                                           std::chrono::steady_clock::now() < deadline;) {
        guard.unlock();
        if (meanwhile) meanwhile();
        guard.lock();
    }
    return connection;
}

void DeviceSimulator::openBoth(const Endpoint& mac, const TlsParameters& parameters) {
    disconnect();
    receiver_ = std::make_shared<DeviceMediaReceiver>();
    media_ = open(mac, parameters, Role::media);
    control_ = open(mac, parameters, Role::control);
}

void DeviceSimulator::pair(const Endpoint& mac, const TessaloyNet::PairingCode& code, ByteView salt) {
    openBoth(mac, pairingParameters(code, salt));
    if (!sendsPairingExchange_) return;
    media_->channel->sendDirect(TessaloyNet::PairingExchange(identity_.publicKey(), name_).packet());
}

bool DeviceSimulator::pair(const Endpoint& mac, std::string_view link) {
    const auto pairing = TessaloyNet::PairingLink::parse(link);
    if (!pairing) return false;
    pair(mac, pairing->code, pairing->salt);
    return true;
}

std::optional<TessaloyNet::PairingExchange> DeviceSimulator::awaitMacExchange(std::chrono::milliseconds wait) {
    if (!media_) return std::nullopt;
    std::optional<TessaloyNet::PairingExchange> exchange;
    auto& log = media_->log;
    std::unique_lock guard(log.lock);
    log.changed.wait_for(guard, wait, [&] {
        for (const auto& packet : log.packets) {
            if (packet.kind() != WirePacket::Kind::pairingExchange) continue;
            try {
                exchange = TessaloyNet::PairingExchange::decode(packet);
                return true;
            } catch (const TessaloyNet::PairingExchange::Error&) {
            }
        }
        return log.closedCount > 0;
    });
    if (exchange) macKey_ = exchange->publicKey();
    return exchange;
}

void DeviceSimulator::connect(const Endpoint& mac) { openBoth(mac, trustedParameters()); }

std::optional<std::string> DeviceSimulator::connect(const TessaloyNet::RelayRoute& route,
                                                    const DeviceMediaReceiver::Meanwhile& meanwhile) {
    auto looked = std::make_shared<std::promise<std::vector<std::string>>>();
    auto candidates = looked->get_future();
    TessaloyNet::RelayLookup::candidates(route.relay, route.meetingID, lookupTimeout,
                                         [looked](std::vector<std::string> found, std::exception_ptr error) {
                                             if (error) return looked->set_exception(error);
                                             looked->set_value(std::move(found));
                                         });
    if (!arrives(candidates, meanwhile)) throw std::runtime_error("the relay lookup did not end");
    auto raced = std::make_shared<std::promise<std::optional<std::string>>>();
    auto reached = raced->get_future();
    TessaloyNet::DirectProbe::firstReachable(candidates.get(), lookupTimeout, [raced](std::optional<std::string> text) {
        raced->set_value(std::move(text));
    });
    if (!arrives(reached, meanwhile)) throw std::runtime_error("the direct probe did not end");
    if (auto direct = reached.get()) {
        connect(*TessaloyNet::candidateEndpoint(*direct));
        return direct;
    }

    disconnect();
    receiver_ = std::make_shared<DeviceMediaReceiver>();
    const TlsParameters parameters = trustedParameters();
    const auto relayed = [&](TessaloyConnectWire::ConnectChannel channel, Role role) {
        return attach(relayedChannel(route, channel, parameters, channelOptions_, meanwhile), role, meanwhile);
    };
    media_ = relayed(TessaloyConnectWire::ConnectChannel::media, Role::media);
    control_ = relayed(TessaloyConnectWire::ConnectChannel::control, Role::control);
    return std::nullopt;
}

DeviceSimulator::Connection* DeviceSimulator::channel(Role role) {
    return role == Role::media ? media_.get() : control_.get();
}

void DeviceSimulator::send(Role role, WirePacket packet) {
    Connection* connection = channel(role);
    if (!connection) throw std::logic_error("no channel of that role");
    connection->channel->sendDirect(std::move(packet));
}

std::vector<WirePacket> DeviceSimulator::received(Role role, std::size_t count) {
    Connection* connection = channel(role);
    if (!connection) return {};
    connection->log.waitUntil([&] { return connection->log.packets.size() >= count || connection->log.closedCount; });
    std::lock_guard guard(connection->log.lock);
    return connection->log.packets;
}

void DeviceSimulator::disconnect() {
    media_.reset();
    control_.reset();
}

std::shared_ptr<DeviceSimulator::Connection> DeviceSimulator::flood(const Endpoint& mac,
                                                                    const TlsParameters& parameters, Role role,
                                                                    int count) {
    auto connection = open(mac, parameters, role);
    for (int i = 0; i < count; ++i) {
        connection->channel->sendDirect(WirePacket(WirePacket::Kind::session, Bytes{3}));
    }
    return connection;
}

std::optional<std::string> DeviceSimulator::misbehave(const Endpoint& mac, Misbehaviour misbehaviour,
                                                      const TlsParameters& parameters) {
    switch (misbehaviour) {
        case Misbehaviour::noCertificate: {
            const TlsParameters bare(TlsParameters::Side::client,
                                     [](ByteView) { return std::optional<std::string>(); });
            return open(mac, bare, Role::media)->waitForClose();
        }
        case Misbehaviour::nonRoleFirstPacket: {
            auto connection = open(mac, parameters, std::nullopt);
            connection->channel->sendDirect(WirePacket(WirePacket::Kind::session, Bytes{3}));
            return connection->waitForClose();
        }
        case Misbehaviour::badMagic:
        case Misbehaviour::oversizedLength:
            break;
    }
    // Raw bytes inside TLS, on a blocking stream of the test's own.
    Bytes bytes = misbehaviour == Misbehaviour::badMagic
                      ? Bytes{'T', 'S', 'L', 'X', 1, 7, 0, 0, 0, 0, 0, 1, 0}
                      : Bytes{'T', 'S', 'L', 'Y', 1, 2, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    asio::io_context io;
    asio::ssl::stream<asio::ip::tcp::socket> stream(io, parameters.context());
    try {
        stream.lowest_layer().connect(mac);
        stream.handshake(asio::ssl::stream_base::client);
        asio::write(stream, asio::buffer(bytes));
        std::array<std::uint8_t, 256> sink{};
        for (;;) stream.read_some(asio::buffer(sink));
    } catch (const std::system_error& error) {
        return error.code().message();
    }
}

std::unique_ptr<asio::ip::tcp::socket> DeviceSimulator::stallHandshake(const Endpoint& mac,
                                                                       const std::optional<asio::ip::address>& from) {
    auto socket = std::make_unique<asio::ip::tcp::socket>(TessaloyBase::sharedIoContext());
    socket->open(mac.protocol());
    if (from) socket->bind(asio::ip::tcp::endpoint(*from, 0));
    socket->connect(mac);
    return socket;
}

} // namespace Testing
