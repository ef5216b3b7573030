#pragma once

#include "core/Bytes.h"

#include <asio/ip/tcp.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <system_error>

namespace TessaloyNet {

// Carries one connection whose real peer this Mac already knows and holds to limits of its own (a
// relayed call, a device on a VPN) to this Mac's own listener over loopback, copying bytes both
// ways until either side ends. The device's TLS runs end to end through it.
//
// Runs on the executor of the connection it is given; pending operations keep it alive.
class LoopbackBridge : public std::enable_shared_from_this<LoopbackBridge> {
public:
    // Told the loopback address the bridge bound before connecting to the listener, so the listener
    // can exempt it from per-host admission.
    using BridgeSource = std::function<void(const asio::ip::tcp::endpoint&)>;
    // Runs once, on the connection's executor, when both sides are closed: with the error when the
    // listener could not be reached, without one otherwise.
    using EndHandler = std::function<void(std::error_code unreachable)>;

    static constexpr std::size_t chunkBytes = 262'144;

    // Connects to the listener on `port`. Returns the error when this Mac cannot make a socket for
    // it (out of descriptors, say): the peer is closed then, and `onEnd` never runs.
    static std::error_code open(asio::ip::tcp::socket peer, std::uint16_t port, BridgeSource bridgeSource,
                                EndHandler onEnd);

private:
    struct Pipe {
        explicit Pipe(asio::ip::tcp::socket opened) : socket(std::move(opened)) {}
        asio::ip::tcp::socket socket;
        TessaloyCore::Bytes space = TessaloyCore::Bytes(chunkBytes);
    };

    LoopbackBridge(asio::ip::tcp::socket peer, EndHandler onEnd);

    // The local socket, bound to a loopback address; returns where the listener is.
    asio::ip::tcp::endpoint makeLocal(std::uint16_t port, std::error_code& error);
    void connect(const asio::ip::tcp::endpoint& target, const BridgeSource& bridgeSource);
    void pump(Pipe& from, Pipe& to);
    void close(std::error_code unreachable = {});

    Pipe peer_;
    Pipe local_;
    EndHandler onEnd_;
    bool closed_ = false;
};

} // namespace TessaloyNet
