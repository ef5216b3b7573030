#include "net/reach/MagicPacket.h"
#include "net/reach/WakeBroadcast.h"

#include "tests/support/NetworkNamespace.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace {

using namespace TessaloyNet;
using TessaloyCore::Bytes;

TEST(MagicPacket, SixBytesOfFFThenTheAddressSixteenTimes) {
    EXPECT_FALSE(MagicPacket::payload(Bytes(5, 1)));
    EXPECT_FALSE(MagicPacket::payload(Bytes(7, 1)));
    const Bytes address{0xaa, 0xbb, 0xcc, 0x00, 0x11, 0x22};
    const auto packet = MagicPacket::payload(address);
    ASSERT_TRUE(packet);
    ASSERT_EQ(packet->size(), 102U);
    EXPECT_TRUE(std::all_of(packet->begin(), packet->begin() + 6, [](std::uint8_t byte) { return byte == 0xFF; }));
    for (std::size_t copy = 6; copy < 102; copy += 6) {
        EXPECT_TRUE(std::equal(address.begin(), address.end(), packet->begin() + static_cast<std::ptrdiff_t>(copy)));
    }
    EXPECT_EQ(MagicPacket::describe(address), "aa:bb:cc:00:11:22");
}

TEST(WakeBroadcast, EachBroadcastNetworkOnceThenEverywhere) {
    using Entry = WakeBroadcast::InterfaceAddress;
    constexpr std::uint32_t host = 0xC0A80114; // 192.168.1.20
    constexpr std::uint32_t slash24 = 0xFFFFFF00;
    const std::vector<Entry> interfaces = {
        {.up = true, .canBroadcast = true, .address = host, .netmask = slash24},
        {.up = true, .canBroadcast = true, .address = host + 1, .netmask = slash24}, // the same network
        {.up = true, .canBroadcast = true, .loopback = true, .address = 0x7F000001, .netmask = 0xFF000000},
        {.up = false, .canBroadcast = true, .address = 0x0A000001, .netmask = slash24},
        {.up = true, .canBroadcast = false, .address = 0x0A000101, .netmask = slash24}, // point-to-point
        {.up = true, .canBroadcast = true, .address = 0x0A000201, .netmask = 0xFFFFFFFF},
        {.up = true, .canBroadcast = true, .address = 0x0A000301, .netmask = std::nullopt},
        {.up = true, .canBroadcast = true, .address = 0x0A0A0A0A, .netmask = 0xFFFF0000},
    };
    EXPECT_EQ(WakeBroadcast::addresses(interfaces),
              (std::vector<std::string>{"192.168.1.255", "10.10.255.255", "255.255.255.255"}));
    EXPECT_EQ(WakeBroadcast::addresses({}), std::vector<std::string>{"255.255.255.255"});
}

// A UDP socket on every address of the namespace at `port`; closed on destruction.
struct Receiver {
    explicit Receiver(std::uint16_t port) : fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(port);
        bound = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0;
    }
    ~Receiver() { ::close(fd); }
    // The first datagram within five seconds; empty when none came.
    Bytes next() const {
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, 5000) != 1) return {};
        Bytes datagram(512);
        const ssize_t size = ::recv(fd, datagram.data(), datagram.size(), 0);
        datagram.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
        return datagram;
    }
    int fd;
    bool bound = false;
};

// A network of the test's own with no default route: 255.255.255.255 is unreachable, the subnet
// broadcast still arrives on both ports.
TEST(WakeBroadcast, ReachesTheSubnetOnBothPortsWithoutADefaultRoute) {
    Testing::NetworkNamespace space;
    if (space.unavailable()) GTEST_SKIP() << "no network namespace: " << *space.unavailable();
    space.addCable("cable0", "cable1");
    space.ip({"address", "add", "10.77.0.1/24", "dev", "cable0"});
    const Bytes packet = *MagicPacket::payload(Bytes{0x02, 0, 0, 0, 0, 0x01});

    space.inside([&] {
        const Receiver discard(9), echo(7);
        ASSERT_TRUE(discard.bound && echo.bound);
        const WakeBroadcast::Report report = WakeBroadcast::send(packet);
        EXPECT_EQ(report.sent, 2U);
        EXPECT_EQ(report.unsent, (std::vector<std::string>{"255.255.255.255:9: Network is unreachable",
                                                           "255.255.255.255:7: Network is unreachable"}));
        EXPECT_EQ(discard.next(), packet);
        EXPECT_EQ(echo.next(), packet);
    });
}

} // namespace
