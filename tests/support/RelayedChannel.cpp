#include "tests/support/RelayedChannel.h"

#include "net/channel/TlsByteStream.h"
#include "net/relay/ConnectRoute.h"

#include <stdexcept>

namespace Testing {

using asio::ip::tcp;

std::shared_ptr<TessaloyNet::TlsPacketChannel> relayedChannel(const TessaloyNet::RelayRoute& route,
                                                              TessaloyConnectWire::ConnectChannel channel,
                                                              const TessaloyNet::TlsParameters& parameters,
                                                              const TessaloyNet::TlsPacketChannelOptions& options,
                                                              const std::function<void()>& meanwhile) {
    auto dialled = std::make_shared<std::promise<tcp::socket>>();
    auto joined = dialled->get_future();
    TessaloyNet::ConnectRoute::open(
        route.relay, route.meetingID, channel, [dialled](std::error_code error, tcp::socket socket) {
            if (!error) return dialled->set_value(std::move(socket));
            dialled->set_exception(
                std::make_exception_ptr(std::runtime_error("the relay refused: " + error.message())));
        });
    if (!arrives(joined, meanwhile)) throw std::runtime_error("the relay did not answer");
    auto socket = std::make_shared<tcp::socket>(joined.get());
    return TessaloyNet::TlsPacketChannel::over(
        [socket, parameters](TessaloyBase::SerialQueue& queue) {
            return std::make_unique<TessaloyNet::TlsByteStream>(queue.executor(), std::move(*socket), parameters);
        },
        options);
}

} // namespace Testing
