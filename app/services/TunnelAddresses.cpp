#include "app/services/TunnelAddresses.h"

#include <algorithm>
#include <cctype>

namespace Plovander {

std::vector<TunnelAddress> tunnelAddresses(const Platform::Interfaces& interfaces) {
    std::vector<TunnelAddress> found;
    for (const auto& link : interfaces.list()) {
        if (link.kind != Platform::Interfaces::Kind::tunnel || !link.isUp) continue;
        for (const auto& address : link.addresses) {
            std::string text = address.text.substr(0, address.text.find('%'));
            std::string lower = text;
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (lower.starts_with("fe80")) continue;
            found.push_back({link.name, std::move(text)});
        }
    }
    return found;
}

std::vector<std::string> vpnRelayAddresses(const Platform::Interfaces& interfaces) {
    std::vector<std::string> addresses;
    for (TunnelAddress& found : tunnelAddresses(interfaces)) addresses.push_back(std::move(found.address));
    return addresses;
}

} // namespace Plovander
