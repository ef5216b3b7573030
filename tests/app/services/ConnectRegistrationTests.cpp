#include "app/services/ConnectRegistration.h"

#include "net/relay/MeetingIdentity.h"

#include "tests/support/FakeInterfaces.h"
#include "tests/support/FakeNetworkChanges.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/MemoryUserDefaults.h"
#include "tests/support/TestRelay.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace Plovander;
using TessaloyConnectWire::ControlMessage;
using TessaloyCore::Bytes;

// The registration against a loopback relay, with the statuses it showed in order.
struct ConnectRegistrationTest : testing::Test {
    ConnectRegistrationTest() {
        defaults.setText("TessaloyRelay", relay.endpoint().text());
        registration = std::make_unique<ConnectRegistration>(ConnectRegistration::Collaborators{
            .actor = actor,
            .defaults = defaults,
            .interfaces = interfaces,
            .watchNetwork = [this](Platform::NetworkChanges::Handler onChange,
                                   std::string*) { return networkChanges.watch(std::move(onChange)); },
            .routerPort = routerPort,
            .identity = [this] { return &identity; },
            .pairedKeys = [this] { return std::vector<Bytes>{device.publicKey()}; },
            .listenerPort = [] { return std::uint16_t{55801}; },
            .bridgeSource = [] { return TessaloyNet::RelayAnswer::BridgeSource(); },
            .restartListener = [] {},
            .showStatus = [this](const std::string& text) { statuses.push_back(text); },
        });
    }
    bool shows(const std::string& status) {
        return actor.runUntil([&] { return !statuses.empty() && statuses.back() == status; });
    }
    static std::size_t registrations(const Testing::TestRelay::Heard& heard) {
        return static_cast<std::size_t>(
            std::count_if(heard.controlMessages.begin(), heard.controlMessages.end(),
                          [](const ControlMessage& message) { return message.as<ControlMessage::Register>(); }));
    }

    Testing::TestRelay relay;
    Testing::ManualMainActor actor;
    Testing::MemoryUserDefaults defaults;
    Testing::FakeInterfaces interfaces;
    Testing::FakeNetworkChanges networkChanges;
    Plovander::RouterPortStandIn routerPort;
    TessaloyNet::DeviceIdentity identity{TessaloyNet::P256PrivateKey::generate()};
    TessaloyNet::DeviceIdentity device{TessaloyNet::P256PrivateKey::generate()};
    std::vector<std::string> statuses;
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

TEST_F(ConnectRegistrationTest, PublishesTheGlobalAddressesOfTheWiredLinksAgainWhenTheNetworkChanges) {
    using Kind = Platform::Interfaces::Kind;
    const auto link = &Testing::FakeInterfaces::link;
    interfaces.setInterfaces(
        {link("eth0", Kind::wired, {"2a01:4f8::1"}, {}), link("wg0", Kind::tunnel, {"2a01:4f8::9"}, {})});
    registration->updateConnectRegistration();
    ASSERT_TRUE(relay.waitUntil([](const auto& heard) { return !published(heard).empty(); }));
    EXPECT_EQ(published(relay.heard()).front(), std::vector<std::string>{"[2a01:4f8::1]:55801"});

    interfaces.setInterfaces(
        {link("wlan0", Kind::wireless, {"3fff::7"}, {}), link("eth0", Kind::wired, {"2a01:4f8::1"}, {})});
    networkChanges.change();
    actor.runUntilIdle();
    const std::vector<std::string> expected{"[3fff::7]:55801", "[2a01:4f8::1]:55801"};
    EXPECT_TRUE(relay.waitUntil([&](const auto& heard) { return published(heard).back() == expected; }));

    // Switched off: the network is no longer watched.
    defaults.setBoolean("TessaloyConnect", false);
    registration->updateConnectRegistration();
    EXPECT_EQ(networkChanges.watching(), 0U);
}

} // namespace
