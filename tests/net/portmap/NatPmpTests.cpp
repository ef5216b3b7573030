#include "net/portmap/AddressKind.h"
#include "net/portmap/DefaultGateway.h"
#include "net/portmap/NatPmpClient.h"
#include "tests/net/portmap/ScriptedExchange.h"

#include <gtest/gtest.h>

namespace {

using namespace TessaloyNet;
using TessaloyCore::Bytes;

const Bytes address{0, 128, 0, 0, 0, 0, 0, 9, 11, 22, 33, 44};

Bytes resized(Bytes bytes, std::size_t size) {
    bytes.resize(size, 0xEE);
    return bytes;
}

// A mapping reply granting the port `portHigh` * 256 + 0xf9 for `lifetime` seconds.
Bytes mapped(std::uint8_t portHigh, std::uint16_t lifetime = 600, std::uint8_t result = 0, std::size_t size = 16) {
    return resized({0, 130, 0, result, 0, 0, 0, 9, 0xd9, 0xf9, portHigh, 0xf9, 0, 0,
                    static_cast<std::uint8_t>(lifetime >> 8), static_cast<std::uint8_t>(lifetime)},
                   size);
}

TEST(NatPmpClient, AcceptsOnlyRepliesThatKeepTheRules) {
    struct Row {
        std::optional<Bytes> address, mapping;
        std::optional<std::uint16_t> grantedPort;
    };
    const Row rows[] = {
        {address, mapped(0xd9), 0xd9f9},
        {address, mapped(0x9c), 0x9cf9}, // another port than asked
        {resized(address, 13), mapped(0xd9, 600, 0, 17), 0xd9f9},
        {std::nullopt, std::nullopt, std::nullopt},
        {resized(address, 11), mapped(0xd9), std::nullopt},
        {Bytes{0, 128, 0, 3, 0, 0, 0, 9, 11, 22, 33, 44}, mapped(0xd9), std::nullopt},
        {Bytes{1, 128, 0, 0, 0, 0, 0, 9, 11, 22, 33, 44}, mapped(0xd9), std::nullopt},
        {address, mapped(0xd9, 600, 0, 15), std::nullopt},
        {address, mapped(0xd9, 600, 2), std::nullopt}, // not authorised
        {address, mapped(0xd9, 0), std::nullopt},
    };
    for (const Row& row : rows) {
        Testing::ScriptedExchange router;
        router.reply(row.address);
        router.reply(row.mapping);
        const auto grant = NatPmpClient(55801, router).request("192.168.1.1");
        ASSERT_EQ(grant.has_value(), row.grantedPort.has_value()) << ::testing::PrintToString(row.mapping);
        if (!grant) continue;
        EXPECT_EQ(grant->mapping, (PortMapping{"11.22.33.44", *row.grantedPort, "NAT-PMP"}));
        EXPECT_EQ(grant->lease, (PortLease{PortLease::NatPmp{"192.168.1.1", 5351}, *row.grantedPort}));
        EXPECT_EQ(grant->lifetime, 600u);
    }
}

TEST(DefaultGateway, TakesTheCheapestUsableDefaultRoute) {
    const std::string header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    const std::pair<std::string, std::optional<std::string>> rows[] = {
        {"eth0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n", "192.168.1.1"},
        {"eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n", std::nullopt},
        {"wg0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n", std::nullopt},
        {"eth0\t00000000\t0101A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n", std::nullopt}, // down
        {"eth0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
         "wlan0\t00000000\tFE00000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n",
         "10.0.0.254"},
    };
    for (const auto& [routes, gateway] : rows) EXPECT_EQ(DefaultGateway::fromRouteTable(header + routes), gateway);
}

TEST(AddressKind, TellsPublicAddressesFromSharedAndPrivateOnes) {
    for (const char* text : {"100.63.255.255", "100.128.0.1", "172.15.0.1", "172.32.0.1", "192.169.0.1", "169.253.0.1",
                             "223.255.255.255", "1.2.3.x.4", "1..2.3.4"}) {
        EXPECT_TRUE(AddressKind::isPublicIPv4(text)) << text;
    }
    for (const char* text :
         {"100.64.0.1", "100.127.255.254", "172.16.0.1", "172.31.255.255", "192.168.1.1", "169.254.10.20", "224.0.0.1",
          "0.1.2.3", "10.1.2.3", "127.0.0.1", "", "1.2.3", "1.2.3.4.5", "1.2.3.999"}) {
        EXPECT_FALSE(AddressKind::isPublicIPv4(text)) << text;
    }
}

} // namespace
