#pragma once

#include "net/channel/LANTransport.h"

#include <asio/ip/tcp.hpp>

#include <cstdint>
#include <optional>
#include <string_view>

namespace TessaloyNet {

// A direct candidate's text as an endpoint: "[v6]:port", "v4:port", or a bare address with the
// listener's default port. Only address literals: candidates never name hosts.
std::optional<asio::ip::tcp::endpoint> candidateEndpoint(std::string_view text,
                                                         std::uint16_t defaultPort = LANTransport::defaultPort);

} // namespace TessaloyNet
