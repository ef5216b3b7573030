#pragma once

#include "base/SerialQueue.h"
#include "net/channel/PacketChannel.h"

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Testing {

// A packet channel with no socket: it records what is sent, in the order it would reach the wire,
// and sends pulled packets only when the test says the connection can take more (`pull`). It runs
// on a real serial queue: the packet source and the events run there, so the queue contracts of
// the real channel hold. Safe from any thread.
class FakePacketChannel final : public TessaloyNet::PacketChannel {
public:
    // How a packet left, or the close.
    enum class Route { pulled, direct, droppable, closed };

    struct Entry {
        Route route = Route::pulled;
        std::optional<TessaloyCore::WirePacket> packet; // absent for the close
        std::optional<std::string> error;               // the close's error

        friend bool operator==(const Entry&, const Entry&) = default;
    };

    FakePacketChannel();
    ~FakePacketChannel() override;

    TessaloyBase::SerialQueue& queue() override { return queue_; }
    void setEvents(Events events) override;
    void setPacketSource(PacketSource source) override;
    void resumeSending() override;
    void sendDirect(TessaloyCore::WirePacket packet) override;
    bool sendDroppable(TessaloyCore::WirePacket packet, int limit) override;
    void pauseReading(bool paused) override;
    void close(std::optional<std::string> error = std::nullopt) override;
    std::optional<TessaloyCore::Bytes> peerPublicKey() const override;
    TessaloyNet::LatencySamples latency() const override;

    // The connection can take up to `count` more packets: asks the packet source on the channel's
    // queue until it has nothing, and returns what it gave. Nothing once closed.
    std::vector<TessaloyCore::WirePacket> pull(std::size_t count);
    // Droppable sends still on their way out; `deliverDroppable` lets some of them arrive.
    int droppableInFlight() const;
    void deliverDroppable(int count);
    // The peer's side: runs the events on the channel's queue and waits for them.
    void receive(TessaloyCore::WirePacket packet);
    void simulatePeerClose(std::optional<std::string> error = std::nullopt);

    void setPeerPublicKey(std::optional<TessaloyCore::Bytes> key);
    void addRoundTrip(double seconds);

    // Everything in wire order, with the close where it happened.
    std::vector<Entry> log() const;
    // The packets of one route, in order.
    std::vector<TessaloyCore::WirePacket> sent(Route route) const;
    std::size_t resumeCount() const;
    bool hasPacketSource() const;
    bool isClosed() const;
    // What the last pauseReading() asked for.
    bool isReadingPaused() const;

private:
    // Runs `work` on the queue and waits; the channel's mutex is not held meanwhile.
    void onQueue(const std::function<void()>& work);
    void finishClose(std::optional<std::string> error, bool record);

    TessaloyBase::SerialQueue queue_;
    mutable std::mutex lock_;
    Events events_;
    PacketSource source_;
    std::vector<Entry> log_;
    std::size_t resumeCount_ = 0;
    int droppableInFlight_ = 0;
    bool closed_ = false;
    bool readingPaused_ = false;
    std::optional<TessaloyCore::Bytes> peerPublicKey_;
    TessaloyNet::LatencySamples latency_;
};

} // namespace Testing
