#include "net/portmap/UdpExchange.h"
#include "tests/support/ManualQueueClock.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <asio/ip/udp.hpp>

#include <future>

namespace {

using TessaloyCore::Bytes;
using namespace std::chrono_literals;

TEST(UdpExchange, WaitsTwiceAsLongForEachAttemptAndTakesTheFirstReply) {
    Testing::ManualQueueClock clock;
    TessaloyNet::UdpExchange exchange(clock);
    asio::io_context context;
    asio::ip::udp::socket gateway(context, {asio::ip::make_address_v4("127.0.0.1"), 0});
    asio::ip::udp::endpoint sender;
    Bytes buffer(64);
    auto received = [&](std::chrono::milliseconds patience = 5s) {
        pollfd ready{gateway.native_handle(), POLLIN, 0};
        return ::poll(&ready, 1, static_cast<int>(patience.count())) == 1 &&
               gateway.receive_from(asio::buffer(buffer), sender) == 2;
    };
    const auto port = gateway.local_endpoint().port();
    for (const bool answered : {false, true}) {
        auto reply = std::async(std::launch::async, [&] { return exchange.send({0, 0}, "127.0.0.1", port, 3); });
        EXPECT_TRUE(received());
        for (const auto wait : {250ms, 500ms}) {
            clock.advance(wait - 1ms);
            EXPECT_FALSE(received(0ms)) << "resent before " << wait.count() << " ms";
            clock.advance(1ms);
            EXPECT_TRUE(received()) << "not resent after " << wait.count() << " ms";
        }
        if (answered) gateway.send_to(asio::buffer(Bytes{1, 2, 3}), sender);
        if (!answered) clock.advance(1s);
        ASSERT_EQ(reply.wait_for(5s), std::future_status::ready);
        EXPECT_EQ(reply.get(), answered ? std::optional(Bytes{1, 2, 3}) : std::nullopt);
    }
    EXPECT_EQ(exchange.send({0, 0}, "127.0.0.1", port, 0), std::nullopt);
    EXPECT_FALSE(received(0ms)) << "zero attempts sent something";
}

} // namespace
