#include "net/portmap/UdpExchange.h"
#include "tests/support/ManualQueueClock.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <asio/ip/udp.hpp>

#include <future>

namespace {

using asio::ip::udp;
using TessaloyCore::Bytes;
using namespace std::chrono_literals;

// A router's socket on loopback that the test reads and answers by hand.
struct LoopbackPeer {
    asio::io_context context;
    udp::socket socket;
    udp::endpoint lastSender;

    explicit LoopbackPeer(const char* address = "127.0.0.1")
        : socket(context, udp::endpoint(asio::ip::make_address_v4(address), 0)) {}
    std::uint16_t port() const { return socket.local_endpoint().port(); }

    // The next datagram within `patience`, or nothing.
    std::optional<Bytes> receive(std::chrono::milliseconds patience = 5s) {
        pollfd ready{socket.native_handle(), POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(patience.count())) != 1) return std::nullopt;
        Bytes buffer(2048);
        buffer.resize(socket.receive_from(asio::buffer(buffer), lastSender));
        return buffer;
    }
};

TEST(UdpExchange, WaitsLongerForEachAttemptAndGivesUpAfterTheLast) {
    Testing::ManualQueueClock clock;
    TessaloyNet::UdpExchange exchange(clock);
    LoopbackPeer gateway;
    const Bytes request{0, 0};
    auto reply = std::async(std::launch::async, [&] { return exchange.send(request, "127.0.0.1", gateway.port(), 3); });

    EXPECT_EQ(gateway.receive(), request);
    for (const double wait : {0.25, 0.5}) {
        clock.advance(std::chrono::duration<double>(wait - 0.001));
        EXPECT_FALSE(gateway.receive(0ms)) << "resent before " << wait << " s";
        clock.advance(1ms);
        EXPECT_EQ(gateway.receive(), request) << "not resent after " << wait << " s";
    }
    clock.advance(999ms);
    EXPECT_EQ(reply.wait_for(0ms), std::future_status::timeout);
    clock.advance(1ms);
    ASSERT_EQ(reply.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(reply.get(), std::nullopt);
    EXPECT_FALSE(gateway.receive(0ms));

    EXPECT_EQ(exchange.send(request, "127.0.0.1", gateway.port(), 0), std::nullopt);
    EXPECT_FALSE(gateway.receive(0ms)) << "zero attempts sent something";
}

// The search is answered from another address than the one it was sent to, as a multicast search is.
TEST(UdpExchange, OnlyTheSearchHearsRepliesFromElsewhere) {
    for (const bool searching : {true, false}) {
        Testing::ManualQueueClock clock;
        TessaloyNet::UdpExchange exchange(clock);
        LoopbackPeer group;
        LoopbackPeer device("127.0.0.2");
        const Bytes request{'M'};
        auto reply = std::async(std::launch::async, [&] {
            return searching ? exchange.search(request, "127.0.0.1", group.port(), 1)
                             : exchange.send(request, "127.0.0.1", group.port(), 1);
        });
        ASSERT_EQ(group.receive(), request);
        device.socket.send_to(asio::buffer(Bytes{'O', 'K'}), group.lastSender);
        if (!searching) {
            EXPECT_EQ(reply.wait_for(100ms), std::future_status::timeout);
            clock.advance(250ms);
        }
        ASSERT_EQ(reply.wait_for(5s), std::future_status::ready);
        EXPECT_EQ(reply.get(), searching ? std::optional(Bytes{'O', 'K'}) : std::nullopt);
    }
}

TEST(UdpExchange, TakesTheGatewaysReplyAtOnce) {
    Testing::ManualQueueClock clock;
    TessaloyNet::UdpExchange exchange(clock);
    LoopbackPeer gateway;
    auto reply = std::async(std::launch::async, [&] { return exchange.send({0, 0}, "127.0.0.1", gateway.port(), 3); });
    ASSERT_TRUE(gateway.receive());
    gateway.socket.send_to(asio::buffer(Bytes{1, 2, 3}), gateway.lastSender);
    ASSERT_EQ(reply.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(reply.get(), (Bytes{1, 2, 3}));
}

} // namespace
