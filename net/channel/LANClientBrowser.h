#pragma once

#include "core/CaseError.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace TessaloyNet {

// Device side: the Macs a device can connect to on the local network.
class LANClientBrowser {
public:
    // A Mac to connect to, by address.
    struct DiscoveredHost {
        enum class AddressProblem { empty, invalidPort };
        using AddressError = TessaloyCore::CaseError<AddressProblem>;

        // Reads "host:port", "[IPv6 address]:port" or a bare host (a host name, an IPv4 address, or
        // an IPv6 address with or without brackets), which takes `defaultPort`. Surrounding white
        // space is ignored. Throws AddressError: empty for no text or no host, invalidPort for a port
        // that is not a number from 1 to 65535.
        DiscoveredHost(std::string_view address, std::uint16_t defaultPort, std::string name);

        std::string host;
        std::uint16_t port = 0;
        std::string name;

        friend bool operator==(const DiscoveredHost&, const DiscoveredHost&) = default;
    };
};

const char* nameOf(LANClientBrowser::DiscoveredHost::AddressProblem problem) noexcept;
// The sentence for the user.
const char* descriptionOf(LANClientBrowser::DiscoveredHost::AddressProblem problem) noexcept;

} // namespace TessaloyNet
