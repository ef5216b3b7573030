#include "net/reach/WakeBroadcast.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace TessaloyNet::WakeBroadcast {
namespace {

constexpr const char* everywhere = "255.255.255.255";

std::string dotted(std::uint32_t address) {
    const in_addr raw{htonl(address)};
    char text[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &raw, text, sizeof text) ? text : std::string();
}

std::uint32_t hostOrder(const sockaddr* address) {
    return ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

// Closes the socket it holds.
struct Socket {
    int fd;
    ~Socket() {
        if (fd >= 0) ::close(fd);
    }
};

} // namespace

std::vector<std::string> addresses(const std::vector<InterfaceAddress>& interfaces) {
    std::vector<std::string> found;
    for (const InterfaceAddress& entry : interfaces) {
        if (!entry.up || !entry.canBroadcast || entry.loopback) continue;
        if (!entry.netmask || *entry.netmask == 0xFFFFFFFF) continue;
        const std::string text = dotted(entry.address | ~*entry.netmask);
        if (!text.empty() && std::find(found.begin(), found.end(), text) == found.end()) found.push_back(text);
    }
    found.emplace_back(everywhere);
    return found;
}

std::vector<std::string> addresses() {
    ifaddrs* first = nullptr;
    if (::getifaddrs(&first) != 0) return {everywhere};
    std::vector<InterfaceAddress> interfaces;
    for (const ifaddrs* item = first; item; item = item->ifa_next) {
        if (!item->ifa_addr || item->ifa_addr->sa_family != AF_INET) continue;
        interfaces.push_back(
            {.up = (item->ifa_flags & IFF_UP) != 0,
             .canBroadcast = (item->ifa_flags & IFF_BROADCAST) != 0,
             .loopback = (item->ifa_flags & IFF_LOOPBACK) != 0,
             .address = hostOrder(item->ifa_addr),
             .netmask = item->ifa_netmask ? std::optional(hostOrder(item->ifa_netmask)) : std::nullopt});
    }
    ::freeifaddrs(first);
    return addresses(interfaces);
}

Report send(TessaloyCore::ByteView packet) {
    Report report;
    const Socket socket{::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP)};
    const int on = 1;
    if (socket.fd < 0 || ::setsockopt(socket.fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        report.unsent.push_back(std::string("no broadcast socket: ") + std::strerror(errno));
        return report;
    }
    for (const std::string& address : addresses()) {
        for (const std::uint16_t port : ports) {
            sockaddr_in target{};
            target.sin_family = AF_INET;
            target.sin_port = htons(port);
            if (::inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) continue;
            const ssize_t written = ::sendto(socket.fd, packet.data(), packet.size(), 0,
                                             reinterpret_cast<const sockaddr*>(&target), sizeof target);
            if (written == static_cast<ssize_t>(packet.size())) {
                ++report.sent;
            } else {
                const std::string reason = written < 0 ? std::strerror(errno) : "sent in part";
                report.unsent.push_back(address + ":" + std::to_string(port) + ": " + reason);
            }
        }
    }
    return report;
}

} // namespace TessaloyNet::WakeBroadcast
