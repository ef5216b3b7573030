#include "net/relay/RelayControlClient.h"

#include "base/Hop.h"
#include "connectwire/ConnectProtocol.h"
#include "connectwire/ConnectWireError.h"
#include "connectwire/ControlMessage.h"
#include "net/relay/RelayTlsContext.h"

#include <asio/connect.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ssl/stream.hpp>
#include <asio/write.hpp>

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>

namespace TessaloyNet {

using TessaloyCore::Bytes;
using namespace TessaloyConnectWire;
using asio::ip::tcp;
using TessaloyBase::hop;

namespace {

using KeepIdle = asio::detail::socket_option::integer<IPPROTO_TCP, TCP_KEEPIDLE>;
constexpr int keepAliveIdleSeconds = 20;
constexpr std::size_t readChunk = 4096;

bool isAddress(const std::string& host) {
    std::error_code error;
    asio::ip::make_address(host, error);
    return !error;
}

} // namespace

struct RelayControlClient::Connection {
    Connection(const TessaloyBase::SerialQueue::Executor& executor, asio::ssl::context& context)
        : resolver(executor), stream(executor, context) {}

    void close() {
        connectTimer.cancel();
        resolver.cancel();
        std::error_code ignored;
        stream.lowest_layer().close(ignored);
    }

