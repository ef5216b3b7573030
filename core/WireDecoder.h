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
// Each payload byte is copied once, from the caller's buffer into the payload of its packet
// (sized from the header), or not at all when the reader uses writableSpace()/commit().
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
    // writableSpace() returns the not yet received part of the current header or of the current
    // payload (never empty, never reaching into the next packet), so a read lands where the bytes
    // belong. The first call for a payload sizes its vector (zero-filling what has not arrived).
    // The span stays valid until the next commit() or feed(). Header-sized reads mean one read
    // per header; a reader of many small packets may prefer its own buffer and feed().
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
    // Either exactly the bytes received so far (filled by feed), or sized to the whole payload
    // once writableSpace() handed it out; payloadFilled_ counts what arrived in both cases.
    Bytes payload_;
    std::size_t payloadFilled_ = 0;
    std::optional<WireError> failure_;
};

} // namespace TessaloyCore
