#include "net/relay/ConnectRoute.h"

#include "base/SerialQueue.h"
#include "net/relay/MeetingIdentity.h"
#include "net/relay/RelayRefusal.h"

#include <asio/connect.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

#include <chrono>
#include <memory>

namespace TessaloyNet::ConnectRoute {

using asio::ip::tcp;
using TessaloyCore::Bytes;

namespace {

struct Dial {
    TessaloyBase::SerialQueue queue{"dev.tessaloy.relay-route"};
    tcp::resolver resolver{queue.executor()};
    tcp::socket socket{queue.executor()};
    Bytes hello;
    std::uint8_t reply = 0;
    Handler done;

    void finish(std::error_code error) {
        if (error) {
            std::error_code ignored;
            socket.close(ignored);
        }
        done(error, std::move(socket));
    }
};

} // namespace

void open(const RelayEndpoint& relay, TessaloyCore::ByteView meetingID, TessaloyConnectWire::ConnectChannel channel,
          Handler done) {
    auto dial = std::make_shared<Dial>();
    dial->hello = MeetingIdentity::seal(MeetingIdentity::hello(TessaloyConnectWire::ConnectRole::phone, channel,
                                                               meetingID, std::chrono::system_clock::now()),
                                        relay.helloKey)
                      .encoded();
    dial->done = std::move(done);
    const std::string port = std::to_string(relay.port == 0 ? 443 : relay.port);
    dial->resolver.async_resolve(
        relay.host, port, [dial](std::error_code error, const tcp::resolver::results_type& to) {
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
