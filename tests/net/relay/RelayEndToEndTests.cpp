#include "core/ChannelRole.h"
#include "net/channel/LANTransport.h"
#include "net/channel/TlsPacketChannel.h"
#include "net/relay/ConnectRoute.h"
#include "net/relay/MeetingIdentity.h"
#include "net/relay/RelayAnswers.h"
#include "net/relay/RelayControlClient.h"
#include "tests/net/channel/ListenerHarness.h"
#include "tests/support/ManualQueueClock.h"
#include "tests/support/RelayedChannel.h"
#include "tests/support/TestRelay.h"

#include <gtest/gtest.h>

#include <future>

namespace {

using namespace TessaloyNet;
using namespace TessaloyConnectWire;
using asio::ip::tcp;
using Event = Testing::ListenerHarness::Event;

// A paired device with no direct route reaches the real listener through the relay alone, on both
// channels at once: each call is bridged from loopback and exempted from per-host admission.
TEST(RelayEndToEnd, APairedDeviceIsAdmittedThroughTheRelay) {
    LANHostListener::Limits limits;
    limits.admission.perHost = 1;
    Testing::ListenerHarness harness(limits);
    const DeviceIdentity phone(P256PrivateKey::generate());
    ASSERT_TRUE(harness.store->add(PairedDevice{phone.publicKey(), "Phone", std::chrono::system_clock::now(), {}}));
    const std::uint16_t port = harness.start(std::nullopt, false);
    ASSERT_NE(port, 0);

    Testing::TestRelay relay;
    const auto client = RelayControlClient::create(relay.endpoint());
    const auto answers = RelayAnswers::create();
    const std::shared_ptr<LANHostListener> listener = harness.listener;
    client->setOnIncoming([answers, endpoint = relay.endpoint(), port, listener](
                              TessaloyCore::Bytes session, TessaloyCore::Bytes, ConnectChannel channel) {
        (void)answers->answer(endpoint, session, channel, port, {},
                              [listener](const tcp::endpoint& source) { listener->exemptBridge(source); });
    });
    client->start({MeetingIdentity::meetingID(harness.mac, phone.publicKey())});
    ASSERT_TRUE(relay.waitUntil([](const auto& heard) { return !heard.controlMessages.empty(); }));

    const TlsParameters parameters = LANTransport::trustedClientParameters(phone, "Phone", harness.mac.publicKey());
    std::vector<std::shared_ptr<TlsPacketChannel>> channels;
    const RelayRoute route{relay.endpoint(), MeetingIdentity::meetingID(phone, harness.mac.publicKey())};
    for (const ConnectChannel channel : {ConnectChannel::media, ConnectChannel::control}) {
        const auto device = Testing::relayedChannel(route, channel, parameters);
        device->start();
        device->sendDirect(TessaloyCore::ChannelRole(channel == ConnectChannel::media
                                                         ? TessaloyCore::ChannelRole::media
                                                         : TessaloyCore::ChannelRole::control)
                               .packet());
        channels.push_back(device);
    }
    const auto admitted = harness.waitFor<Event::Authenticated>(2);
    ASSERT_TRUE(admitted);
    EXPECT_EQ(admitted->peerName, "Phone");
    EXPECT_TRUE(harness.all<Event::Rejected>().empty());
    for (const auto& channel : channels) channel->close();
    client->stop();
}

// A relay that takes the hello and never replies: the device's route gives up instead of waiting
// for ever.
TEST(RelayEndToEnd, ARouteThatHearsNoReplyTimesOut) {
    asio::io_context context;
    tcp::acceptor silent(context, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    RelayEndpoint relay = RelayEndpoint::hosted();
    relay.host = "127.0.0.1";
    relay.port = silent.local_endpoint().port();
    std::promise<std::error_code> outcome;
    const auto clock = std::make_shared<Testing::ManualQueueClock>();
    ConnectRoute::open(
        relay, TessaloyCore::Bytes(32, 7), ConnectChannel::media,
        [&outcome](std::error_code error, tcp::socket) { outcome.set_value(error); }, clock);
    const tcp::socket accepted = silent.accept();
    ASSERT_TRUE(clock->fire(10.0));
    auto result = outcome.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(result.get(), asio::error::timed_out);
}

} // namespace
