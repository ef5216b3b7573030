#include <gtest/gtest.h>

#include "core/SessionMessage.h"
#include "tests/support/FakeInterfaces.h"
#include "tests/support/TestRelay.h"
#include "tests/support/host/DesktopHost.h"

#include <algorithm>

// A paired device that streams learns how else to reach this computer, in order: its overlay-VPN
// addresses, the relay, the links to wake, then the host information.
namespace {

using Testing::DesktopHost;
using Testing::DeviceSimulator;
using Message = TessaloyCore::SessionMessage;
using Interfaces = Platform::Interfaces;

// The session messages the device received on its control channel, in order.
std::vector<Message> sessionMessages(DeviceSimulator& device) {
    std::vector<Message> messages;
    auto& log = device.channel(TessaloyCore::ChannelRole::control)->log;
    std::lock_guard guard(log.lock);
    for (const auto& packet : log.packets) {
        if (packet.kind() == TessaloyCore::WirePacket::Kind::session) messages.push_back(Message::decode(packet));
    }
    return messages;
}

TEST(ReachabilityDetails, TheStreamingDeviceLearnsAddressesRelayAndWakeTargetsBeforeTheHostInformation) {
    Testing::TestRelay relay;
    DeviceSimulator device{"Ada's iPhone"};
    DesktopHost host(DesktopHost::Options{});
    host.environment.defaults.setBoolean("TessaloyConnect", true);
    host.environment.defaults.setText("TessaloyRelay", relay.endpoint().text());
    std::vector<Interfaces::Interface> links{
        Testing::FakeInterfaces::link("tailscale0", Interfaces::Kind::tunnel, {"fd7a:115c:a1e0::1", "100.64.0.1"})};
    for (std::uint8_t index = 1; index <= 6; ++index) {
        links.push_back(Testing::FakeInterfaces::link("eth" + std::to_string(index), Interfaces::Kind::wired,
                                                      {"192.168.7." + std::to_string(index)},
                                                      Interfaces::HardwareAddress{0x02, 0, 0, 0, 0, index}));
    }
    host.environment.network.setInterfaces(links);
    if (auto problem = host.start()) FAIL() << *problem;
    if (auto problem = host.pairAndApprove(device)) FAIL() << *problem;

    const auto isHostInfo = [](const Message& message) { return message.is<TessaloyCore::HostInfo>(); };
    ASSERT_TRUE(host.until([&] {
        const auto messages = sessionMessages(device);
        return std::any_of(messages.begin(), messages.end(), isHostInfo);
    }));
    const auto messages = sessionMessages(device);
    const auto first = std::find_if(messages.begin(), messages.end(),
                                    [](const Message& message) { return message.is<Message::RemoteAddresses>(); });
    ASSERT_GE(std::distance(first, messages.end()), 4);
    EXPECT_EQ(first[0], (Message{Message::RemoteAddresses{{"100.64.0.1:55802", "[fd7a:115c:a1e0::1]:55802"}}}));
    EXPECT_EQ(first[1], Message{Message::Relay{relay.endpoint().text()}});
    const auto* wake = std::get_if<Message::WakeInfo>(&first[2].value);
    ASSERT_TRUE(wake);
    ASSERT_EQ(wake->list.size(), 4U);
    EXPECT_EQ(wake->list.front().ipv4Address, "192.168.7.1");
    EXPECT_EQ(wake->list.back().hardwareAddress, (TessaloyCore::Bytes{0x02, 0, 0, 0, 0, 4}));
    EXPECT_TRUE(isHostInfo(first[3]));
    host.finish();
}

} // namespace
