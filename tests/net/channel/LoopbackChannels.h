#pragma once

#include "base/SerialQueue.h"
#include "net/channel/TlsPacketChannel.h"
#include "tests/support/ChannelRecorder.h"

#include <asio/ip/tcp.hpp>

#include <memory>

namespace Testing {

// A client and a server channel joined over TLS on loopback, each with a recorder of its events.
class LoopbackChannels {
public:
    LoopbackChannels(const TessaloyNet::TlsParameters& serverParameters,
                     const TessaloyNet::TlsParameters& clientParameters,
                     TessaloyNet::TlsPacketChannel::Options options = {},
                     const asio::ip::address& address = asio::ip::make_address("127.0.0.1"))
        : acceptor_(TessaloyBase::sharedIoContext(), asio::ip::tcp::endpoint(address, 0)) {
        client = TessaloyNet::TlsPacketChannel::connecting(acceptor_.local_endpoint(), clientParameters, options);
        client->setEvents(clientLog.events());
        client->start();
        server = TessaloyNet::TlsPacketChannel::accepted(acceptor_.accept(), serverParameters, options);
        server->setEvents(serverLog.events());
        server->start();
    }
    ~LoopbackChannels() {
        client->close();
        server->close();
        clientLog.waitForClose();
        serverLog.waitForClose();
    }

    bool bothReady() {
        return clientLog.waitUntil([&] { return clientLog.ready > 0 || clientLog.closedCount > 0; }) &&
               serverLog.waitUntil([&] { return serverLog.ready > 0 || serverLog.closedCount > 0; }) &&
               clientLog.ready > 0 && serverLog.ready > 0;
    }

    std::shared_ptr<TessaloyNet::TlsPacketChannel> client;
    std::shared_ptr<TessaloyNet::TlsPacketChannel> server;
    ChannelRecorder clientLog;
    ChannelRecorder serverLog;

private:
    asio::ip::tcp::acceptor acceptor_;
};

} // namespace Testing
