#pragma once

#include "core/Bytes.h"
#include "core/WireError.h"
#include "core/WirePacket.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace TessaloyCore {

// Turns the byte stream of one channel into packets, whatever way the stream is cut.
//
// Each payload byte is copied at most once: from the caller's buffer straight into the payload
// of its packet (whose capacity is reserved from the header), or not at all when the reader reads
// in place through writableSpace()/commit().
//
// A header is refused as soon as the bytes received so far prove it bad (bad magic, another
// version, an unknown kind, non-zero reserved bytes, a declared length over
// WirePacket::maximumPayloadBytes), before any of its payload is read. The decoder then stays
// failed: every later call throws the same WireError.
//
// Not thread-safe: it belongs to the one queue that reads its channel.
class WireDecoder {
public:
    using OnPacket = std::function<void(WirePacket)>;

    static constexpr std::size_t maximumWritableSpace = 16 * 1024;

    // Decodes `bytes`, handing each packet they complete to `onPacket` at once, in stream order.
    // Throws WireError at the first bad header; the packets before it have been delivered. An
    // exception thrown by `onPacket` passes through and leaves the rest of `bytes` undecoded.
    void feed(ByteView bytes, const OnPacket& onPacket);

    // Zero-copy reading for a socket reader:
    //
    //   auto space = decoder.writableSpace();
    //   std::size_t n = read(socket, space.data(), space.size());
    //   if (auto packet = decoder.commit(n)) deliver(std::move(*packet));
    //
    // writableSpace() returns the not yet received part of the current header, or the next at
    // most maximumWritableSpace bytes of the current payload: never empty, never reaching into
    // the next packet, so a read lands where the bytes belong. Payload space is zero-filled as it
    // is handed out, one window (a TLS record's worth) at a time, so the zeroed memory is still
    // in cache when the read fills it. The span stays valid until the next commit() or feed();
    // calling writableSpace() again before commit() returns the same span. Headers are read on their own, one read
    // each; a reader of many small packets may prefer reading into its own buffer and feed().
    std::span<std::uint8_t> writableSpace();

    // Accepts the first `count` bytes of the last writableSpace() as received. Returns the packet
    // they complete, if any (at most one). Throws WireError for a bad header, and
    // std::out_of_range when `count` exceeds the space handed out (or none was).
    std::optional<WirePacket> commit(std::size_t count);

private:
    void rethrowIfFailed() const;
    // Fails when the header bytes so far cannot start a good header; once all 12 are in, starts
    // the payload.
    void headerBytesArrived();
    [[noreturn]] void fail(const WireError& error);
    void appendPayload(ByteView bytes);
    std::optional<WirePacket> takeCompletedPacket();

    std::array<std::uint8_t, WirePacket::headerSize> header_{};
    std::size_t headerFilled_ = 0;
    // Set from a complete header until its payload is complete.
    std::optional<WirePacket::Header> current_;
    // The payload so far, with capacity for all of it: payloadFilled_ bytes received, followed by
    // the rest of the space writableSpace() handed out, if any.
    Bytes payload_;
    std::size_t payloadFilled_ = 0;
    std::optional<WireError> failure_;
};

} // namespace TessaloyCore
