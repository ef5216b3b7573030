#pragma once

#include "core/Bytes.h"
#include "core/WirePacket.h"
#include "net/channel/LatencySamples.h"

#include <functional>
#include <optional>
#include <string>

namespace TessaloyBase {
class SerialQueue;
} // namespace TessaloyBase

namespace TessaloyNet {

// One authenticated connection carrying WirePackets. Shared through std::shared_ptr; those who
// only send on it hold it weakly. Every event and every call of the packet source runs on the
// channel's own queue; the send operations and close are safe from any thread.
class PacketChannel {
public:
    // Asked for the next packet whenever the connection can take more; nullopt means nothing now,
    // and the channel then waits for resumeSending().
    using PacketSource = std::function<std::optional<TessaloyCore::WirePacket>()>;

    struct Events {
        std::function<void()> ready;
        std::function<void(TessaloyCore::WirePacket)> packet;
        // Exactly once; no error for a normal close by either side.
        std::function<void(const std::optional<std::string>& error)> closed;
    };

    virtual ~PacketChannel() = default;

    virtual TessaloyBase::SerialQueue& queue() = 0;
    virtual void setEvents(Events events) = 0;

    virtual void setPacketSource(PacketSource source) = 0;
    // The packet source has something again.
    virtual void resumeSending() = 0;
    // Sends at once, ahead of pulled packets.
    virtual void sendDirect(TessaloyCore::WirePacket packet) = 0;
    // Sends only while fewer than `limit` such packets are still on their way out; returns false
    // when the packet was dropped.
    virtual bool sendDroppable(TessaloyCore::WirePacket packet, int limit) = 0;
    // While paused, nothing more is read from the peer, whose sending then stalls on the
    // connection's flow control, and the read time-out does not run; a closing channel reads
    // regardless. Packets already read are still delivered.
    virtual void pauseReading(bool paused) = 0;
    // Closes after everything already queued for sending went out; no error means a normal close.
    virtual void close(std::optional<std::string> error = std::nullopt) = 0;

    // The X9.63 public key of the peer's certificate, when the peer presented one.
    virtual std::optional<TessaloyCore::Bytes> peerPublicKey() const = 0;
    // Round-trip times of the channel's pings.
    virtual LatencySamples latency() const = 0;
};

} // namespace TessaloyNet
