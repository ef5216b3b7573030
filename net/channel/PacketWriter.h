#pragma once

#include "core/WirePacket.h"
#include "net/channel/ByteStream.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>

namespace TessaloyBase {
class SerialQueue;
} // namespace TessaloyBase

namespace TessaloyNet {

// The sending half of a packet channel: one write under way at a time through `write`, direct
// packets first, then whatever the packet source gives whenever the connection can take more.
// A packet is never interrupted by another once its first byte went out.
//
// Bound to one queue: it is called there and `write` must run its handler there. With a `writeNow`
// (ByteStream::writeNow), whatever the connection takes at once is written in place, up to
// `maximumWrittenInPlace` bytes in a row, before a write goes through `write` and the queue. It
// writes nothing before start(). The writer stops at the first failed write and reports it once;
// nothing is written after it. Each callback may destroy the writer: nothing of it is touched after a
// callback returns, and a write that completes after its writer is gone is ignored.
class PacketWriter {
public:
    using WriteFunction = std::function<void(ByteStream::WriteBuffers, ByteStream::IoHandler)>;
    using WriteNowFunction = std::function<std::size_t(ByteStream::WriteBuffers, std::error_code&)>;
    using PacketSource = std::function<std::optional<TessaloyCore::WirePacket>()>;

    // Then the queue's other work (the channel's reads) gets its turn.
    static constexpr std::size_t maximumWrittenInPlace = 1 << 20;

    struct Callbacks {
        // A droppable packet was written completely, or discarded after a failure.
        std::function<void()> droppableLeft{};
        // The first failed write; nothing is written afterwards.
        std::function<void(std::error_code)> failed{};
        // After finish(): everything queued before it has been written.
        std::function<void()> flushed{};
    };

    PacketWriter(TessaloyBase::SerialQueue& queue, WriteFunction write, Callbacks callbacks,
                 WriteNowFunction writeNow = nullptr);
    PacketWriter(const PacketWriter&) = delete;
    PacketWriter& operator=(const PacketWriter&) = delete;
    ~PacketWriter() = default;

    // Lets the writer write.
    void start();
    void setSource(PacketSource source);
    // The source has something again.
    void resume();
    // Queued ahead of every packet not yet started.
    void sendDirect(TessaloyCore::WirePacket packet, bool droppable = false);
    // Stops asking the source; once the packets already queued are out, `flushed` runs.
    // Packets sent directly afterwards are discarded.
    void finish();

    bool hasFailed() const noexcept { return failed_; }

private:
    struct Outgoing {
        TessaloyCore::WirePacket packet;
        bool droppable = false;
        std::array<std::uint8_t, TessaloyCore::WirePacket::headerSize> header{};
        std::size_t written = 0;
    };

    void writeNext();
    bool takeNext();
    // The rest of the current packet.
    ByteStream::WriteBuffers unwritten() const;
    void written(std::error_code error, std::size_t count);
    // Counts `count` more bytes of the current packet as written; false when a callback destroyed
    // the writer.
    bool advance(std::size_t count);
    void fail(std::error_code error);
    // Returns false when a callback destroyed the writer.
    bool discardQueued();

    TessaloyBase::SerialQueue& queue_;
    WriteFunction write_;
    Callbacks callbacks_;
    WriteNowFunction writeNow_;
    PacketSource source_;
    std::deque<Outgoing> direct_;
    std::optional<Outgoing> current_;
    bool started_ = false;
    bool sourceMayHaveMore_ = true;
    bool writing_ = false;
    bool finishing_ = false;
    bool failed_ = false;
    // Expires with the writer: callbacks and late write completions check it.
    std::shared_ptr<char> lifetime_ = std::make_shared<char>();
};

} // namespace TessaloyNet
