#include "app/services/ConnectRegistration.h"

#include "app/services/RouterPortMapping.h"
#include "net/relay/MeetingIdentity.h"

#include "app/trace/TraceLog.h"
#include "tests/net/channel/ListenerHarness.h"
#include "tests/net/portmap/GatedRouter.h"
#include "tests/support/DeviceSimulator.h"
#include "tests/support/FakeInterfaces.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/ManualQueueClock.h"
#include "tests/support/MemoryUserDefaults.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestRelay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

namespace {

using namespace Plovander;
using TessaloyConnectWire::ControlMessage;
using TessaloyCore::Bytes;

// The registration against a loopback relay, with the statuses it showed in order, and a router port
// whose mappers ask a router the test answers, on a clock that stands still.
struct ConnectRegistrationTest : testing::Test {
    ConnectRegistrationTest() {
        defaults.setText("TessaloyRelay", relay.endpoint().text());
        registration = std::make_unique<ConnectRegistration>(ConnectRegistration::Collaborators{
            .actor = actor,
            .defaults = defaults,
            .interfaces = interfaces,
            .routerPort = routerPort,
            .opensRouterPort = [this] { return opensRouterPort; },
            .identity = [this] { return &identity; },
            .pairedKeys = [this] { return std::vector<Bytes>{device.publicKey()}; },
            .listenerPort = [this] { return listenerPort; },
            .listenerAccepts = [this] { return listenerPort != 0; },
            .bridgeSource = [] { return TessaloyNet::RelayAnswer::BridgeSource(); },
            .restartListener = [this] { ++restarts; },
            .showStatus = [this](const std::string& text) { statuses.push_back(text); },
            .showDirect = [this](std::optional<std::string> text) { directs.push_back(std::move(text)); },
        });
    }
    ~ConnectRegistrationTest() override {
        registration.reset();
        router->letReleasesGo();
        TraceLog::configure({});
    }
    bool shows(const std::string& status) {
        return actor.runUntil([&] { return !statuses.empty() && statuses.back() == status; });
    }
    bool showsDirect(const std::string& summary) {
        return actor.runUntil([&] { return !directs.empty() && directs.back() == summary; });
    }
    static std::size_t registrations(const Testing::TestRelay::Heard& heard) {
        return static_cast<std::size_t>(
            std::count_if(heard.controlMessages.begin(), heard.controlMessages.end(),
                          [](const ControlMessage& message) { return message.as<ControlMessage::Register>(); }));
    }
    std::string trace() const {
        TraceLog::flush();
        std::ifstream file(folder / "trace.log");
        return std::string(std::istreambuf_iterator<char>(file), {});
    }
    // Registered while no listener takes connections, the relay calls once more than calls may wait.
    void holdAsManyCallsAsMayWait() {
        TraceLog::configure({.enabled = true, .file = folder / "trace.log", .toStandardError = false});
        listenerPort = 0;
        registration->updateConnectRegistration();
        ASSERT_TRUE(shows("On"));
        // "On" comes when the control connection is up; the relay knows the Mac once it has read the list.
        ASSERT_TRUE(relay.waitUntil([](const auto& heard) { return registrations(heard) == 1; }));
        const ControlMessage call(ControlMessage::Incoming{Bytes(16, 1), Bytes(32, 2)});
        for (std::size_t i = 0; i <= ConnectRegistration::maximumHeldCalls; ++i) relay.sendOnControl(call.encoded());
        ASSERT_TRUE(actor.runUntil([&] { return trace().find("too many calls wait") != std::string::npos; }));
    }

