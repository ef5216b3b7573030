#include "tests/integration/MainRoadHarness.h"

#include "core/InputEvent.h"
#include "net/channel/DeviceIdentity.h"
#include "net/channel/PairedDeviceStore.h"
#include "net/relay/MeetingIdentity.h"
#include "net/relay/RelayAnswers.h"
#include "tests/platform/linux/X11InputWindow.h"
#include "tests/support/TestRelay.h"

#include <algorithm>
#include <filesystem>

// A paired device away from home, with no direct route to this computer, reaches it through the
// relay alone: it is let in, sees the screen and moves the pointer. The relay then restarts; this
// computer registers again after its back-off, and the device comes back through it.
namespace {

using namespace std::chrono_literals;
using Integration::DesktopSessionTest;
using TessaloyConnectWire::ControlMessage;
using Role = TessaloyCore::ChannelRole;

constexpr std::uint32_t green = 0x20c040;
constexpr std::uint32_t blue = 0x2030c0;
constexpr std::uint32_t red = 0xd02020;

std::size_t openDescriptors() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator()));
}

class RelayRoad : public DesktopSessionTest {
protected:
    RelayRoad() {
        environment.defaults.setBoolean("TessaloyConnect", true);
        environment.defaults.setText("TessaloyRelay", relay.endpoint().text());
        // Paired at home earlier: each side keeps the other's key.
        TessaloyNet::PairedDeviceStore(environment.keychain())
            .add({device.identity().publicKey(), device.name(), std::chrono::system_clock::now(), {}});
        const auto mac = TessaloyNet::DeviceIdentity::loadOrCreate(environment.keychain());
        device.setMacKey(mac.publicKey());
        meetingID = TessaloyNet::MeetingIdentity::meetingID(mac, device.identity().publicKey());
    }

    // How the device names this computer: the relay and the meeting identifier it derives.
    TessaloyNet::RelayRoute route() const {
        return {relay.endpoint(), TessaloyNet::MeetingIdentity::meetingID(device.identity(), *device.macKey())};
    }

    // How often the relay heard this computer register its meeting identifier.
    std::size_t registrations(const Testing::TestRelay::Heard& heard) const {
        return static_cast<std::size_t>(std::count_if(
            heard.controlMessages.begin(), heard.controlMessages.end(), [&](const ControlMessage& message) {
                const auto* registration = message.as<ControlMessage::Register>();
                return registration && registration->meetingIDs == std::vector<TessaloyCore::Bytes>{meetingID};
            }));
    }
    bool registered(std::size_t count) {
        return relay.waitUntil([&](const Testing::TestRelay::Heard& heard) { return registrations(heard) >= count; });
    }

    // Through the relay only, until the session streams.
    void comeInThroughTheRelay() {
        const auto direct = device.connect(route(), pumping());
        ASSERT_FALSE(direct) << "reached directly at " << *direct;
        ASSERT_TRUE(until([&] { return session->isSharing(); })) << probe->status();
        ASSERT_TRUE(pictureShowing(device, {0, 0, screenWidth, screenHeight}, green)) << "no picture came through";
    }

    Testing::TestRelay relay;
    Testing::DeviceSimulator device{"Ada's iPhone"};
    TessaloyCore::Bytes meetingID;
};

TEST_F(RelayRoad, APairedDeviceStreamsAndControlsThroughTheRelayAndComesBackAfterItRestarts) {
    desktop.showWindow({0, 0, screenWidth, screenHeight}, green);
    session->setListensAutomatically(true);
    ASSERT_TRUE(until([&] { return session->relayStatus() == "On"; })) << session->relayStatus();
    ASSERT_TRUE(registered(1));

    ASSERT_NO_FATAL_FAILURE(comeInThroughTheRelay());
    EXPECT_EQ(session->connectedPeerName(), "Ada's iPhone");
    EXPECT_EQ(relay.heard().splices, 2u);
    const auto tally = device.media().tally();
    EXPECT_EQ(tally.failures, 0u) << tally.lastError;

    // The device's input lands on the X server.
    Testing::X11InputWindow window(displayName);
    desktop.movePointer(100, 100);
    device.send(Role::control, TessaloyCore::InputEvent{TessaloyCore::InputEvent::PointerMove{50, 20}}.packet());
    EXPECT_TRUE(until([&] { return window.pointer() == std::pair{150, 120}; })) << "the pointer did not move";

    // The relay restarts: the session through it ends, and the registration comes back after the
    // first back-off of 2 seconds, driven on the main actor's clock.
    const std::size_t before = registrations(relay.heard());
    relay.stop();
    ASSERT_TRUE(until([&] { return session->relayStatus() == "Offline, retrying"; })) << session->relayStatus();
    ASSERT_TRUE(until([&] { return session->phaseDescription() == "Waiting for a paired device."; }))
        << session->phaseDescription();
    relay.start();
    environment.actor.advance(2s);
    ASSERT_TRUE(until([&] { return session->relayStatus() == "On"; })) << session->relayStatus();
    ASSERT_TRUE(registered(before + 1));
    ASSERT_NO_FATAL_FAILURE(comeInThroughTheRelay());
    EXPECT_EQ(relay.heard().splices, 4u);
}

// A relay gone wrong calls this computer hundreds of times a second and never answers the data
// connections opened for those calls: this computer holds eight of them and refuses the rest, with
// one line in its trace, while the paired device at home comes in and streams throughout.
TEST_F(RelayRoad, AFloodOfCallsHoldsEightAndLeavesTheDeviceAtHomeStreaming) {
    const Bounds screen{0, 0, screenWidth, screenHeight};
    desktop.showWindow(screen, green);
    session->setListensAutomatically(true);
    ASSERT_TRUE(until([&] { return session->relayStatus() == "On"; })) << session->relayStatus();
    ASSERT_TRUE(registered(1));
    ASSERT_TRUE(until([&] { return session->phaseDescription() == "Waiting for a paired device."; }))
        << session->phaseDescription();
    const std::size_t descriptors = openDescriptors();

    relay.flood(300);
    device.connect(endpoint());
    ASSERT_TRUE(until([&] { return session->isSharing(); })) << probe->status();
    ASSERT_TRUE(pictureShowing(device, screen, green));
    ASSERT_TRUE(until([&] { return relay.heard().floodCalls >= 600; }));
    ASSERT_TRUE(until([&] { return relay.heard().floodAnswers == TessaloyNet::RelayAnswers::maximumInFlight; }))
        << relay.heard().floodAnswers;
    // The device's two channels, and both ends of the eight calls.
    EXPECT_LE(openDescriptors(), descriptors + 4 + 16 + 8);
    EXPECT_EQ(traceCount("relay: refused a call: 8 calls are being answered already"), 1u);
    desktop.showWindow(screen, blue);
    EXPECT_TRUE(pictureShowing(device, screen, blue)) << "the picture stopped during the flood";

    relay.stopFlood();
    EXPECT_EQ(relay.heard().floodAnswers, TessaloyNet::RelayAnswers::maximumInFlight);
    desktop.showWindow(screen, red);
    EXPECT_TRUE(pictureShowing(device, screen, red)) << "the picture stopped after the flood";
    const std::size_t lines = traceLines().size();
    device.disconnect();
    ASSERT_TRUE(until([&] { return session->phaseDescription() == "Waiting for a paired device."; }))
        << session->phaseDescription();
    EXPECT_GT(traceLines().size(), lines) << "the trace stopped";
}

} // namespace
