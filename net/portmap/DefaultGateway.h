#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace TessaloyNet {

// The default IPv4 gateway from the kernel's routing table, where NAT-PMP and the port mapper look
// for the router.
class DefaultGateway {
public:
    DefaultGateway() = delete;

    // Reads /proc/net/route of the caller's network namespace.
    static std::optional<std::string> find();
    // From the text of /proc/net/route: the gateway of the usable default route with the lowest
    // metric, as dotted text.
    static std::optional<std::string> fromRouteTable(std::string_view table);
};

} // namespace TessaloyNet
