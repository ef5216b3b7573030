#include "app/services/LocalInterfaces.h"

#include "platform/linux/IfaddrsInterfaces.h"
#include "tests/support/FakeInterfaces.h"
#include "tests/support/NetworkNamespace.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Platform::Interfaces;

// Every remote address text holds a colon before its port: IPv4 goes first by its host part.
TEST(LocalInterfaces, RemoteAddressesAreTheOverlayOnesIPv4FirstAtMostFour) {
    Testing::FakeInterfaces interfaces;
    const auto link = &Testing::FakeInterfaces::link;
    interfaces.setInterfaces({
        link("tailscale0", Interfaces::Kind::tunnel,
             {"fd7a:115c:a1e0::1", "fd7a:115c:a1e0::2", "100.64.0.1", "fd7a:115c:a1e0::3", "fe80::1", "100.101.0.2"},
             {}),
        link("wg0", Interfaces::Kind::tunnel, {"10.8.0.2"}, {}),
        link("eth0", Interfaces::Kind::wired, {"100.64.9.9"}, {}),
    });
    EXPECT_EQ(Plovander::remoteAddresses(interfaces),
              (std::vector<std::string>{"100.64.0.1:55802", "100.101.0.2:55802", "[fd7a:115c:a1e0::1]:55802",
                                        "[fd7a:115c:a1e0::2]:55802"}));
    // The VPN address outside the overlay ranges is listed for display with the VPN relay's port.
    EXPECT_EQ(Plovander::localInterfaceAddresses(interfaces, 55801),
              (std::vector<std::string>{"[fd7a:115c:a1e0::1]:55802", "[fd7a:115c:a1e0::2]:55802", "100.64.0.1:55802",
                                        "[fd7a:115c:a1e0::3]:55802", "100.101.0.2:55802", "10.8.0.2:55802",
                                        "100.64.9.9:55801"}));
}

// In a namespace of the test's own: a virtual cable holding a global, a documentation and a
// link-local address, and a tunnel holding a global one. Only the cable's global address is a
// candidate.
TEST(LocalInterfaces, AGlobalAddressOfTheWiredLinkIsTheOneCandidate) {
    Testing::NetworkNamespace space;
    if (space.unavailable()) GTEST_SKIP() << "no network namespace: " << *space.unavailable();
    space.addCable("cable0", "cable1");
    space.ip({"tuntap", "add", "mode", "tun", "name", "vpn0"});
    space.ip({"link", "set", "vpn0", "up"});
    for (const char* address : {"2001:db8::7/64", "3fff::5/64", "fe80::5/64"}) {
        space.ip({"-6", "address", "add", address, "dev", "cable0", "nodad"});
    }
    space.ip({"-6", "address", "add", "3fff:1::9/64", "dev", "vpn0", "nodad"});

    const auto [candidates, links] = space.inside([] {
        const Platform::Linux::IfaddrsInterfaces interfaces;
        return std::pair(Plovander::directCandidates(interfaces, 55801), interfaces.list());
    });
    EXPECT_EQ(candidates, std::vector<std::string>{"[3fff::5]:55801"});
    const auto kindOf = [&](const std::string& name) {
        const auto link =
            std::find_if(links.begin(), links.end(), [&](const auto& entry) { return entry.name == name; });
        return link == links.end() ? Interfaces::Kind::other : link->kind;
    };
    EXPECT_EQ(kindOf("cable0"), Interfaces::Kind::wired);
    EXPECT_EQ(kindOf("vpn0"), Interfaces::Kind::tunnel);
}

} // namespace
