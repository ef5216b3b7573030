#include "net/portmap/CurlHttpClient.h"
#include "net/portmap/HomeRouter.h"
#include "net/portmap/UpnpClient.h"
#include "tests/net/portmap/ScriptedExchange.h"
#include "tests/net/portmap/ScriptedHttp.h"

#include <gtest/gtest.h>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read_until.hpp>
#include <asio/write.hpp>

#include <thread>

namespace {

using namespace TessaloyNet;
using Reply = HttpClient::Reply;

const std::string v1 = "urn:schemas-upnp-org:service:WANIPConnection:1";
const std::string v2 = "urn:schemas-upnp-org:service:WANIPConnection:2";
const std::string location = "http://127.0.0.1:5000/rootDesc.xml";
const std::string control = "http://127.0.0.1:5000/ctl/IPConn";

std::string service(const std::string& type, const std::string& url) {
    return "<service><serviceType>" + type + "</serviceType><controlURL>" + url + "</controlURL></service>";
}

TEST(UpnpClient, FindsThePreferredServiceAndItsControlUrl) {
    const std::pair<std::string, std::optional<UpnpClient::ControlPoint>> rows[] = {
        {service(v1, "/one") + service(v2, " /ctl/IPConn\n"), {{control, v2}}},
        {service(v1, "http://10.0.0.1:80/c"), {{"http://10.0.0.1:80/c", v1}}},
        {"<service><serviceType>" + v1 + "</serviceType></service>" + service("other", "/x"), std::nullopt},
        {"<serviceType>" + v1 + "</serviceType><x/><controlURL>/late</controlURL>",
         {{"http://127.0.0.1:5000/late", v1}}},
        {service("urn:schemas-upnp-org:service:Layer3Forwarding:1", "/l3f"), std::nullopt},
    };
    for (const auto& [description, found] : rows) {
        EXPECT_EQ(UpnpClient::findControlURL(description, location), found) << description;
    }
}

TEST(UpnpClient, ReportsWhatTheDeviceGrantedAndLeavesNoLeaseBehind) {
    const PortLease lease{PortLease::Upnp{control, v2}, 55801};
    auto address = [](const std::string& element) { return Reply{200, "<u:R>" + element + "</u:R>"}; };
    struct Row {
        std::string search;
        std::optional<Reply> added, reported;
        std::optional<PortAttemptResult> result;
    };
    const std::string found = "HTTP/1.1 200 OK\r\nLOCATION: " + location + "\r\n\r\n";
    const Row rows[] = {
        {found, Reply{200, "x"}, address("<NewExternalIPAddress> 203.0.113.7 </NewExternalIPAddress>"),
         PortAttemptResult{PortMapping{"203.0.113.7", 55801, "UPnP"}, lease}},
        {found, Reply{500, "<s:Fault/>"}, std::nullopt, std::nullopt},
        {"HTTP/1.1 200 OK\r\nST: x\r\n\r\n", Reply{200, ""}, std::nullopt, std::nullopt},
        {"HTTP/1.1 200 OK\r\nLocation: http://router.lan:5000/rootDesc.xml\r\n", Reply{200, ""}, std::nullopt,
         std::nullopt},
        {found, Reply{200, ""}, address("<NewExternalIPAddress></NewExternalIPAddress>"),
         PortAttemptResult::failure(PortMappingReason::sharedAddress, lease)},
        {found, Reply{200, ""}, address("<m:NewExternalIPAddress>1.2.3.4</m:NewExternalIPAddress>"),
         PortAttemptResult::failure(PortMappingReason::silentAddress, lease)},
        {found, Reply{200, ""}, Reply{500, ""}, PortAttemptResult::failure(PortMappingReason::silentAddress, lease)},
    };
    for (const Row& row : rows) {
        Testing::ScriptedExchange exchange;
        exchange.reply(TessaloyCore::Bytes(row.search.begin(), row.search.end()));
        Testing::ScriptedHttp http;
        for (const auto& where : {location, std::string("http://router.lan:5000/rootDesc.xml")}) {
            http.replies[where] = {Reply{200, service(v2, "/ctl/IPConn")}};
        }
        http.replies[control] = {row.added, row.reported};
        EXPECT_EQ(UpnpClient(55801, exchange, http).request(), row.result) << row.search;
    }
}

// Whoever answers the search names the URL: a body past the cap is not read to its end.
TEST(CurlHttpClient, ReadsABodyUpToItsCapAndNoFurther) {
    for (const std::size_t size : {HttpClient::maximumBodyBytes, HttpClient::maximumBodyBytes + 1}) {
        asio::io_context io;
        asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
        std::thread server([&] {
            auto socket = acceptor.accept();
            std::string request;
            std::error_code ignored; // the client hangs up before the whole body is out
            asio::read_until(socket, asio::dynamic_buffer(request), "\r\n\r\n", ignored);
            const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
            asio::write(socket, asio::buffer(head + std::string(size, 'x')), ignored);
        });
        const auto port = std::to_string(acceptor.local_endpoint().port());
        const auto reply = CurlHttpClient().get("http://127.0.0.1:" + port + "/rootDesc.xml");
        server.join();
        EXPECT_EQ(reply.has_value(), size <= HttpClient::maximumBodyBytes) << size;
    }
}

// NAT-PMP's answer settles an attempt, even when its address is useless.
TEST(HomeRouter, AsksUpnpOnlyWhenNatPmpIsSilent) {
    const PortLease lease{PortLease::NatPmp{"192.168.1.1", 5351}, 55801};
    auto exchange = std::make_shared<Testing::ScriptedExchange>();
    exchange->reply(TessaloyCore::Bytes{0, 128, 0, 0, 0, 0, 0, 9, 100, 64, 1, 2});
    exchange->reply(TessaloyCore::Bytes{0, 130, 0, 0, 0, 0, 0, 9, 0xd9, 0xf9, 0xd9, 0xf9, 0, 0, 0x0e, 0x10});
    const auto http = std::make_shared<Testing::ScriptedHttp>();
    std::optional<std::string> gateway = "192.168.1.1";
    HomeRouter router(55801, {[&] { return gateway; }, exchange, http});
    EXPECT_EQ(router.attempt(), PortAttemptResult::failure(PortMappingReason::sharedAddress, lease));
    EXPECT_EQ(exchange->searches, 0);
    EXPECT_EQ(router.attempt(), PortAttemptResult::failure(PortMappingReason::noAutomaticForwarding));
    EXPECT_EQ(exchange->searches, 1);
    gateway.reset();
    EXPECT_EQ(router.attempt(), PortAttemptResult::failure(PortMappingReason::noRouter));
}

} // namespace
