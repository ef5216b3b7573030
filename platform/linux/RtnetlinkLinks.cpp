#include "platform/linux/RtnetlinkLinks.h"

#include "platform/linux/FileDescriptor.h"

#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/wireless.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <array>
#include <cstring>

namespace Platform::Linux {
namespace {

// The kernel's message and attribute walking macros, without their C casts.
template <typename To, typename From>
const To* at(const From* base, std::size_t offset) {
    return reinterpret_cast<const To*>(reinterpret_cast<const char*>(base) + offset);
}

constexpr std::size_t headerLength = NLMSG_ALIGN(sizeof(nlmsghdr));
constexpr std::size_t attributeHeaderLength = RTA_ALIGN(sizeof(rtattr));

const void* payload(const rtattr* attribute) { return at<void>(attribute, attributeHeaderLength); }
std::size_t payloadLength(const rtattr* attribute) { return attribute->rta_len - attributeHeaderLength; }

// Calls `visit` for each attribute in the `length` bytes from `first`.
template <typename Visit>
void forEachAttribute(const rtattr* first, std::size_t length, Visit visit) {
    for (const rtattr* attribute = first;
         length >= sizeof(rtattr) && attribute->rta_len >= sizeof(rtattr) && attribute->rta_len <= length;) {
        visit(attribute);
        const std::size_t step = RTA_ALIGN(attribute->rta_len);
        if (step >= length) break;
        length -= step;
        attribute = at<rtattr>(attribute, step);
    }
}

std::string attributeText(const rtattr* attribute) {
    const auto* text = static_cast<const char*>(payload(attribute));
    return std::string(text, strnlen(text, payloadLength(attribute)));
}

std::string linkKind(const rtattr* linkInfo) {
    std::string kind;
    forEachAttribute(static_cast<const rtattr*>(payload(linkInfo)), payloadLength(linkInfo), [&](const rtattr* nested) {
        if (nested->rta_type == IFLA_INFO_KIND) kind = attributeText(nested);
    });
    return kind;
}

// Wireless drivers answer the wireless-extensions name request; every other link refuses it.
bool isWireless(int socket, const std::string& name) {
    iwreq request{};
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    return ::ioctl(socket, SIOCGIWNAME, &request) == 0;
}

bool requestDump(int socket) {
    struct {
        nlmsghdr header;
        ifinfomsg info;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETLINK;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.info.ifi_family = AF_UNSPEC;
    return ::send(socket, &request, sizeof request, 0) == static_cast<ssize_t>(sizeof request);
}

} // namespace

std::map<std::string, RtnetlinkLinks::Link> RtnetlinkLinks::read() {
    const FileDescriptor route(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    const FileDescriptor inet(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (route.get() < 0 || !requestDump(route.get())) return {};
    std::map<std::string, Link> links;
    std::array<char, 32768> buffer;
    for (;;) {
        const ssize_t received = ::recv(route.get(), buffer.data(), buffer.size(), 0);
        if (received <= 0) return {};
        auto length = static_cast<std::size_t>(received);
        for (const auto* header = reinterpret_cast<const nlmsghdr*>(buffer.data());
             length >= sizeof(nlmsghdr) && header->nlmsg_len >= sizeof(nlmsghdr) && header->nlmsg_len <= length;) {
            if (header->nlmsg_type == NLMSG_DONE) return links;
            if (header->nlmsg_type == NLMSG_ERROR) return {};
            constexpr std::size_t infoEnd = headerLength + sizeof(ifinfomsg);
            if (header->nlmsg_type == RTM_NEWLINK && header->nlmsg_len >= infoEnd) {
                const auto* info = at<ifinfomsg>(header, headerLength);
                Link link{.type = info->ifi_type, .kind = {}, .wireless = false};
                std::string name;
                forEachAttribute(at<rtattr>(header, NLMSG_ALIGN(infoEnd)), header->nlmsg_len - NLMSG_ALIGN(infoEnd),
                                 [&](const rtattr* attribute) {
                                     if (attribute->rta_type == IFLA_IFNAME) name = attributeText(attribute);
                                     if (attribute->rta_type == IFLA_LINKINFO) link.kind = linkKind(attribute);
                                 });
                if (!name.empty()) {
                    link.wireless = inet.get() >= 0 && isWireless(inet.get(), name);
                    links[name] = std::move(link);
                }
            }
            const std::size_t step = NLMSG_ALIGN(header->nlmsg_len);
            if (step >= length) break;
            length -= step;
            header = at<nlmsghdr>(header, step);
        }
    }
}

} // namespace Platform::Linux
