#include "app/services/LocalInterfaces.h"

#include "net/reach/DirectCandidates.h"
#include "net/reach/TailscaleAddress.h"

#include <algorithm>

namespace Plovander {
namespace {

using Kind = Platform::Interfaces::Kind;
using Family = Platform::Interfaces::Address::Family;

bool isLocalNetworkLink(const Platform::Interfaces::Interface& link) {
    return (link.kind == Kind::wired || link.kind == Kind::wireless) && link.isUp && link.isRunning;
}

bool isLinkLocal(const std::string& address) {
    return address.starts_with("fe80") || address.starts_with("FE80") || address.starts_with("169.254.");
}

// The address without its zone ("fe80::1%wg0").
std::string withoutZone(const std::string& address) { return address.substr(0, address.find('%')); }

bool isIPv6(std::string_view text) {
    return TessaloyNet::TailscaleAddress::hostPart(text).find(':') != std::string_view::npos;
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

std::vector<std::string> tunnelAddresses(const Platform::Interfaces& interfaces) {
    std::vector<std::string> addresses;
    for (const auto& link : interfaces.list()) {
        if (link.kind != Kind::tunnel || !link.isUp) continue;
        for (const auto& address : link.addresses) {
            if (!isLinkLocal(address.text)) addresses.push_back(withoutZone(address.text));
        }
    }
    return addresses;
}

std::string addressText(const std::string& address, std::uint16_t port) {
    const std::string host = address.find(':') == std::string::npos ? address : "[" + address + "]";
    return host + ":" + std::to_string(port);
}

void sortIPv4First(std::vector<std::string>& texts) {
    std::stable_sort(texts.begin(), texts.end(),
                     [](const std::string& left, const std::string& right) { return !isIPv6(left) && isIPv6(right); });
}

std::vector<std::string> remoteAddresses(const Platform::Interfaces& interfaces) {
    std::vector<std::string> texts;
    for (const std::string& address : tunnelAddresses(interfaces)) {
        if (TessaloyNet::TailscaleAddress::isTailscale(address)) texts.push_back(addressText(address, vpnRelayPort));
    }
    sortIPv4First(texts);
    if (texts.size() > TessaloyCore::SessionMessage::maximumRemoteAddresses) {
        texts.resize(TessaloyCore::SessionMessage::maximumRemoteAddresses);
    }
    return texts;
}

std::vector<std::string> localInterfaceAddresses(const Platform::Interfaces& interfaces, std::uint16_t listenPort) {
    std::vector<std::string> seen;
    std::vector<std::string> texts;
    for (const auto& link : interfaces.list()) {
        if (!link.isUp || link.kind == Kind::loopback) continue;
        const std::uint16_t port = link.kind == Kind::tunnel ? vpnRelayPort : listenPort;
        for (const auto& address : link.addresses) {
            const std::string bare = withoutZone(address.text);
            if (isLinkLocal(bare) || std::find(seen.begin(), seen.end(), bare) != seen.end()) continue;
            seen.push_back(bare);
            texts.push_back(addressText(bare, port));
        }
    }
    return texts;
}

} // namespace Plovander
