#pragma once

#include "core/Bytes.h"

#include <cstdint>
#include <optional>
#include <string>

namespace TessaloyNet {

// Short UDP request and reply exchanges with the router: each attempt sends the request and waits
// 250 ms, then twice as long as the attempt before; the first reply wins, a later one is dropped.
// Both calls block their caller until the exchange ends: never call them from a serial queue.
class DatagramExchange {
public:
    virtual ~DatagramExchange() = default;

    // On a socket connected to host:port, so only that peer's replies count. Nothing when the host
    // is not an IPv4 address, every attempt went unanswered, or attempts is 0.
    virtual std::optional<TessaloyCore::Bytes> send(const TessaloyCore::Bytes& request, const std::string& host,
                                                    std::uint16_t port, int attempts) = 0;
    // On an unconnected socket, taking the first datagram from anyone: a multicast search is answered
    // by unicast from the device's own address, which a connected socket would never receive.
    virtual std::optional<TessaloyCore::Bytes> search(const TessaloyCore::Bytes& request, const std::string& host,
                                                      std::uint16_t port, int attempts) = 0;
};

} // namespace TessaloyNet
