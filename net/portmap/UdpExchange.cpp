#include "net/portmap/UdpExchange.h"

#include <asio/ip/address_v4.hpp>
#include <asio/ip/udp.hpp>

#include <future>
#include <memory>

namespace TessaloyNet {
namespace {

using asio::ip::udp;
using TessaloyCore::Bytes;

// One attempt: the reply and the end of the wait race on the exchange's queue; the first settles it.
struct Attempt {
    std::promise<std::optional<Bytes>> settled;
    bool done = false;
    Bytes buffer = Bytes(65536);
    udp::endpoint sender;
    TessaloyBase::ScheduledCall wait;

    void settle(std::optional<Bytes> reply) {
        if (done) return;
        done = true;
        wait.cancel();
        settled.set_value(std::move(reply));
    }
};

} // namespace

UdpExchange::UdpExchange(TessaloyBase::QueueClock& clock) : clock_(clock) {}

std::optional<Bytes> UdpExchange::send(const Bytes& request, const std::string& host, std::uint16_t port,
                                       int attempts) {
    return exchange(request, host, port, attempts, true);
}

std::optional<Bytes> UdpExchange::search(const Bytes& request, const std::string& host, std::uint16_t port,
                                         int attempts) {
    return exchange(request, host, port, attempts, false);
}

std::optional<Bytes> UdpExchange::exchange(const Bytes& request, const std::string& host, std::uint16_t port,
                                           int attempts, bool connected) {
    std::error_code error;
    const auto address = asio::ip::make_address_v4(host, error);
    if (error || attempts <= 0) return std::nullopt;
    const udp::endpoint peer(address, port);
    auto socket = std::make_shared<udp::socket>(queue_.executor());
    queue_.sync([&] {
        socket->open(udp::v4(), error);
        if (!error && connected) socket->connect(peer, error);
    });
    std::optional<Bytes> reply;
    if (!error) {
        TessaloyBase::QueueClock::Duration wait{0.25};
        for (int attempt = 0; attempt < attempts && !reply; ++attempt, wait *= 2) {
            auto state = std::make_shared<Attempt>();
            auto settled = state->settled.get_future();
            queue_.async([this, socket, state, peer, wait, connected, &request] {
                state->wait = clock_.after(queue_, wait, [socket, state] {
                    state->settle(std::nullopt);
                    socket->cancel();
                });
                std::error_code ignored;
                if (connected) {
                    socket->send(asio::buffer(request), 0, ignored);
                } else {
                    socket->send_to(asio::buffer(request), peer, 0, ignored);
                }
                auto received = [state](const std::error_code& failure, std::size_t count) {
                    if (failure == asio::error::operation_aborted) return;
                    if (failure || count == 0) return state->settle(std::nullopt);
                    state->settle(Bytes(state->buffer.begin(), state->buffer.begin() + static_cast<long>(count)));
                };
                if (connected) {
                    socket->async_receive(asio::buffer(state->buffer), received);
                } else {
                    socket->async_receive_from(asio::buffer(state->buffer), state->sender, received);
                }
            });
            reply = settled.get();
        }
    }
    queue_.sync([&] { socket->close(error); });
    return reply;
}

} // namespace TessaloyNet
