#include "net/relay/LoopbackBridge.h"

#include <asio/post.hpp>
#include <asio/write.hpp>

#include <utility>

namespace TessaloyNet {

using asio::ip::tcp;

std::error_code LoopbackBridge::open(tcp::socket peer, std::uint16_t port, BridgeSource bridgeSource,
                                     EndHandler onEnd) {
    std::shared_ptr<LoopbackBridge> bridge(new LoopbackBridge(std::move(peer), std::move(onEnd)));
    std::error_code error;
    const tcp::endpoint target = bridge->makeLocal(port, error);
    if (error) {
        std::error_code ignored;
        bridge->peer_.socket.close(ignored);
        return error;
    }
    asio::post(bridge->peer_.socket.get_executor(),
               [bridge, target, bridgeSource = std::move(bridgeSource)] { bridge->connect(target, bridgeSource); });
    return {};
}

LoopbackBridge::LoopbackBridge(tcp::socket peer, EndHandler onEnd)
    : peer_(std::move(peer)), local_(tcp::socket(peer_.socket.get_executor())), onEnd_(std::move(onEnd)) {}

tcp::endpoint LoopbackBridge::makeLocal(std::uint16_t port, std::error_code& error) {
    local_.socket.open(tcp::v6(), error);
    if (!error) local_.socket.bind({asio::ip::address_v6::loopback(), 0}, error);
    if (!error) return {asio::ip::address_v6::loopback(), port};
    // IPv6 is off: the listener then takes IPv4 alone.
    std::error_code ignored;
    local_.socket.close(ignored);
    error.clear();
    local_.socket.open(tcp::v4(), error);
    if (!error) local_.socket.bind({asio::ip::address_v4::loopback(), 0}, error);
    return {asio::ip::address_v4::loopback(), port};
}

void LoopbackBridge::connect(const tcp::endpoint& target, const BridgeSource& bridgeSource) {
    std::error_code unknown;
    if (bridgeSource) bridgeSource(local_.socket.local_endpoint(unknown));
    const auto self = shared_from_this();
    local_.socket.async_connect(target, [self](std::error_code failure) {
        if (self->closed_) return;
        if (failure) return self->close(failure);
        std::error_code ignored;
        self->peer_.socket.set_option(tcp::no_delay(true), ignored);
        self->local_.socket.set_option(tcp::no_delay(true), ignored);
        self->pump(self->peer_, self->local_);
        self->pump(self->local_, self->peer_);
    });
}

// One chunk in flight per direction: a slow destination slows its source.
void LoopbackBridge::pump(Pipe& from, Pipe& to) {
    const auto self = shared_from_this();
    from.socket.async_read_some(asio::buffer(from.space), [self, &from, &to](std::error_code error, std::size_t count) {
        if (self->closed_) return;
        if (error || count == 0) return self->close();
        asio::async_write(to.socket, asio::buffer(from.space.data(), count),
                          [self, &from, &to](std::error_code failure, std::size_t) {
                              if (self->closed_) return;
                              if (failure) return self->close();
                              self->pump(from, to);
                          });
    });
}

void LoopbackBridge::close(std::error_code unreachable) {
    if (closed_) return;
    closed_ = true;
    std::error_code ignored;
    peer_.socket.close(ignored);
    local_.socket.close(ignored);
    if (const EndHandler onEnd = std::exchange(onEnd_, {})) onEnd(unreachable);
}

} // namespace TessaloyNet
