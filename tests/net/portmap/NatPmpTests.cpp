#include "net/portmap/AddressKind.h"
#include "net/portmap/DefaultGateway.h"
#include "net/portmap/NatPmpClient.h"
#include "tests/net/portmap/ScriptedExchange.h"

#include <gtest/gtest.h>

namespace {

using namespace TessaloyNet;
using TessaloyCore::Bytes;

const Bytes addressReply{0, 128, 0, 0, 0, 0, 0, 9, 11, 22, 33, 44};

Bytes mapReply(std::uint16_t port, std::uint32_t lifetime, std::uint8_t result = 0, std::size_t size = 16) {
    Bytes reply{0,
                130,
                0,
                result,
                0,
                0,
                0,
                9,
                0xd9,
                0xf9,
                static_cast<std::uint8_t>(port >> 8),
                static_cast<std::uint8_t>(port),
                static_cast<std::uint8_t>(lifetime >> 24),
                static_cast<std::uint8_t>(lifetime >> 16),
                static_cast<std::uint8_t>(lifetime >> 8),
                static_cast<std::uint8_t>(lifetime)};
    reply.resize(size, 0xEE);
    return reply;
}

Bytes resized(Bytes bytes, std::size_t size) {
    bytes.resize(size, 0xEE);
    return bytes;
}

TEST(NatPmpClient, AcceptsOnlyRepliesThatKeepTheRules) {
    struct Row {
        const char* name;
        std::optional<Bytes> address;
        std::optional<Bytes> mapping;
        std::optional<std::uint16_t> grantedPort;
        std::uint32_t lifetime = 3600;
    };
    const Row rows[] = {
        {"granted as asked", addressReply, mapReply(55801, 3600), 55801},
        {"another port granted", addressReply, mapReply(40000, 600), 40000, 600},
        {"longer replies", resized(addressReply, 13), mapReply(55801, 3600, 0, 17), 55801},
        {"silent gateway", std::nullopt, std::nullopt, std::nullopt},
        {"short address reply", resized(addressReply, 11), mapReply(55801, 3600), std::nullopt},
        {"address refused", Bytes{0, 128, 0, 3, 0, 0, 0, 9, 11, 22, 33, 44}, mapReply(55801, 3600), std::nullopt},
        {"address reply with another opcode", Bytes{0, 129, 0, 0, 0, 0, 0, 9, 11, 22, 33, 44}, std::nullopt,
         std::nullopt},
        {"address reply of another version", Bytes{1, 128, 0, 0, 0, 0, 0, 9, 11, 22, 33, 44}, std::nullopt,
         std::nullopt},
        {"short mapping reply", addressReply, mapReply(55801, 3600, 0, 15), std::nullopt},
        {"not authorised", addressReply, mapReply(55801, 3600, 2), std::nullopt},
        {"lifetime 0", addressReply, mapReply(55801, 0), std::nullopt},
        {"mapping unanswered", addressReply, std::nullopt, std::nullopt},
    };
    for (const Row& row : rows) {
        Testing::ScriptedExchange router;
        router.reply(row.address);
        router.reply(row.mapping);
        NatPmpClient client(55801, router);
        const auto grant = client.request("192.168.1.1");
        ASSERT_EQ(grant.has_value(), row.grantedPort.has_value()) << row.name;
        if (!grant) continue;
        EXPECT_EQ(grant->mapping, (PortMapping{"11.22.33.44", *row.grantedPort, "NAT-PMP"})) << row.name;
        EXPECT_EQ(grant->lease, (PortLease{PortLease::NatPmp{"192.168.1.1", 5351}, *row.grantedPort})) << row.name;
        EXPECT_EQ(grant->lifetime, row.lifetime) << row.name;
    }
}

TEST(NatPmpClient, SendsTheRequestsOfTheProtocol) {
    Testing::ScriptedExchange router;
    router.reply(addressReply);
    router.reply(mapReply(55801, 3600));
    NatPmpClient client(55801, router);
    ASSERT_TRUE(client.request("10.0.0.1", 5351));
    client.release({"10.0.0.1", 5351});
    const std::vector<Testing::ScriptedExchange::Sent> expected{
        {Bytes{0, 0}, "10.0.0.1", 5351, 3, true},
        {Bytes{0, 2, 0, 0, 0xd9, 0xf9, 0xd9, 0xf9, 0, 0, 0x0e, 0x10}, "10.0.0.1", 5351, 3, true},
        {Bytes{0, 2, 0, 0, 0xd9, 0xf9, 0, 0, 0, 0, 0, 0}, "10.0.0.1", 5351, 1, true},
    };
    EXPECT_EQ(router.sent(), expected);
}

TEST(DefaultGateway, TakesTheCheapestUsableDefaultRoute) {
    const std::string header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    struct Row {
        std::string routes;
        std::optional<std::string> gateway;
    };
    const Row rows[] = {
        {"eth0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n", "192.168.1.1"},
        {"eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n", std::nullopt},
        {"wg0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n", std::nullopt},
        {"eth0\t00000000\t0101A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n", std::nullopt},
        {"eth0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
         "wlan0\t00000000\t FE00000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n",
         "10.0.0.254"},
        {"", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(DefaultGateway::fromRouteTable(header + row.routes), row.gateway) << row.routes;
}

TEST(AddressKind, TellsPublicAddressesFromSharedAndPrivateOnes) {
    for (const char* text : {"100.63.255.255", "100.128.0.1", "172.15.0.1", "172.32.0.1", "192.169.0.1", "169.253.0.1",
                             "223.255.255.255", "1.2.3.x.4", "1..2.3.4", "203.0.113.7"}) {
        EXPECT_TRUE(AddressKind::isPublicIPv4(text)) << text;
    }
    for (const char* text :
         {"100.64.0.1", "100.127.255.254", "172.16.0.1", "172.31.255.255", "192.168.1.1", "169.254.10.20", "224.0.0.1",
          "255.255.255.255", "0.1.2.3", "10.1.2.3", "127.0.0.1", "", "1.2.3", "1.2.3.4.5", "1.2.3.999"}) {
        EXPECT_FALSE(AddressKind::isPublicIPv4(text)) << text;
    }
}

} // namespace
