#pragma once

#include "core/Bytes.h"

#include <asio/buffer.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <system_error>

namespace TessaloyNet {

// The secured byte stream beneath a packet channel: TLS over TCP in the product (TlsByteStream),
// a scripted fake in tests. Bound to the channel's queue: every call is made there and every
// handler runs there, later, never inside the call. At most one read and one write are under way
// at once. The buffers handed to an operation stay valid until its handler runs.
//
// readNow and writeNow move what can move at once, without waiting and without handlers, so a
// busy channel goes on reading and writing in place instead of through the queue for every record.
class ByteStream {
public:
    using Handler = std::function<void(std::error_code)>;
    using IoHandler = std::function<void(std::error_code, std::size_t)>;
    // The rest of a packet's header, then the rest of its payload; either may be empty.
    using WriteBuffers = std::array<asio::const_buffer, 2>;

    virtual ~ByteStream() = default;

    // Connects where needed and authenticates the peer.
    virtual void handshake(Handler handler) = 0;
    // Reads at least one byte into `space`, or fails (asio::error::eof for a clean end).
    virtual void readSome(std::span<std::uint8_t> space, IoHandler handler) = 0;
    // Writes at least one byte of `buffers`, in order, or fails.
    virtual void writeSome(WriteBuffers buffers, IoHandler handler) = 0;
    // What is already there, read into `space`: the count, 0 when nothing is (readSome then waits
    // for it). A failure sets `error` as readSome's would. Not while a read is under way.
    virtual std::size_t readNow(std::span<std::uint8_t> space, std::error_code& error) = 0;
    // Writes as much of `buffers` as the connection takes at once, in order: the count, 0 when it
    // takes nothing now (writeSome then waits). A failure sets `error`. Not while a write is under
    // way; after 0, the next write offers the same bytes again.
    virtual std::size_t writeNow(WriteBuffers buffers, std::error_code& error) = 0;
    // Tells the peer that nothing more follows (TLS close_notify).
    virtual void shutdown(Handler handler) = 0;
    // Ends the connection at once; the handlers of operations under way run with an error.
    virtual void close() noexcept = 0;

    // Known once the handshake succeeded.
    virtual std::optional<TessaloyCore::Bytes> peerPublicKey() const = 0;
    virtual std::optional<std::string> peerName() const = 0;
    // Why a failed handshake failed, in words for the user and the trace.
    virtual std::string handshakeFailure(std::error_code error) const = 0;
};

} // namespace TessaloyNet
