#include "net/relay/ConnectRoute.h"

#include "base/SerialQueue.h"
#include "net/relay/MeetingIdentity.h"
#include "net/relay/RelayRefusal.h"

#include <asio/connect.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

#include <chrono>
#include <memory>
#include <utility>

namespace TessaloyNet::ConnectRoute {

using asio::ip::tcp;
using TessaloyCore::Bytes;

namespace {

struct Dial {
    TessaloyBase::SerialQueue queue{"dev.tessaloy.relay-route"};
    tcp::resolver resolver{queue.executor()};
    tcp::socket socket{queue.executor()};
    TessaloyBase::ScheduledCall deadline;
    Bytes hello;
    std::uint8_t reply = 0;
    Handler done;
    bool timedOut = false;

    // A relay that accepts and then says nothing would otherwise hold the route for ever.
    void expire() {
        timedOut = true;
        resolver.cancel();
        std::error_code ignored;
        socket.close(ignored);
    }

    void finish(std::error_code error) {
        if (!done) return;
        deadline.cancel();
        if (timedOut) error = asio::error::timed_out;
        if (error) {
            std::error_code ignored;
            socket.close(ignored);
        }
        std::exchange(done, nullptr)(error, std::move(socket));
    }
};

} // namespace

void open(const RelayEndpoint& relay, TessaloyCore::ByteView meetingID, TessaloyConnectWire::ConnectChannel channel,
          Handler done, std::shared_ptr<TessaloyBase::QueueClock> clock) {
    if (!clock) clock = TessaloyBase::sharedSteadyQueueClock();
    auto dial = std::make_shared<Dial>();
    dial->hello = MeetingIdentity::seal(MeetingIdentity::hello(TessaloyConnectWire::ConnectRole::phone, channel,
                                                               meetingID, std::chrono::system_clock::now()),
                                        relay.helloKey)
                      .encoded();
    dial->done = std::move(done);
    dial->deadline = clock->after(dial->queue, connectTimeout, [weak = std::weak_ptr<Dial>(dial)] {
        if (const auto live = weak.lock(); live && live->done) live->expire();
    });
    dial->resolver.async_resolve(
        relay.host, std::to_string(relay.effectivePort()),
        [dial](std::error_code error, const tcp::resolver::results_type& to) {
            if (error) return dial->finish(error);
            asio::async_connect(dial->socket, to, [dial](std::error_code failure, const tcp::endpoint&) {
                if (failure) return dial->finish(failure);
                std::error_code ignored;
                dial->socket.set_option(tcp::no_delay(true), ignored);
                asio::async_write(
                    dial->socket, asio::buffer(dial->hello), [dial](std::error_code written, std::size_t) {
                        if (written) return dial->finish(written);
                        // Exactly one byte: what follows it is the Mac's TLS.
                        asio::async_read(
                            dial->socket, asio::buffer(&dial->reply, 1), [dial](std::error_code read, std::size_t) {
                                if (read) return dial->finish(read);
                                dial->finish(RelayRefusal::replyError(dial->reply).value_or(std::error_code()));
                            });
                    });
            });
        });
}

} // namespace TessaloyNet::ConnectRoute
