#include "net/portmap/UpnpClient.h"
#include "tests/net/portmap/ScriptedExchange.h"
#include "tests/net/portmap/ScriptedHttp.h"

#include <gtest/gtest.h>

namespace {

using namespace TessaloyNet;
using TessaloyCore::Bytes;
using Reply = HttpClient::Reply;

const std::string v1 = "urn:schemas-upnp-org:service:WANIPConnection:1";
const std::string v2 = "urn:schemas-upnp-org:service:WANIPConnection:2";
const std::string location = "http://127.0.0.1:5000/rootDesc.xml";
const std::string control = "http://127.0.0.1:5000/ctl/IPConn";

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string service(const std::string& type, const std::string& url) {
    return "<service><serviceType>" + type + "</serviceType><controlURL>" + url + "</controlURL></service>";
}

std::string externalAddressReply(const std::string& element) {
    return "<s:Envelope><s:Body><u:GetExternalIPAddressResponse>" + element +
           "</u:GetExternalIPAddressResponse></s:Body></s:Envelope>";
}

TEST(UpnpClient, FindsThePreferredServiceAndItsControlUrl) {
    struct Row {
        const char* name;
        std::string description;
        std::optional<UpnpClient::ControlPoint> found;
    };
    const Row rows[] = {
        {"version 2 wherever it stands", service(v1, "/one") + service(v2, " /ctl/IPConn\n"), {{control, v2}}},
        {"absolute url unchanged", service(v1, "http://10.0.0.1:80/c"), {{"http://10.0.0.1:80/c", v1}}},
        {"ppp last",
         service("urn:schemas-upnp-org:service:WANPPPConnection:1", "/p"),
         {{"http://127.0.0.1:5000/p", "urn:schemas-upnp-org:service:WANPPPConnection:1"}}},
        {"only a later service has a control url",
         "<service><serviceType>" + v1 + "</serviceType></service>" + service("other", "/x"), std::nullopt},
        {"no closing service tag",
         "<serviceType>" + v1 + "</serviceType><x/><controlURL>/late</controlURL>",
         {{"http://127.0.0.1:5000/late", v1}}},
        {"no wan service", service("urn:schemas-upnp-org:service:Layer3Forwarding:1", "/l3f"), std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(UpnpClient::findControlURL(row.description, location), row.found) << row.name;
}

TEST(UpnpClient, ReadsTheLocationHeader) {
    EXPECT_EQ(UpnpClient::parseLocation(bytes("HTTP/1.1 200 OK\r\nLOCATION: \thttp://10.0.0.1:1900/d.xml \r\n\r\n")),
              "http://10.0.0.1:1900/d.xml");
    EXPECT_EQ(UpnpClient::parseLocation(bytes("HTTP/1.1 200 OK\r\nlocation:http://h/d\r\n")), "http://h/d");
    EXPECT_EQ(UpnpClient::parseLocation(bytes("HTTP/1.1 200 OK\r\nST: x\r\n\r\n")), std::nullopt);
    EXPECT_EQ(UpnpClient::parseLocation(bytes("HTTP/1.1 200 OK\r\nLocation: not a url\r\n")), std::nullopt);
}

// Runs one whole request against a device whose description points at `control`.
struct Device {
    Testing::ScriptedExchange exchange;
    Testing::ScriptedHttp http;
    UpnpClient client{55801, exchange, http};

    explicit Device(const std::string& where = location) {
        exchange.reply(bytes("HTTP/1.1 200 OK\r\nLocation: " + where + "\r\n\r\n"));
        http.answer(where, Reply{200, service(v2, "/ctl/IPConn")});
    }
};

TEST(UpnpClient, MapsReportsAndDeletes) {
    struct Row {
        const char* name;
        std::optional<Reply> added;
        std::optional<Reply> address;
        std::optional<PortAttemptResult> result;
    };
    const PortLease lease{PortLease::Upnp{control, v2}, 55801};
    const Row rows[] = {
        {"mapped", Reply{200, "anything"},
         Reply{200, externalAddressReply("<NewExternalIPAddress> 203.0.113.7 "
                                         "</NewExternalIPAddress>")},
         PortAttemptResult{PortMapping{"203.0.113.7", 55801, "UPnP"}, lease}},
        {"refused", Reply{500, "<s:Fault/>"}, std::nullopt, std::nullopt},
        {"unreachable", std::nullopt, std::nullopt, std::nullopt},
        {"empty address", Reply{200, ""},
         Reply{200, externalAddressReply("<NewExternalIPAddress></NewExternalIPAddress>")},
         PortAttemptResult::failure(PortMappingReason::sharedAddress, lease)},
        {"shared address", Reply{200, ""},
         Reply{200, externalAddressReply("<NewExternalIPAddress>100.64.3.4</NewExternalIPAddress>")},
         PortAttemptResult::failure(PortMappingReason::sharedAddress, lease)},
        {"prefixed tag", Reply{200, ""},
         Reply{200, externalAddressReply("<m:NewExternalIPAddress>1.2.3.4</m:NewExternalIPAddress>")},
         PortAttemptResult::failure(PortMappingReason::silentAddress, lease)},
        {"address fault", Reply{200, ""}, Reply{500, ""},
         PortAttemptResult::failure(PortMappingReason::silentAddress, lease)},
    };
    for (const Row& row : rows) {
        Device device;
        device.http.answer(control, row.added);
        device.http.answer(control, row.address);
        EXPECT_EQ(device.client.request(), row.result) << row.name;
    }
}

TEST(UpnpClient, SendsTheExactRequests) {
    Device device;
    device.http.answer(control, Reply{200, ""});
    device.http.answer(control,
                       Reply{200, externalAddressReply("<NewExternalIPAddress>8.8.4.4</NewExternalIPAddress>")});
    ASSERT_TRUE(device.client.request());
    device.client.release({control, v2}, 40000);

    const auto sent = device.exchange.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Testing::ScriptedExchange::Sent{bytes(UpnpClient::searchDatagram()), "239.255.255.250", 1900, 2,
                                                        false}));
    EXPECT_EQ(UpnpClient::searchDatagram().size(), 137u);

    const std::string opening =
        "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";
    const std::string closing = "></s:Body></s:Envelope>";
    const auto calls = device.http.calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].url, location);
    const std::pair<std::string, std::string> posts[] = {
        {"AddPortMapping",
         "<NewRemoteHost></NewRemoteHost><NewExternalPort>55801</NewExternalPort><NewProtocol>TCP</NewProtocol>"
         "<NewInternalPort>55801</NewInternalPort><NewInternalClient>127.0.0.1</NewInternalClient>"
         "<NewEnabled>1</NewEnabled><NewPortMappingDescription>Plovander</NewPortMappingDescription>"
         "<NewLeaseDuration>3600</NewLeaseDuration>"},
        {"GetExternalIPAddress", ""},
        {"DeletePortMapping",
         "<NewRemoteHost></NewRemoteHost><NewExternalPort>40000</NewExternalPort><NewProtocol>TCP</NewProtocol>"},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& [action, arguments] = posts[i];
        EXPECT_EQ(calls[i + 1].url, control);
        EXPECT_EQ(calls[i + 1].body,
                  opening + "<u:" + action + " xmlns:u=\"" + v2 + "\">" + arguments + "</u:" + action + closing);
        EXPECT_EQ(calls[i + 1].headers, (std::vector<std::string>{"Content-Type: text/xml; charset=\"utf-8\"",
                                                                  "SOAPAction: \"" + v2 + "#" + action + "\""}));
    }
}

TEST(UpnpClient, GivesUpBeforeMappingWithoutItsOwnAddress) {
    Device named("http://router.lan:5000/rootDesc.xml");
    EXPECT_EQ(named.client.request(), std::nullopt);
    EXPECT_EQ(named.http.calls().size(), 1u);
}

} // namespace
