#pragma once

#include "connectwire/ConnectChannel.h"
#include "net/channel/TlsPacketChannel.h"
#include "net/channel/TlsParameters.h"
#include "net/relay/RelayRoute.h"

#include <chrono>
#include <functional>
#include <future>
#include <memory>

namespace Testing {

// Waits up to `patience` for `future`, running `meanwhile` (when given) between short looks, on the
// waiting thread (to drive a manual main actor).
template <typename T>
bool arrives(std::future<T>& future, const std::function<void()>& meanwhile,
             std::chrono::milliseconds patience = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    const auto look = meanwhile ? std::chrono::milliseconds(5) : patience;
    while (future.wait_for(look) != std::future_status::ready) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        if (meanwhile) meanwhile();
    }
    return true;
}

// A device's channel to the Mac that `route` names, through the relay alone: the relayed data
// connection of `channel`, with the device's TLS over it. Not started. Waits for the relay's
// answer, running `meanwhile` between looks; throws std::runtime_error when the relay refuses or
// does not answer.
std::shared_ptr<TessaloyNet::TlsPacketChannel> relayedChannel(const TessaloyNet::RelayRoute& route,
                                                              TessaloyConnectWire::ConnectChannel channel,
                                                              const TessaloyNet::TlsParameters& parameters,
                                                              const TessaloyNet::TlsPacketChannelOptions& options = {},
                                                              const std::function<void()>& meanwhile = {});

} // namespace Testing
