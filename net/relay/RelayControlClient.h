#pragma once

#include "base/QueueClock.h"
#include "base/SerialQueue.h"
#include "connectwire/ConnectChannel.h"
#include "core/Bytes.h"
#include "net/relay/RelayEndpoint.h"

#include <asio/ip/tcp.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace TessaloyNet {

class RelayTlsContext;

// The one long-lived TLS connection to the relay service: registers the paired devices' meeting
// identifiers, publishes the direct candidates, pings every 25 seconds and hears incoming calls.
// Every failure reports offline and reconnects after 2, 4, 8, 16, 32, then 60 seconds.
//
// Every field lives on the client's queue; the public operations hop onto it, and both callbacks
// run on it. Handlers hold the client weakly: stop it before releasing it.
class RelayControlClient : public std::enable_shared_from_this<RelayControlClient> {
public:
    struct State {
        enum class Kind { offline, connecting, online };
        Kind kind = Kind::offline;
        std::string reason; // offline only

        static State offline(std::string why) { return {Kind::offline, std::move(why)}; }
        friend bool operator==(const State&, const State&) = default;
    };
    using IncomingHandler = std::function<void(TessaloyCore::Bytes sessionID, TessaloyCore::Bytes meetingID,
                                               TessaloyConnectWire::ConnectChannel)>;
    using StateHandler = std::function<void(const State&)>;

    static constexpr TessaloyBase::QueueClock::Duration pingInterval{25.0};
    static constexpr TessaloyBase::QueueClock::Duration connectTimeout{10.0};
    static constexpr std::size_t maximumCandidates = 8;

    // Connects nothing yet. Throws CryptoError when TLS cannot be set up.
    static std::shared_ptr<RelayControlClient> create(RelayEndpoint relay,
                                                      std::shared_ptr<TessaloyBase::QueueClock> clock = nullptr);
    ~RelayControlClient();

    const RelayEndpoint& relay() const noexcept { return relay_; }

    // Set before start, or from the queue; both run on the queue.
    void setOnIncoming(IncomingHandler handler);
    void setOnState(StateHandler handler);

    // Each may be called from any thread and returns at once.
    void start(std::vector<TessaloyCore::Bytes> meetingIDs);
    void update(std::vector<TessaloyCore::Bytes> meetingIDs);
    void updateCandidates(std::vector<std::string> candidates);
    // Ends the cycle without a report and clears both callbacks: a stopped client stays stopped.
    void stop();

private:
    struct Connection;

    RelayControlClient(RelayEndpoint relay, std::shared_ptr<TessaloyBase::QueueClock> clock);

    void connect();
    void resolved(const std::shared_ptr<Connection>& connection, std::error_code error,
                  const std::vector<asio::ip::tcp::endpoint>& endpoints);
    void connected(const std::shared_ptr<Connection>& connection, std::error_code failure);
    void ready(const std::shared_ptr<Connection>& connection);
    void receive(const std::shared_ptr<Connection>& connection);
    void received(const std::shared_ptr<Connection>& connection, std::error_code error, std::size_t count);
    void fail(const std::shared_ptr<Connection>& connection, const std::string& reason);
    void dropConnection();
    void schedulePing();
    void sendRegistration();
    void sendCandidates();
    void send(const TessaloyCore::Bytes& frame);
    void writeNext(const std::shared_ptr<Connection>& connection);
    void report(const State& state);

    const RelayEndpoint relay_;
    const std::shared_ptr<TessaloyBase::QueueClock> clock_;
    std::shared_ptr<RelayTlsContext> tls_;
    TessaloyBase::SerialQueue queue_{"dev.tessaloy.relay-control"};

    IncomingHandler onIncoming_;
    StateHandler onState_;
    std::shared_ptr<Connection> connection_;
    std::vector<TessaloyCore::Bytes> meetingIDs_;
    std::vector<std::string> candidates_;
    bool running_ = false;
    int failures_ = 0;
    TessaloyCore::Bytes buffer_;
    TessaloyBase::ScheduledCall pingTimer_;
    TessaloyBase::ScheduledCall reconnect_;
};

} // namespace TessaloyNet
