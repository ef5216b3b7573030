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

namespace Platform {
class SerialQueue;
}

namespace TessaloyNet {

// The sending half of a packet channel: one write under way at a time through `write`, direct
// packets first, then whatever the packet source gives whenever the connection can take more.
// A packet is never interrupted by another once its first byte went out.
//
// Bound to one queue: it is called there and `write` must run its handler there. It writes nothing
// before start(). The writer stops at the first failed write and reports it once; nothing is written after
// it. Each callback may destroy the writer: nothing of it is touched after a callback returns,
// and a write that completes after its writer is gone is ignored.
class PacketWriter {
public:
    using WriteFunction = std::function<void(ByteStream::WriteBuffers, ByteStream::IoHandler)>;
    using PacketSource = std::function<std::optional<TessaloyCore::WirePacket>()>;

    struct Callbacks {
        // A droppable packet was written completely, or discarded after a failure.
        std::function<void()> droppableLeft{};
        // The first failed write; nothing is written afterwards.
        std::function<void(std::error_code)> failed{};
        // After finish(): everything queued before it has been written.
        std::function<void()> flushed{};
    };

    PacketWriter(Platform::SerialQueue& queue, WriteFunction write, Callbacks callbacks);
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
    void written(std::error_code error, std::size_t count);
    // Returns false when a callback destroyed the writer.
    bool discardQueued();

    Platform::SerialQueue& queue_;
    WriteFunction write_;
    Callbacks callbacks_;
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
