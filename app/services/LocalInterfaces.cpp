#include "app/services/LocalInterfaces.h"

#include "net/reach/DirectCandidates.h"

#include <algorithm>

namespace Plovander {
namespace {

using Kind = Platform::Interfaces::Kind;
using Family = Platform::Interfaces::Address::Family;

bool isLocalNetworkLink(const Platform::Interfaces::Interface& link) {
    return (link.kind == Kind::wired || link.kind == Kind::wireless) && link.isUp && link.isRunning;
}

} // namespace

std::vector<TessaloyCore::SessionMessage::WakeTarget> localEthernetInterfaces(const Platform::Interfaces& interfaces) {
    std::vector<Platform::Interfaces::Interface> links = interfaces.list();
    std::sort(links.begin(), links.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    std::vector<TessaloyCore::SessionMessage::WakeTarget> targets;
    for (const auto& link : links) {
        if (!isLocalNetworkLink(link) || !link.hardwareAddress) continue;
        const auto& hardware = *link.hardwareAddress;
        if (std::all_of(hardware.begin(), hardware.end(), [](std::uint8_t byte) { return byte == 0; })) continue;
        // The system's last usable IPv4 address of the link stands for it.
        const auto ipv4 = std::find_if(link.addresses.rbegin(), link.addresses.rend(), [](const auto& address) {
            return address.family == Family::ipv4 && !address.text.starts_with("169.254.");
        });
        if (ipv4 == link.addresses.rend()) continue;
        targets.push_back(
            {.hardwareAddress = TessaloyCore::Bytes(hardware.begin(), hardware.end()), .ipv4Address = ipv4->text});
    }
    return targets;
}

std::vector<std::string> directCandidates(const Platform::Interfaces& interfaces, std::uint16_t port) {
    std::vector<std::string> addresses;
    for (const auto& link : interfaces.list()) {
        if (!isLocalNetworkLink(link)) continue;
        for (const auto& address : link.addresses) {
            if (address.family == Family::ipv6) addresses.push_back(address.text);
        }
    }
    return TessaloyNet::DirectCandidates::choose(addresses, port);
}

} // namespace Plovander