    tcp::resolver resolver;
    asio::ssl::stream<tcp::socket> stream;
    TessaloyBase::ScheduledCall connectTimer;
    std::array<std::uint8_t, readChunk> readSpace{};
    std::deque<Bytes> outbox;
    bool writing = false;
    bool handshaken = false;
};

std::shared_ptr<RelayControlClient> RelayControlClient::create(RelayEndpoint relay,
                                                               std::shared_ptr<TessaloyBase::QueueClock> clock) {
    if (!clock) clock = TessaloyBase::sharedSteadyQueueClock();
    return std::shared_ptr<RelayControlClient>(new RelayControlClient(std::move(relay), std::move(clock)));
}

RelayControlClient::RelayControlClient(RelayEndpoint relay, std::shared_ptr<TessaloyBase::QueueClock> clock)
    : relay_(std::move(relay)), clock_(std::move(clock)), tls_(std::make_shared<RelayTlsContext>(relay_.tlsKey)) {}

RelayControlClient::~RelayControlClient() {
    if (connection_) {
        // The connection's handlers keep it and the TLS context alive until they have run.
        asio::post(queue_.executor(), [connection = connection_, tls = tls_] { connection->close(); });
    }
}

void RelayControlClient::setOnIncoming(IncomingHandler handler) {
    queue_.async(
        hop(*this, [handler = std::move(handler)](RelayControlClient& client) { client.onIncoming_ = handler; }));
}

void RelayControlClient::setOnState(StateHandler handler) {
    queue_.async(hop(*this, [handler = std::move(handler)](RelayControlClient& client) { client.onState_ = handler; }));
}

void RelayControlClient::start(std::vector<Bytes> meetingIDs) {
    queue_.async(hop(*this, [ids = std::move(meetingIDs)](RelayControlClient& client) {
        client.meetingIDs_ = ids;
        if (client.running_) {
            client.sendRegistration();
            return;
        }
        client.running_ = true;
        client.connect();
    }));
}

void RelayControlClient::update(std::vector<Bytes> meetingIDs) {
    queue_.async(hop(*this, [ids = std::move(meetingIDs)](RelayControlClient& client) {
        client.meetingIDs_ = ids;
        client.sendRegistration();
    }));
}

void RelayControlClient::updateCandidates(std::vector<std::string> candidates) {
    queue_.async(hop(*this, [candidates = std::move(candidates)](RelayControlClient& client) {
        if (candidates == client.candidates_) return;
        client.candidates_ = candidates;
        client.sendCandidates();
    }));
}

void RelayControlClient::stop() {
    queue_.async(hop(*this, [](RelayControlClient& client) {
        client.running_ = false;
        client.pingTimer_.cancel();
        client.dropConnection();
        client.onState_ = nullptr;
        client.onIncoming_ = nullptr;
    }));
}

void RelayControlClient::report(const State& state) {
    if (onState_) onState_(state);
}

void RelayControlClient::dropConnection() {
    if (connection_) connection_->close();
    connection_.reset();
}

void RelayControlClient::connect() {
    if (!running_) return;
    report({State::Kind::connecting, {}});
    dropConnection();
    buffer_.clear();
    auto connection = std::make_shared<Connection>(queue_.executor(), tls_->context());
    connection_ = connection;
    connection->connectTimer = clock_->after(
        queue_, connectTimeout,
        hop(*this, [connection](RelayControlClient& client) { client.fail(connection, "The operation timed out."); }));
    connection->resolver.async_resolve(relay_.host, std::to_string(relay_.effectivePort()),
                                       hop(*this, [connection](RelayControlClient& client, std::error_code error,
                                                               const tcp::resolver::results_type& results) {
                                           std::vector<tcp::endpoint> endpoints;
                                           for (const auto& entry : results) endpoints.push_back(entry.endpoint());
                                           client.resolved(connection, error, endpoints);
                                       }));
}

void RelayControlClient::resolved(const std::shared_ptr<Connection>& connection, std::error_code error,
                                  const std::vector<tcp::endpoint>& endpoints) {
    if (connection != connection_) return;
    if (error) return fail(connection, error.message());
    asio::async_connect(connection->stream.lowest_layer(), endpoints,
                        hop(*this, [connection](RelayControlClient& client, std::error_code failure,
                                                const tcp::endpoint&) { client.connected(connection, failure); }));
}

void RelayControlClient::connected(const std::shared_ptr<Connection>& connection, std::error_code failure) {
    if (connection != connection_) return;
    if (failure) return fail(connection, failure.message());
    tcp::socket& socket = connection->stream.next_layer();
    std::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    socket.set_option(asio::socket_base::keep_alive(true), ignored);
    socket.set_option(KeepIdle(keepAliveIdleSeconds), ignored);
    if (!isAddress(relay_.host)) {
        // SSL_set_tlsext_host_name without its C cast.
        SSL_ctrl(connection->stream.native_handle(), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                 const_cast<char*>(relay_.host.c_str()));
    }
    connection->stream.async_handshake(asio::ssl::stream_base::client,
                                       hop(*this, [connection](RelayControlClient& client, std::error_code shake) {
                                           if (connection != client.connection_) return;
                                           if (shake) return client.fail(connection, shake.message());
                                           client.ready(connection);
                                       }));
}

void RelayControlClient::ready(const std::shared_ptr<Connection>& connection) {
    connection->connectTimer.cancel();
    connection->handshaken = true;
    failures_ = 0;
    sendRegistration();
    sendCandidates();
    schedulePing();
    report({State::Kind::online, {}});
    receive(connection);
}

void RelayControlClient::schedulePing() {
    pingTimer_ = clock_->after(queue_, pingInterval, hop(*this, [](RelayControlClient& client) {
                                   if (!client.connection_) return;
                                   client.send(ControlMessage(ControlMessage::Ping{}).encoded());
                                   client.schedulePing();
                               }));
}

void RelayControlClient::sendRegistration() {
    const std::size_t count = std::min(meetingIDs_.size(), ConnectProtocol::maximumMeetingIDs);
    try {
        send(ControlMessage(
                 ControlMessage::Register{ConnectProtocol::version, {meetingIDs_.begin(), meetingIDs_.begin() + count}})
                 .encoded());
    } catch (const ConnectWireError&) {
        // An identifier of the wrong length: nothing is sent.
    }
}

void RelayControlClient::sendCandidates() {
    const std::size_t count = std::min(candidates_.size(), maximumCandidates);
    try {
        send(ControlMessage(ControlMessage::Candidates{{candidates_.begin(), candidates_.begin() + count}}).encoded());
    } catch (const ConnectWireError&) {
        // An empty or over-long candidate: nothing is sent.
    }
}

void RelayControlClient::send(const Bytes& frame) {
    // A write during the TLS handshake would drive the handshake beside its own operation; ready()
    // sends the registration and candidates current by then.
    if (!connection_ || !connection_->handshaken) return;
    connection_->outbox.push_back(frame);
    if (!connection_->writing) writeNext(connection_);
}

// One TLS write at a time; an outcome is not observed, since a dead connection shows on the read.
void RelayControlClient::writeNext(const std::shared_ptr<Connection>& connection) {
    if (connection->outbox.empty()) {
        connection->writing = false;
        return;
    }
    connection->writing = true;
    // The handler holds the connection, and with it the bytes being written.
    asio::async_write(connection->stream, asio::buffer(connection->outbox.front()),
                      hop(*this, [connection](RelayControlClient& client, std::error_code error, std::size_t) {
                          connection->outbox.pop_front();
                          if (error || connection != client.connection_) {
                              connection->writing = false;
                              return;
                          }
                          client.writeNext(connection);
                      }));
}

void RelayControlClient::receive(const std::shared_ptr<Connection>& connection) {
    connection->stream.async_read_some(
        asio::buffer(connection->readSpace),
        hop(*this, [connection](RelayControlClient& client, std::error_code error, std::size_t count) {
            client.received(connection, error, count);
        }));
}

void RelayControlClient::received(const std::shared_ptr<Connection>& connection, std::error_code error,
                                  std::size_t count) {
    if (connection != connection_) return;
    buffer_.insert(buffer_.end(), connection->readSpace.begin(),
                   connection->readSpace.begin() + static_cast<std::ptrdiff_t>(count));
    try {
        while (auto frame = ControlMessage::decode(buffer_)) {
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(frame->length));
            if (const auto* incoming = frame->value.as<ControlMessage::Incoming>(); incoming && onIncoming_) {
                onIncoming_(incoming->sessionID, incoming->meetingID, incoming->channel);
                if (connection != connection_) return;
            }
        }
    } catch (const ConnectWireError&) {
        return fail(connection, "malformed control message");
    }
    if (error == asio::error::eof || error == asio::ssl::error::stream_truncated) return fail(connection, "closed");
    if (error) return fail(connection, error.message());
    receive(connection);
}

void RelayControlClient::fail(const std::shared_ptr<Connection>& connection, const std::string& reason) {
    if (connection != connection_) return;
    dropConnection();
    pingTimer_.cancel();
    if (running_) {
        ++failures_;
        const double delay = std::min(std::pow(2.0, std::min(failures_, 6)), 60.0);
        // Scheduled before the report, so whoever hears of the failure finds the retry pending. It
        // stays pending across stop(): connect() then does nothing.
        reconnect_ = clock_->after(queue_, TessaloyBase::QueueClock::Duration(delay),
                                   hop(*this, [](RelayControlClient& client) { client.connect(); }));
    }
    report(State::offline(reason));
}

} // namespace TessaloyNet
