#pragma once

#include "base/SerialQueue.h"

#include <asio/ip/tcp.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace Testing {

// A TCP relay on loopback between a simulated device and the Mac's listener, for tests of a slow
// device, a far one or one that stops reading. Each connection accepted at endpoint() gets a
// connection of its own to `target`, and bytes are copied both ways; the device's bytes always go
// through, so the Mac keeps hearing from the device.
//
// With a round trip (Options::roundTrip), everything takes half of it each way: the Mac accepts
// the connection that long after the device made it, and each flight reaches the other side that
// long after the relay read it, as over a network.
//
// The Mac's bytes can be slowed down (Options::bytesPerSecond) or held (hold): the relay then reads
// them as slowly as asked, or not at all, and once its receive buffer and the Mac's send buffer are full the Mac's
// channel cannot write any more, as with a device that reads slowly or stops reading. release() lets
// them through at full speed again.
//
// Loopback segments are 64 KiB, and the kernel sizes a sender's buffer by segments and by how fast
// the connection once ran: the Mac-side sockets announce small segments and keep a small receive
// buffer, so that while the connection is slow from its start, what can be on its way stays near a
// hundred KiB and a hold reaches the Mac within a second. A connection that once ran fast keeps a
// send buffer of megabytes.
//
// Runs on a queue of its own; every method is safe from any thread. Destruction ends every
// connection.
class LoopbackRelay {
public:
    struct Options {
        // What each Mac-side socket may buffer (the kernel doubles it).
        int receiveBuffer = 4 * 1024;
        // The largest segment each Mac-side socket announces.
        int segmentSize = 1'400;
        // The Mac's bytes per second towards the device at first; 0 for no limit.
        std::size_t bytesPerSecond = 0;
        std::chrono::milliseconds roundTrip{0};
    };

    explicit LoopbackRelay(asio::ip::tcp::endpoint target);
    LoopbackRelay(asio::ip::tcp::endpoint target, const Options& options);
    ~LoopbackRelay();
    LoopbackRelay(const LoopbackRelay&) = delete;
    LoopbackRelay& operator=(const LoopbackRelay&) = delete;

    // Where devices connect.
    asio::ip::tcp::endpoint endpoint() const { return endpoint_; }

    // The Mac's bytes stop; what the relay already read still goes to the device.
    void hold();
    // The Mac's bytes pass at full speed again.
    void release();

private:
    struct State;
    struct Leg;
    struct Link;

    TessaloyBase::SerialQueue queue_{"test.relay"};
    std::shared_ptr<State> state_;
    asio::ip::tcp::endpoint endpoint_;
};

} // namespace Testing
