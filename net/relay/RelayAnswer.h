#pragma once

#include "base/QueueClock.h"
#include "base/SerialQueue.h"
#include "connectwire/ConnectChannel.h"
#include "core/Bytes.h"
#include "net/relay/LoopbackBridge.h"
#include "net/relay/RelayEndpoint.h"
#include "net/relay/RelayRefusal.h"

#include <asio/ip/tcp.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

namespace TessaloyNet {

// Answers one incoming relayed call: opens a data connection to the relay, sends the sealed hello
// naming the call, waits for the relay's reply byte and, once connected, bridges the call to this
// Mac's own listener over loopback, copying bytes both ways until either side ends. The device's
// TLS runs end to end through the bridge.
//
// Lives on its own queue, as long as its owner holds it (RelayAnswers holds every answer of the
// registration); its handlers hold it weakly, so dropping it ends the call.
class RelayAnswer : public std::enable_shared_from_this<RelayAnswer> {
public:
    // Why a call was not bridged.
    struct Failure {
        enum class Kind { relay, listenerUnreachable };
        Kind kind;
        std::error_code error;

        // The refusal the relay's reply encoded, when it was one.
        std::optional<RelayRefusal> refusal() const;
        std::string description() const;
    };
    using FailureHandler = std::function<void(const Failure&)>;
    using BridgeSource = LoopbackBridge::BridgeSource;
    // Runs once, on the answer's queue, when the answer closes: with why when the call was not
    // bridged.
    using EndHandler = std::function<void(const std::optional<Failure>&)>;

    static constexpr TessaloyBase::QueueClock::Duration connectTimeout{10.0};
    // A relay that takes a hello but never replies must not hold the answer forever.
    static constexpr TessaloyBase::QueueClock::Duration replyDeadline{60.0};

    // Seals the hello for the call and opens nothing yet. Throws (CryptoError, ConnectWireError)
    // when the hello cannot be sealed.
    static std::shared_ptr<RelayAnswer> prepare(const RelayEndpoint& relay, TessaloyCore::ByteView sessionID,
                                                TessaloyConnectWire::ConnectChannel channel, std::uint16_t localPort,
                                                BridgeSource bridgeSource = {},
                                                std::shared_ptr<TessaloyBase::QueueClock> clock = nullptr);
    // Opens the relayed connection. Any thread; once. With a `patience`, a relay that has not replied
    // by then ends the answer too: a call that waited has only the rest of its own.
    void start(EndHandler onEnd, std::optional<TessaloyBase::QueueClock::Duration> patience = std::nullopt);

private:
    RelayAnswer(const RelayEndpoint& relay, TessaloyCore::Bytes sealedHello, std::uint16_t localPort,
                BridgeSource bridgeSource, std::shared_ptr<TessaloyBase::QueueClock> clock);

    // The rest runs on the queue.
    void resolve();
    TessaloyBase::ScheduledCall endUnlessRepliedWithin(TessaloyBase::QueueClock::Duration delay);
    void connected();
    void replied();
    void close(std::optional<Failure> failure = std::nullopt);

    TessaloyBase::SerialQueue queue_{"dev.tessaloy.relay-answer"};
    const std::string host_;
    const std::uint16_t port_;
    const TessaloyCore::Bytes sealedHello_;
    const std::uint16_t localPort_;
    const BridgeSource bridgeSource_;
    const std::shared_ptr<TessaloyBase::QueueClock> clock_;
    EndHandler onEnd_;
    TessaloyBase::ScheduledCall deadline_;
    TessaloyBase::ScheduledCall patience_;
    bool closed_ = false;
    // Declared before the sockets, so that when the answer goes they close before it does.
    std::uint8_t reply_ = 0;
    asio::ip::tcp::resolver resolver_;
    asio::ip::tcp::socket relayed_;
};

} // namespace TessaloyNet
