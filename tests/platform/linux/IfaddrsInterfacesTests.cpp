#include "platform/linux/IfaddrsInterfaces.h"

#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <net/if.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
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

TEST(IfaddrsInterfaces, TheKernelsDescriptionTellsWiredFromWireless) {
    struct Case {
        const char* name;
        bool wireless;
        const char* type; // ARPHRD number, or null for no type file
        bool device;
        unsigned flags;
        Interfaces::Kind expected;
    };
    const std::vector<Case> cases = {
        {"enp3s0", false, "1", true, IFF_UP, Interfaces::Kind::wired},
        {"wlp2s0", true, "1", true, IFF_UP, Interfaces::Kind::wireless},
        {"br0", false, "1", false, IFF_UP, Interfaces::Kind::other}, // a bridge: no device behind it
        {"tun0", false, "65534", false, IFF_UP, Interfaces::Kind::tunnel},
        {"wg0", false, "65534", false, IFF_UP | IFF_POINTOPOINT | IFF_NOARP, Interfaces::Kind::tunnel},
        {"ppp0", false, nullptr, false, IFF_UP | IFF_POINTOPOINT, Interfaces::Kind::tunnel}, // flags alone
        {"vti0", false, "768", false, IFF_UP, Interfaces::Kind::tunnel},
        {"can0", false, "280", true, IFF_UP, Interfaces::Kind::other}, // neither Ethernet nor IP
        {"lo", false, "772", false, IFF_UP | IFF_LOOPBACK, Interfaces::Kind::loopback},
        {"gone0", false, nullptr, false, IFF_UP, Interfaces::Kind::other},
    };
    Testing::TemporaryDirectory netClass;
    for (const Case& test : cases) {
        const std::filesystem::path folder = netClass / test.name;
        if (test.type) {
            std::filesystem::create_directories(folder);
            std::ofstream(folder / "type") << test.type << "\n";
        }
        if (test.wireless) std::filesystem::create_directories(folder / "wireless");
        if (test.device) std::filesystem::create_directories(folder / "device");
        EXPECT_EQ(IfaddrsInterfaces::kindOf(netClass.path(), test.name, test.flags), test.expected) << test.name;
    }
}

} // namespace
