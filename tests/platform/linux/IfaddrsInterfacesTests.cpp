#include "platform/linux/IfaddrsInterfaces.h"

#include <gtest/gtest.h>

#include <net/if.h>
#include <net/if_arp.h>

#include <algorithm>
#include <vector>

namespace {

using Platform::Interfaces;
using Platform::Linux::IfaddrsInterfaces;

TEST(IfaddrsInterfaces, ListsTheLoopbackWithItsAddress) {
    const std::vector<Interfaces::Interface> interfaces = IfaddrsInterfaces().list();
    const auto loopback = std::find_if(interfaces.begin(), interfaces.end(),
                                       [](const Interfaces::Interface& entry) { return entry.name == "lo"; });
    ASSERT_NE(loopback, interfaces.end());
    EXPECT_EQ(loopback->kind, Interfaces::Kind::loopback);
    EXPECT_TRUE(loopback->isUp);
    const Interfaces::Address expected{Interfaces::Address::Family::ipv4, "127.0.0.1", "255.0.0.0"};
    EXPECT_NE(std::find(loopback->addresses.begin(), loopback->addresses.end(), expected), loopback->addresses.end());
    // Every interface is listed once.
    for (const auto& entry : interfaces) {
        EXPECT_EQ(std::count_if(interfaces.begin(), interfaces.end(),
                                [&](const Interfaces::Interface& other) { return other.name == entry.name; }),
                  1)
            << entry.name;
    }
}

TEST(IfaddrsInterfaces, TheLinkTypeFlagsAndDriverKindTellTheKind) {
    struct Case {
        const char* name;
        unsigned type;
        const char* linkKind;
        unsigned flags;
        bool wireless;
        Interfaces::Kind expected;
    };
    const std::vector<Case> cases = {
        {"enp3s0", ARPHRD_ETHER, "", IFF_UP, false, Interfaces::Kind::wired},
        {"eth0 of a container", ARPHRD_ETHER, "veth", IFF_UP, false, Interfaces::Kind::wired},
        {"wlp2s0", ARPHRD_ETHER, "", IFF_UP, true, Interfaces::Kind::wireless},
        {"br0", ARPHRD_ETHER, "bridge", IFF_UP, false, Interfaces::Kind::other},
        {"tap0", ARPHRD_ETHER, "tun", IFF_UP, false, Interfaces::Kind::other},
        {"wg0", ARPHRD_NONE, "wireguard", IFF_UP | IFF_POINTOPOINT, false, Interfaces::Kind::tunnel},
        {"tun0", ARPHRD_NONE, "tun", IFF_UP, false, Interfaces::Kind::tunnel},
        {"ppp0", ARPHRD_PPP, "", IFF_UP | IFF_POINTOPOINT, false, Interfaces::Kind::tunnel},
        {"vti0", ARPHRD_TUNNEL, "vti", IFF_UP, false, Interfaces::Kind::tunnel},
        {"lo", ARPHRD_LOOPBACK, "", IFF_UP | IFF_LOOPBACK, false, Interfaces::Kind::loopback},
        {"gone0", ARPHRD_VOID, "", IFF_UP, false, Interfaces::Kind::other},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(IfaddrsInterfaces::kindOf(test.type, test.linkKind, test.flags, test.wireless), test.expected)
            << test.name;
    }
}

} // namespace
