#include "platform/linux/IfaddrsInterfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <netpacket/packet.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <utility>

namespace Platform {

std::unique_ptr<Interfaces> Interfaces::create() { return std::make_unique<Linux::IfaddrsInterfaces>(); }

namespace Linux {
namespace {

std::string numeric(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    const void* bytes = nullptr;
    if (address->sa_family == AF_INET) bytes = &reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
    if (address->sa_family == AF_INET6) bytes = &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
    if (!bytes || !::inet_ntop(address->sa_family, bytes, text, sizeof text)) return {};
    return text;
}

Interfaces::Interface& entryFor(std::vector<Interfaces::Interface>& interfaces, const char* name) {
    const auto found = std::find_if(interfaces.begin(), interfaces.end(),
                                    [&](const Interfaces::Interface& entry) { return entry.name == name; });
    if (found != interfaces.end()) return *found;
    Interfaces::Interface added;
    added.name = name;
    return interfaces.emplace_back(std::move(added));
}

} // namespace

IfaddrsInterfaces::IfaddrsInterfaces(std::filesystem::path netClass) : netClass_(std::move(netClass)) {}

Interfaces::Kind IfaddrsInterfaces::kindOf(const std::filesystem::path& netClass, const std::string& name,
                                           unsigned flags) {
    if (flags & IFF_LOOPBACK) return Kind::loopback;
    if (flags & IFF_POINTOPOINT) return Kind::tunnel;
    std::error_code error;
    const std::filesystem::path folder = netClass / name;
    if (std::filesystem::exists(folder / "wireless", error)) return Kind::wireless;
    std::ifstream typeFile(folder / "type");
    int type = -1;
    typeFile >> type;
    if (type == ARPHRD_NONE || type == ARPHRD_PPP || type == ARPHRD_TUNNEL || type == ARPHRD_TUNNEL6) {
        return Kind::tunnel;
    }
    // Bridges, tunnels and virtual pairs are Ethernet links too, but no device stands behind them.
    if (type == ARPHRD_ETHER && std::filesystem::exists(folder / "device", error)) return Kind::wired;
    return Kind::other;
}

std::vector<Interfaces::Interface> IfaddrsInterfaces::list() const {
    ifaddrs* first = nullptr;
    if (::getifaddrs(&first) != 0) return {};
    std::vector<Interface> interfaces;
    for (const ifaddrs* item = first; item; item = item->ifa_next) {
        if (!item->ifa_name) continue;
        Interface& entry = entryFor(interfaces, item->ifa_name);
        entry.isUp = (item->ifa_flags & IFF_UP) != 0;
        entry.isRunning = (item->ifa_flags & IFF_RUNNING) != 0;
        entry.canBroadcast = (item->ifa_flags & IFF_BROADCAST) != 0;
        entry.kind = kindOf(netClass_, entry.name, item->ifa_flags);
        const sockaddr* address = item->ifa_addr;
        if (!address) continue;
        if (address->sa_family == AF_PACKET) {
            const auto* link = reinterpret_cast<const sockaddr_ll*>(address);
            if (link->sll_halen != 6) continue;
            HardwareAddress hardware;
            std::memcpy(hardware.data(), link->sll_addr, hardware.size());
            entry.hardwareAddress = hardware;
        } else if (address->sa_family == AF_INET || address->sa_family == AF_INET6) {
            std::string text = numeric(address);
            if (text.empty()) continue;
            entry.addresses.push_back(
                {.family = address->sa_family == AF_INET ? Address::Family::ipv4 : Address::Family::ipv6,
                 .text = std::move(text),
                 .netmask = item->ifa_netmask ? numeric(item->ifa_netmask) : std::string()});
        }
    }
    ::freeifaddrs(first);
    return interfaces;
}

} // namespace Linux
} // namespace Platform