    Testing::TemporaryDirectory folder;
    Testing::TestRelay relay;
    Testing::ManualMainActor actor;
    Testing::MemoryUserDefaults defaults;
    Testing::FakeInterfaces interfaces;
    std::shared_ptr<Testing::GatedRouter> router = std::make_shared<Testing::GatedRouter>();
    std::shared_ptr<Testing::ManualQueueClock> clock = std::make_shared<Testing::ManualQueueClock>();
    int mappersMade = 0;
    RouterPortMapping routerPort{actor, [this](std::uint16_t port) {
                                     ++mappersMade;
                                     return TessaloyNet::PortMapper::create(port, router, clock);
                                 }};
    bool opensRouterPort = false;
    // 0 while no listener takes connections.
    std::uint16_t listenerPort = 55801;
    int restarts = 0;
    TessaloyNet::DeviceIdentity identity{TessaloyNet::P256PrivateKey::generate()};
    TessaloyNet::DeviceIdentity device{TessaloyNet::P256PrivateKey::generate()};
    std::vector<std::string> statuses;
    std::vector<std::optional<std::string>> directs;
    std::unique_ptr<ConnectRegistration> registration;
};

TEST_F(ConnectRegistrationTest, RegistersThePairedDevicesAndShowsTheRelaysState) {
    registration->updateConnectRegistration();
    ASSERT_TRUE(shows("On"));
    EXPECT_EQ(statuses.front(), "Connecting…");
    ASSERT_TRUE(relay.waitUntil([](const auto& heard) { return !heard.controlMessages.empty(); }));
    const auto heard = relay.heard();
    const auto* registered = heard.controlMessages.front().as<ControlMessage::Register>();
    ASSERT_TRUE(registered);
    EXPECT_EQ(registered->meetingIDs,
              std::vector<Bytes>{TessaloyNet::MeetingIdentity::meetingID(identity, device.publicKey())});

    // The relay restarts: offline, then on again once the first back-off has passed.
    relay.stop();
    ASSERT_TRUE(shows("Offline, retrying"));
    relay.start();
    actor.advance(std::chrono::seconds(2));
    ASSERT_TRUE(shows("On"));
    registration->updateConnectRegistration();
    EXPECT_TRUE(relay.waitUntil([](const auto& seen) { return registrations(seen) == 3; }));

    defaults.setBoolean("TessaloyConnect", false);
    registration->updateConnectRegistration();
    EXPECT_EQ(statuses.back(), "");
}

// The candidates the relay has heard, in order.
std::vector<std::vector<std::string>> published(const Testing::TestRelay::Heard& heard) {
    std::vector<std::vector<std::string>> lists;
    for (const ControlMessage& message : heard.controlMessages) {
        if (const auto* candidates = message.as<ControlMessage::Candidates>()) lists.push_back(candidates->candidates);
    }
    return lists;
}

// The client may connect before the first list reaches it, and then publishes an empty one.
bool lastPublishedIs(const Testing::TestRelay::Heard& heard, const std::vector<std::string>& candidates) {
    const auto lists = published(heard);
    return !lists.empty() && lists.back() == candidates;
}

TEST_F(ConnectRegistrationTest, PublishesTheGlobalAddressesOfTheWiredLinksAgainWhenTheNetworkChanges) {
    using Kind = Platform::Interfaces::Kind;
    const auto link = &Testing::FakeInterfaces::link;
    interfaces.setInterfaces(
        {link("eth0", Kind::wired, {"2a01:4f8::1"}, {}), link("wg0", Kind::tunnel, {"2a01:4f8::9"}, {})});
    registration->updateConnectRegistration();
    EXPECT_TRUE(relay.waitUntil([](const auto& heard) { return lastPublishedIs(heard, {"[2a01:4f8::1]:55801"}); }));

    interfaces.setInterfaces(
        {link("wlan0", Kind::wireless, {"3fff::7"}, {}), link("eth0", Kind::wired, {"2a01:4f8::1"}, {})});
    registration->networkChanged();
    const std::vector<std::string> expected{"[3fff::7]:55801", "[2a01:4f8::1]:55801"};
    EXPECT_TRUE(relay.waitUntil([&](const auto& heard) { return lastPublishedIs(heard, expected); }));
}

using Log = std::vector<std::string>;

TEST_F(ConnectRegistrationTest, ForwardsTheRouterPortWhileLetAndPublishesItFirst) {
    interfaces.setInterfaces(
        {Testing::FakeInterfaces::link("eth0", Platform::Interfaces::Kind::wired, {"2a01:4f8::1"})});
    auto granted = [](std::uint16_t port) {
        const TessaloyNet::PortLease lease{TessaloyNet::PortLease::Upnp{"http://192.168.1.1/ctl", "WANIPConnection:2"},
                                           port};
        return TessaloyNet::PortAttemptResult{TessaloyNet::PortMapping{"203.0.113.7", port, "UPnP"}, lease};
    };
    opensRouterPort = true;
    registration->updateConnectRegistration();
    ASSERT_TRUE(showsDirect("asking the router… · IPv6"));
    router->answer(granted(55801));
    ASSERT_TRUE(showsDirect("router port open (UPnP) · IPv6"));
    EXPECT_TRUE(relay.waitUntil([](const auto& heard) {
        return lastPublishedIs(heard, {"203.0.113.7:55801", "[2a01:4f8::1]:55801"});
    }));

    // A change of the network asks the router again; the port it now grants replaces the old one.
    registration->networkChanged();
    EXPECT_EQ(router->logOf(2), (Log{"attempt", "attempt"}));
    router->answer(granted(40000));
    EXPECT_TRUE(actor.runUntil([&] { return routerPort.state().candidate == "203.0.113.7:40000"; }));
    EXPECT_TRUE(relay.waitUntil([](const auto& heard) {
        return lastPublishedIs(heard, {"203.0.113.7:40000", "[2a01:4f8::1]:55801"});
    }));
    EXPECT_EQ(router->logOf(4), (Log{"attempt", "attempt", "release 55801", "released 55801"}));

    // Switched off: the lease goes and so does its candidate.
    opensRouterPort = false;
    registration->updateConnectRegistration();
    EXPECT_EQ(directs.back(), "IPv6");
    EXPECT_EQ(router->logOf(6).back(), "released 40000");
    EXPECT_TRUE(relay.waitUntil([](const auto& heard) { return lastPublishedIs(heard, {"[2a01:4f8::1]:55801"}); }));

    // On again: the same mapper asks again.
    opensRouterPort = true;
    registration->updateConnectRegistration();
    EXPECT_EQ(router->logOf(7).back(), "attempt");
    EXPECT_EQ(mappersMade, 1);
    router->answer(TessaloyNet::PortAttemptResult::failure(TessaloyNet::PortMappingReason::noAutomaticForwarding));
    ASSERT_TRUE(showsDirect("The router doesn't offer automatic port forwarding. · IPv6"));

    // Without the relay the router is not asked, and nothing direct is shown.
    defaults.setBoolean("TessaloyConnect", false);
    registration->updateConnectRegistration();
    EXPECT_EQ(directs.back(), std::nullopt);
    EXPECT_EQ(routerPort.state(), RouterPort::State{});
}

// A paired device calls through the relay before this computer's listener takes connections (as
// just after start): the call waits for the listener instead of meeting a closed port, and the device
// gets in at its first call, even where calls that came earlier gave up waiting.
TEST_F(ConnectRegistrationTest, ACallBeforeTheListenerListensWaitsForItAndTheDeviceGetsIn) {
    Testing::ListenerHarness mac;
    mac.mac = identity;
    Testing::DeviceSimulator phone("Ada's iPhone");
    device = phone.identity();
    mac.store->add({device.publicKey(), phone.name(), std::chrono::system_clock::now(), std::nullopt});
    phone.setMacKey(identity.publicKey());
    ASSERT_NO_FATAL_FAILURE(holdAsManyCallsAsMayWait());
    actor.advance(ConnectRegistration::heldCallPatience);
    const std::size_t earlier = trace().size();

    phone.connect({relay.endpoint(), TessaloyNet::MeetingIdentity::meetingID(device, identity.publicKey())}, [&] {
        actor.runUntilIdle();
        if (listenerPort == 0 && trace().find("relay: a call waits for the listener", earlier) != std::string::npos) {
            listenerPort = mac.start(std::nullopt);
            registration->listenerListens();
        }
    });
    EXPECT_TRUE(mac.waitFor<Testing::ListenerHarness::Event::Authenticated>(2));
    EXPECT_EQ(restarts, 0);
}

// Calls that waited for the listener have only the rest of their patience for the relay to reply: a
// relay silent on them keeps their places no longer than the device waits.
TEST_F(ConnectRegistrationTest, CallsThatWaitedForTheListenerGiveUpWhenTheirPatienceRunsOut) {
    ASSERT_NO_FATAL_FAILURE(holdAsManyCallsAsMayWait());
    actor.advance(ConnectRegistration::heldCallPatience - std::chrono::seconds(1));
    relay.holdReplies(true);
    registration->listenerListens();
    ASSERT_TRUE(relay.waitUntil(
        [](const auto& heard) { return heard.hellos.size() == ConnectRegistration::maximumHeldCalls; }));
    actor.advance(std::chrono::seconds(1));
    EXPECT_TRUE(actor.runUntil([&] { return trace().find("not answered: Timer expired") != std::string::npos; }));
}

} // namespace
