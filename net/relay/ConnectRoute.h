#pragma once

#include "base/QueueClock.h"
#include "connectwire/ConnectChannel.h"
#include "core/Bytes.h"
#include "net/relay/RelayEndpoint.h"

#include <asio/ip/tcp.hpp>

#include <functional>
#include <memory>
#include <system_error>

namespace TessaloyNet {

// Device side: one relayed data connection to a Mac. Sends the sealed hello naming the meeting and
// the channel, and hands over the socket once the relay replied "connected"; the device's TLS then
// runs through the relay to the Mac's listener. A refusing reply fails with its error (see
// RelayRefusal::replyError).
namespace ConnectRoute {

using Handler = std::function<void(std::error_code error, asio::ip::tcp::socket socket)>;

// How long the relay has to connect and reply, before the route fails with timed_out.
inline constexpr TessaloyBase::QueueClock::Duration connectTimeout{10.0};

// Throws when the hello cannot be sealed; nothing is opened then. `done` runs once, on a queue of
// the connection's own.
void open(const RelayEndpoint& relay, TessaloyCore::ByteView meetingID, TessaloyConnectWire::ConnectChannel channel,
          Handler done, std::shared_ptr<TessaloyBase::QueueClock> clock = nullptr);

} // namespace ConnectRoute

} // namespace TessaloyNet
