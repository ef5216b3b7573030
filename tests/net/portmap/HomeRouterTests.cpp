#include "net/portmap/HomeRouter.h"
#include "tests/net/portmap/ScriptedExchange.h"
#include "tests/net/portmap/ScriptedHttp.h"

#include <gtest/gtest.h>

namespace {

using namespace TessaloyNet;
using TessaloyCore::Bytes;

const Bytes mapped{0, 130, 0, 0, 0, 0, 0, 9, 0xd9, 0xf9, 0xd9, 0xf9, 0, 0, 0x02, 0x58};

Bytes addressReply(std::uint8_t a, std::uint8_t b) { return {0, 128, 0, 0, 0, 0, 0, 9, a, b, 1, 2}; }

TEST(HomeRouter, TriesNatPmpThenUpnp) {
    const std::string location = "http://127.0.0.1:5000/d.xml";
    const std::string control = "http://127.0.0.1:5000/c";
    const std::string service = "urn:schemas-upnp-org:service:WANIPConnection:1";
    const PortLease natPmpLease{PortLease::NatPmp{"192.168.1.1", 5351}, 55801};
    struct Row {
        const char* name;
        std::optional<std::string> gateway;
        std::vector<std::optional<Bytes>> datagrams;
        bool upnpDevice;
        PortAttemptResult result;
    };
    const std::string search = "HTTP/1.1 200 OK\r\nLocation: " + location + "\r\n\r\n";
    const Row rows[] = {
        {"no default route", std::nullopt, {}, false, PortAttemptResult::failure(PortMappingReason::noRouter)},
        {"public address by NAT-PMP",
         "192.168.1.1",
         {addressReply(5, 6), mapped},
         false,
         {PortMapping{"5.6.1.2", 55801, "NAT-PMP"}, natPmpLease, 600}},
        {"carrier-grade NAT by NAT-PMP, UPnP not asked",
         "192.168.1.1",
         {addressReply(100, 64), mapped},
         true,
         PortAttemptResult::failure(PortMappingReason::sharedAddress, natPmpLease)},
        {"no NAT-PMP, no UPnP",
         "192.168.1.1",
         {},
         false,
         PortAttemptResult::failure(PortMappingReason::noAutomaticForwarding)},
        {"UPnP after NAT-PMP's silence",
         "192.168.1.1",
         {std::nullopt, Bytes(search.begin(), search.end())},
         true,
         {PortMapping{"5.6.7.8", 55801, "UPnP"}, PortLease{PortLease::Upnp{control, service}, 55801}}},
    };
    for (const Row& row : rows) {
        auto exchange = std::make_shared<Testing::ScriptedExchange>();
        for (const auto& datagram : row.datagrams) exchange->reply(datagram);
        auto http = std::make_shared<Testing::ScriptedHttp>();
        if (row.upnpDevice) {
            http->answer(location, HttpClient::Reply{
                                       200, "<serviceType>" + service + "</serviceType><controlURL>/c</controlURL>"});
            http->answer(control, HttpClient::Reply{200, ""});
            http->answer(control, HttpClient::Reply{200, "<NewExternalIPAddress>5.6.7.8</NewExternalIPAddress>"});
        }
        HomeRouter router(55801, {[&] { return row.gateway; }, exchange, http});
        EXPECT_EQ(router.attempt(), row.result) << row.name;
        if (!row.gateway) {
            EXPECT_TRUE(exchange->sent().empty()) << row.name;
        }
        // The device is asked only when NAT-PMP stayed silent.
        if (!row.upnpDevice || row.datagrams.front()) {
            EXPECT_TRUE(http->calls().empty()) << row.name;
        }
    }
}

} // namespace
