#include "core/Encoding.h"
#include "net/channel/LANHostListener.h"
#include "net/channel/LANTransport.h"
#include "platform/linux/AvahiServiceAdvertiser.h"
#include "tests/net/channel/ListenerHarness.h"
#include "tests/support/AvahiDaemon.h"

#include <gtest/gtest.h>

namespace {

using TessaloyNet::PairingCode;
using TessaloyNet::PairingOffer;
using Testing::AvahiDaemon;
using Testing::ListenerHarness;
using Event = TessaloyNet::LANHostListener::Event;
using Found = std::vector<AvahiDaemon::Service>;

const AvahiDaemon::Service* named(const Found& found, const std::string& name) {
    for (const auto& service : found) {
        if (service.name == name) return &service;
    }
    return nullptr;
}

// The real avahi-daemon, private to this test, and the real advertiser.
TEST(LANHostListenerDiscovery, BrowsersFindTheServiceWithItsTxtRecordUntilAdvertisingStops) {
    AvahiDaemon daemon;
    if (!daemon.available()) GTEST_SKIP() << daemon.unavailableReason();
    ListenerHarness mac({}, Platform::Linux::AvahiServiceAdvertiser::create, TessaloyCore::MacKind::pro);
    const PairingOffer offer(*PairingCode::parse("ABCD-EFGH"), std::chrono::system_clock::now());
    const std::uint16_t port = mac.start(offer);
    ASSERT_NE(port, 0);

    const Found found = daemon.browseUntil([](const Found& f) { return named(f, "Studio Mac") != nullptr; });
    const auto* service = named(found, "Studio Mac");
    ASSERT_NE(service, nullptr) << daemon.logText();
    EXPECT_EQ(service->type, "_tessaloy._tcp");
    EXPECT_EQ(service->port, port);
    EXPECT_EQ(service->txtValue("v"), "1");
    EXPECT_EQ(service->txtValue("s"), TessaloyCore::base64Url(offer.salt));
    EXPECT_EQ(service->txtValue("k"), mac.mac.keyIdentifier());
    EXPECT_EQ(service->txtValue("k")->size(), 16u);
    EXPECT_EQ(service->txtValue("m"), "pro");
    EXPECT_TRUE(mac.all<Event::DiscoveryUnavailable>().empty());

    mac.listener->stopAdvertising(std::chrono::seconds(30));
    const Found after = daemon.browseUntil([](const Found& f) { return named(f, "Studio Mac") == nullptr; });
    EXPECT_EQ(named(after, "Studio Mac"), nullptr);
}

TEST(LANHostListenerDiscovery, WithoutADaemonItListensAndSaysSoOnce) {
    AvahiDaemon bus(AvahiDaemon::Start::busOnly);
    if (!bus.available()) GTEST_SKIP() << bus.unavailableReason();
    ListenerHarness mac({}, Platform::Linux::AvahiServiceAdvertiser::create);
    ASSERT_NE(mac.start(std::nullopt), 0);
    const auto unavailable = mac.waitFor<Event::DiscoveryUnavailable>();
    ASSERT_TRUE(unavailable);
    EXPECT_FALSE(unavailable->reason.empty());
    EXPECT_EQ(mac.all<Event::DiscoveryUnavailable>().size(), 1u);
}

} // namespace
