#pragma once

#include "base/SerialQueue.h"
#include "core/WireDecoder.h"
#include "core/WirePacket.h"
#include "net/channel/ByteStream.h"
#include "net/channel/PacketChannel.h"
#include "net/channel/PacketWriter.h"
#include "net/channel/ReceiveBudget.h"
#include "net/channel/TlsParameters.h"

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace TessaloyNet {

struct TlsPacketChannelOptions {
    ReceiveBudgetLimits receiveBudget{};
    std::chrono::milliseconds readTimeout{std::chrono::seconds(10)};
    std::chrono::milliseconds pingInterval{std::chrono::seconds(1)};
    // How long close() waits for the peer to confirm the close before dropping the connection.
    std::chrono::milliseconds closeGrace{std::chrono::seconds(2)};
};

// A packet channel over one TLS connection, on a serial queue of its own ("dev.tessaloy.channel").
//
// Reading: the socket reads straight into the payload of the packet being received (WireDecoder's
// writableSpace()/commit()), in place while data is there (ByteStream::readNow), through the
// queue once it has to wait. Every packet counts against the receive budget; pings are answered
// with pongs and pongs give round-trip samples, and neither is delivered as a packet event. The
// channel closes with an error when the peer exceeds the budget, sends a bad header or sends nothing
// for the read time-out.
//
// Sending: see PacketWriter. The channel pings the peer as soon as it is ready and every
// `pingInterval` after that.
//
// Lifetime: once started, the channel keeps itself alive until it has closed and reported `closed`;
// whoever stops needing it calls close(). Its events may release the last outside reference.
class TlsPacketChannel final : public PacketChannel, public std::enable_shared_from_this<TlsPacketChannel> {
public:
    static constexpr const char* queueLabel = "dev.tessaloy.channel";
    // Bytes read in place in a row before the channel's queue runs its other work.
    static constexpr std::size_t maximumReadInPlace = 1 << 20;

    using Options = TlsPacketChannelOptions;

    using StreamMaker = std::function<std::unique_ptr<ByteStream>(TessaloyBase::SerialQueue& queue)>;

    // The server end of an accepted TCP connection. Throws CryptoError.
    static std::shared_ptr<TlsPacketChannel> accepted(asio::ip::tcp::socket socket, const TlsParameters& server,
                                                      Options options = {});
    // The client end of a connection to `endpoint`, which start() opens.
    static std::shared_ptr<TlsPacketChannel> connecting(asio::ip::tcp::endpoint endpoint, const TlsParameters& client,
                                                        Options options = {});
    // Over any stream made for the channel's queue.
    static std::shared_ptr<TlsPacketChannel> over(const StreamMaker& makeStream, Options options = {});

    ~TlsPacketChannel() override;

    // Starts the handshake; set the events first. Safe from any thread.
    void start();

    TessaloyBase::SerialQueue& queue() override { return *queue_; }
    void setEvents(Events events) override;
    void setPacketSource(PacketSource source) override;
    void resumeSending() override;
    void sendDirect(TessaloyCore::WirePacket packet) override;
    bool sendDroppable(TessaloyCore::WirePacket packet, int limit) override;
    void pauseReading(bool paused) override;
    void close(std::optional<std::string> error = std::nullopt) override;
    std::optional<TessaloyCore::Bytes> peerPublicKey() const override;
    LatencySamples latency() const override;

    // The common name of the peer's certificate, once ready.
    std::optional<std::string> peerName() const;
    // Droppable packets not yet written.
    int droppableInFlight() const noexcept { return droppableInFlight_.load(); }

private:
    enum class State { idle, handshaking, open, closing, closed };

    TlsPacketChannel(const StreamMaker& makeStream, Options options);

    // The rest runs on the queue.
    void handshaken(std::error_code error);
    // Reads what is there, then waits for more; parks while reading is paused.
    void readNext();
    void setReadingPaused(bool paused);
    void didRead(std::error_code error, std::size_t count);
    void readFailed(std::error_code error);
    // Takes `count` bytes read into the decoder's space; false once the channel closed.
    bool received(std::size_t count);
    void handle(TessaloyCore::WirePacket packet);
    void sendPing();
    void schedulePing();
    void scheduleReadCheck(std::chrono::steady_clock::duration after);
    void beginClose(std::optional<std::string> error);
    void flushed();
    void finish(std::optional<std::string> error);
    std::shared_ptr<const Events> events() const;

    std::unique_ptr<TessaloyBase::SerialQueue> queue_;
    Options options_;
    std::unique_ptr<ByteStream> stream_;
    std::unique_ptr<PacketWriter> writer_;
    asio::steady_timer pingTimer_;
    asio::steady_timer readTimer_;
    asio::steady_timer graceTimer_;

    // Queue only.
    State state_ = State::idle;
    TessaloyCore::WireDecoder decoder_;
    ReceiveBudget budget_;
    std::chrono::steady_clock::time_point lastReceived_{};
    bool readingPaused_ = false;
    // readNext() stopped for the pause, with no read under way.
    bool readParked_ = false;
    std::optional<std::string> closeError_;
    std::uint64_t nextPingToken_ = 0;
    std::deque<std::pair<std::uint64_t, std::chrono::steady_clock::time_point>> pingsInFlight_;

    std::atomic<int> droppableInFlight_{0};
    std::atomic<bool> closeRequested_{false};

    mutable std::mutex lock_;
    std::shared_ptr<const Events> events_;             // guarded by lock_
    std::optional<TessaloyCore::Bytes> peerPublicKey_; // guarded by lock_
    std::optional<std::string> peerName_;              // guarded by lock_
    LatencySamples latency_;                           // guarded by lock_
};

} // namespace TessaloyNet
