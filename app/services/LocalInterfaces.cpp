#include "app/services/LocalInterfaces.h"

#include <algorithm>

namespace Plovander {

std::vector<TessaloyCore::SessionMessage::WakeTarget> localEthernetInterfaces(const Platform::Interfaces& interfaces) {
    using Kind = Platform::Interfaces::Kind;
    std::vector<Platform::Interfaces::Interface> links = interfaces.list();
    std::sort(links.begin(), links.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    std::vector<TessaloyCore::SessionMessage::WakeTarget> targets;
    for (const auto& link : links) {
        if (link.kind != Kind::wired && link.kind != Kind::wireless) continue;
        if (!link.isUp || !link.isRunning || !link.hardwareAddress) continue;
        const auto& hardware = *link.hardwareAddress;
        if (std::all_of(hardware.begin(), hardware.end(), [](std::uint8_t byte) { return byte == 0; })) continue;
        // The system's last usable IPv4 address of the link stands for it.
        const auto ipv4 = std::find_if(link.addresses.rbegin(), link.addresses.rend(), [](const auto& address) {
            return address.family == Platform::Interfaces::Address::Family::ipv4 &&
                   !address.text.starts_with("169.254.");
        });
        if (ipv4 == link.addresses.rend()) continue;
        targets.push_back(
            {.hardwareAddress = TessaloyCore::Bytes(hardware.begin(), hardware.end()), .ipv4Address = ipv4->text});
    }
    return targets;
}

} // namespace Plovander
