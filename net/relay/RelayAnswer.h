#pragma once

#include "base/QueueClock.h"
#include "base/SerialQueue.h"
#include "connectwire/ConnectChannel.h"
#include "core/Bytes.h"
#include "net/relay/LoopbackBridge.h"
#include "net/relay/RelayEndpoint.h"
#include "net/relay/RelayRefusal.h"

#include <asio/ip/tcp.hpp>

#include <array>
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
// A process-wide registry keeps each answer alive until it closes; callers need not keep it.
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

    static constexpr TessaloyBase::QueueClock::Duration connectTimeout{10.0};
    // A relay that takes a hello but never replies must not hold the answer forever.
    static constexpr TessaloyBase::QueueClock::Duration replyDeadline{60.0};

    // Throws (CryptoError, ConnectWireError) when the hello cannot be sealed; nothing is opened then.
    static std::shared_ptr<RelayAnswer> answer(const RelayEndpoint& relay, TessaloyCore::ByteView sessionID,
                                               TessaloyConnectWire::ConnectChannel channel, std::uint16_t localPort,
                                               FailureHandler onFailure, BridgeSource bridgeSource = {},
                                               std::shared_ptr<TessaloyBase::QueueClock> clock = nullptr);
    // Answers still bridging or starting, process-wide.
    static std::size_t openAnswers();

private:
    RelayAnswer(TessaloyCore::Bytes sealedHello, std::uint16_t localPort, FailureHandler onFailure,
                BridgeSource bridgeSource, std::shared_ptr<TessaloyBase::QueueClock> clock);

    void start(const RelayEndpoint& relay);
    void connected();
    void replied(std::size_t count);
    void bridge(TessaloyCore::Bytes early);
    void fail(Failure failure);
    void close();

    TessaloyBase::SerialQueue queue_{"dev.tessaloy.relay-answer"};
    const TessaloyCore::Bytes sealedHello_;
    const std::uint16_t localPort_;
    FailureHandler onFailure_;
    BridgeSource bridgeSource_;
    std::shared_ptr<TessaloyBase::QueueClock> clock_;
    asio::ip::tcp::resolver resolver_;
    asio::ip::tcp::socket relayed_;
    // The relay's reply byte, and whatever of the device's bytes came with it.
    TessaloyCore::Bytes reply_ = TessaloyCore::Bytes(LoopbackBridge::chunkBytes);
    TessaloyBase::ScheduledCall deadline_;
    bool closed_ = false;
};

} // namespace TessaloyNet
