#include "platform/linux/RtnetlinkNetworkChanges.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <optional>
#include <system_error>

namespace Platform {

std::unique_ptr<NetworkChanges> NetworkChanges::create(Handler onChange, std::string* whyNot) {
    try {
        return std::make_unique<Linux::RtnetlinkNetworkChanges>(std::move(onChange));
    } catch (const std::system_error& error) {
        if (whyNot) *whyNot = error.what();
        return nullptr;
    }
}

namespace Linux {
namespace {

int openWatchSocket() {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "rtnetlink socket");
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int code = errno;
        FileDescriptor closing(fd);
        throw std::system_error(code, std::generic_category(), "rtnetlink bind");
    }
    return fd;
}

int openStopEvent() {
    const int fd = ::eventfd(0, EFD_CLOEXEC);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    return fd;
}

} // namespace

RtnetlinkNetworkChanges::RtnetlinkNetworkChanges(Handler onChange)
    : onChange_(std::move(onChange)),
      socket_(openWatchSocket()),
      stop_(openStopEvent()),
      watcher_([this] { watch(); }) {}

RtnetlinkNetworkChanges::~RtnetlinkNetworkChanges() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(stop_.get(), &one, sizeof one);
    watcher_.join();
}

bool RtnetlinkNetworkChanges::drain() {
    std::array<char, 16384> buffer;
    bool any = false;
    for (;;) {
        const ssize_t received = ::recv(socket_.get(), buffer.data(), buffer.size(), 0);
        if (received > 0 || (received < 0 && errno == ENOBUFS)) {
            any = true;
            continue;
        }
        if (received < 0 && errno == EINTR) continue;
        return any;
    }
}

void RtnetlinkNetworkChanges::watch() {
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> burstStart;
    Clock::time_point lastMessage;
    for (;;) {
        int timeout = -1;
        if (burstStart) {
            const auto due = std::min(lastMessage + quiet, *burstStart + longest);
            timeout = static_cast<int>(
                std::max<std::int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count()));
        }
        std::array<pollfd, 2> watched{pollfd{stop_.get(), POLLIN, 0}, pollfd{socket_.get(), POLLIN, 0}};
        const int ready = ::poll(watched.data(), watched.size(), timeout);
        if (ready < 0 && errno != EINTR) return;
        if (watched[0].revents) return;
        if (watched[1].revents && drain()) {
            lastMessage = Clock::now();
            if (!burstStart) burstStart = lastMessage;
            continue;
        }
        if (ready == 0 && burstStart) {
            burstStart.reset();
            onChange_();
        }
    }
}

} // namespace Linux
} // namespace Platform
