#include "core/Encoding.h"
#include "net/relay/RelayEndpoint.h"

#include <gtest/gtest.h>

namespace {

using namespace TessaloyNet;
using TessaloyCore::base64;
using TessaloyCore::Bytes;

const std::string helloKey = base64(Bytes(65, 4));
const std::string tlsKey = base64(Bytes(33, 9));

std::string endpointText(const std::string& host, const std::string& port, const std::string& hello = helloKey,
                         const std::string& tls = tlsKey) {
    return host + " " + port + " " + hello + " " + tls;
}

TEST(RelayEndpoint, ParsesTheTextForm) {
    const auto parsed = RelayEndpoint::parse("\t relay.example  \u00A0443\t\t" + helloKey + "   " + tlsKey + "\n");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, (RelayEndpoint{"relay.example", 443, Bytes(65, 4), Bytes(33, 9)}));
    EXPECT_EQ(RelayEndpoint::parse(parsed->text()), parsed);
    for (const char* port : {"+443", "00443"}) EXPECT_EQ(RelayEndpoint::parse(endpointText("h", port))->port, 443);
    EXPECT_TRUE(RelayEndpoint::parse(endpointText(std::string(251, 'h') + "\u00E9", "1")));
    EXPECT_TRUE(RelayEndpoint::parse(endpointText("h", "65535", helloKey, base64(Bytes(200, 1)))));
}

TEST(RelayEndpoint, RefusesAnythingElse) {
    const std::string rows[] = {
        "h 443 " + helloKey,
        endpointText("h", "443") + " extra",
        endpointText("h", "0"),
        endpointText("h", "-0"),
        endpointText("h", "65536"),
        endpointText("h", "44a"),
        endpointText("h", "-1"),
        endpointText("h", "+"),
        endpointText(std::string(254, 'h'), "1"),
        endpointText("h", "1", base64(Bytes(64, 4))),
        endpointText("h", "1", base64(Bytes(66, 4))),
        endpointText("h", "1", helloKey.substr(0, helloKey.size() - 1)),
        endpointText("h", "1", TessaloyCore::base64Url(Bytes(65, 0xFB))),
        endpointText("h", "1", helloKey, base64(Bytes(201, 1))),
        endpointText("h", "1", helloKey, "===="),
    };
    for (const std::string& text : rows) EXPECT_FALSE(RelayEndpoint::parse(text)) << text;
}

TEST(RelayEndpoint, ChoosesFromTheSettings) {
    const RelayEndpoint& hosted = RelayEndpoint::hosted();
    const std::string override = endpointText("relay.test", "8443");
    const auto overridden = RelayEndpoint::parse(override);
    EXPECT_EQ(RelayEndpoint::configured(false, override), std::nullopt);
    EXPECT_EQ(RelayEndpoint::configured(true, override), overridden);
    EXPECT_EQ(RelayEndpoint::configured(std::nullopt, override), overridden);
    EXPECT_EQ(RelayEndpoint::configured(std::nullopt, std::nullopt), hosted);
    EXPECT_EQ(RelayEndpoint::configured(true, "not an endpoint"), hosted);
}

} // namespace
