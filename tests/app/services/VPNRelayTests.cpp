#include "net/reach/VPNRelay.h"

#include "app/services/LocalInterfaces.h"
#include "platform/Interfaces.h"
#include "tests/net/channel/ListenerHarness.h"
#include "tests/support/DeviceSimulator.h"
#include "tests/support/FakeInterfaces.h"
#include "tests/support/ManualQueueClock.h"
#include "tests/support/NamespacedTestRun.h"

#include <gtest/gtest.h>

#include <poll.h>

namespace {

using asio::ip::tcp;
using Platform::Interfaces;
using TessaloyNet::VPNRelay;
using Testing::NamespacedTestRun;
using Event = Testing::ListenerHarness::Event;

// Outside: runs the calling test again in a namespace of its own and reports how it went there.
void runInOwnNamespace() {
    const auto outcome = NamespacedTestRun::runCurrentTest();
    if (outcome.kind == NamespacedTestRun::Outcome::Kind::skipped) GTEST_SKIP() << outcome.output;
    if (outcome.kind == NamespacedTestRun::Outcome::Kind::failed) ADD_FAILURE() << outcome.output;
}

std::shared_ptr<VPNRelay> tunnelRelay(std::uint16_t target, const std::shared_ptr<Testing::ManualQueueClock>& clock) {
    static const auto interfaces = Interfaces::create();
    return VPNRelay::create(
        VPNRelay::defaultPort, target, [] { return Plovander::tunnelAddresses(*interfaces); }, clock);
}

tcp::endpoint at(const char* address, std::uint16_t port) { return {asio::ip::make_address(address), port}; }

TEST(VPNRelay, ListensOnTheAddressesOfTunnelsThatAreUpButNotOnLinkLocalOnes) {
    Testing::FakeInterfaces interfaces;
    const auto link = [](const char* name, Interfaces::Kind kind, bool up, std::vector<std::string> texts) {
        std::vector<Interfaces::Address> addresses;
        for (auto& text : texts) addresses.push_back({Interfaces::Address::Family::ipv4, std::move(text), ""});
        return Interfaces::Interface{name, kind, up, up, false, std::nullopt, std::move(addresses)};
    };
    interfaces.setInterfaces({
        link("wg0", Interfaces::Kind::tunnel, true, {"10.8.0.2", "fe80::1%wg0", "FE80::2", "fd7a::5%wg0"}),
        link("eth0", Interfaces::Kind::wired, true, {"192.168.1.20"}),
        link("tun1", Interfaces::Kind::tunnel, false, {"10.9.0.2"}),
        link("ppp0", Interfaces::Kind::tunnel, true, {"100.64.0.7"}),
    });
    const std::vector<std::string> expected = {"10.8.0.2", "fd7a::5", "100.64.0.7"};
    EXPECT_EQ(Plovander::tunnelAddresses(interfaces), expected);
}

// A paired device reaches the real listener through a tunnel that came up after the relay started,
// on both of the tunnel's addresses; the listener, which sees both channels come from loopback and
// would take one at a time from there, takes both.
TEST(VPNRelay, CarriesAPairedDeviceThroughATunnelFromTheNextRescanUntilTheTunnelGoes) {
    if (!NamespacedTestRun::isInside()) return runInOwnNamespace();
    TessaloyNet::LANHostListener::Limits limits;
    limits.admission.perHost = 1;
    Testing::ListenerHarness mac(limits);
    Testing::DeviceSimulator phone("Phone");
    mac.store->add({phone.identity().publicKey(), phone.name(), std::chrono::system_clock::now(), std::nullopt});
    phone.setMacKey(mac.mac.publicKey());
    const std::uint16_t port = mac.start(std::nullopt, false);
    const auto clock = std::make_shared<Testing::ManualQueueClock>();
    const auto relay = tunnelRelay(port, clock);
    relay->setBridgeSource([listener = mac.listener](const tcp::endpoint& source) { listener->exemptBridge(source); });
    relay->start();

    ASSERT_NO_THROW(NamespacedTestRun::addTunnel("vpn7", {"10.77.0.1/24", "fd77::1/64"}));
    EXPECT_TRUE(relay->listeningAddresses().empty());
    ASSERT_TRUE(clock->fire(15.0));
    EXPECT_EQ(relay->listeningAddresses(), (std::vector<std::string>{"10.77.0.1", "fd77::1"}));

    const auto parameters = phone.trustedParameters();
    const auto media =
        phone.open(at("10.77.0.1", VPNRelay::defaultPort), parameters, Testing::DeviceSimulator::Role::media);
    const auto control =
        phone.open(at("fd77::1", VPNRelay::defaultPort), parameters, Testing::DeviceSimulator::Role::control);
    const auto admitted = mac.waitFor<Event::Authenticated>(2);
    ASSERT_TRUE(admitted);
    EXPECT_EQ(admitted->peerName, "Phone");
    EXPECT_TRUE(mac.all<Event::Rejected>().empty());
    media->channel->close();
    control->channel->close();

    NamespacedTestRun::ip({"link", "delete", "vpn7"});
    ASSERT_TRUE(clock->fire(15.0));
    EXPECT_TRUE(relay->listeningAddresses().empty());
    relay->stop();
}

// The loopback end of relayed connections.
struct Target {
    tcp::acceptor acceptor{TessaloyBase::sharedIoContext(), at("::1", 0)};
    std::vector<tcp::socket> arrived;

    // Whether the relay carried `client` here (true) or closed it (false); nothing when neither came.
    std::optional<bool> carried(const std::unique_ptr<tcp::socket>& client) {
        std::array<pollfd, 2> ready{{{acceptor.native_handle(), POLLIN, 0}, {client->native_handle(), POLLIN, 0}}};
        if (::poll(ready.data(), ready.size(), 10'000) <= 0) return std::nullopt;
        if (ready[1].revents) return false;
        arrived.push_back(acceptor.accept());
        return true;
    }
};

TEST(VPNRelay, CarriesEightConnectionsAtOnceAndTwoFromOnePeer) {
    if (!NamespacedTestRun::isInside()) return runInOwnNamespace();
    Target target;
    const auto clock = std::make_shared<Testing::ManualQueueClock>();
    const auto relay = tunnelRelay(target.acceptor.local_endpoint().port(), clock);
    ASSERT_NO_THROW(NamespacedTestRun::addTunnel(
        "vpn7", {"10.77.0.1/24", "10.77.0.2/24", "10.77.0.3/24", "10.77.0.4/24", "10.77.0.5/24", "10.77.0.6/24"}));
    relay->start();
    ASSERT_EQ(relay->listeningAddresses().size(), 6U);
    std::vector<std::unique_ptr<tcp::socket>> clients;
    const auto carried = [&](int peer) {
        clients.push_back(Testing::DeviceSimulator::stallHandshake(
            at("10.77.0.1", VPNRelay::defaultPort), asio::ip::make_address("10.77.0." + std::to_string(peer))));
        return target.carried(clients.back());
    };
    for (const int peer : {2, 2}) EXPECT_EQ(carried(peer), true);
    EXPECT_EQ(carried(2), false) << "a third from one peer";
    for (const int peer : {3, 3, 4, 4, 5, 5}) EXPECT_EQ(carried(peer), true) << peer;
    EXPECT_EQ(carried(6), false) << "a ninth";

    // Once a peer's connections end, that peer is carried again.
    clients[0]->close();
    clients[1]->close();
    bool again = false;
    for (int attempt = 0; attempt < 50 && !again; ++attempt) again = carried(2) == true;
    EXPECT_TRUE(again);
    relay->stop();
}

} // namespace
