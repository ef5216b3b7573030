#include "net/channel/LANHostListener.h"

#include "base/OpenFiles.h"
#include "core/Encoding.h"
#include "net/channel/LANTransport.h"
#include "net/channel/PairingLink.h"
#include "net/channel/TlsByteStream.h"
#include "tests/net/channel/IdleFlood.h"
#include "tests/net/channel/ListenerHarness.h"
#include "tests/support/DescriptorShortage.h"
#include "tests/support/DeviceSimulator.h"
#include "tests/support/LoopbackRelay.h"

#include <gtest/gtest.h>

#include <asio/connect.hpp>
#include <asio/write.hpp>

namespace {

using namespace std::chrono_literals;
using TessaloyCore::Bytes;
using TessaloyCore::ChannelRole;
using TessaloyCore::WirePacket;
using TessaloyNet::PairingCode;
using TessaloyNet::PairingExchange;
using TessaloyNet::PairingOffer;
using TessaloyNet::RefusalReason;
using Testing::DeviceSimulator;
using Testing::ListenerHarness;
using Event = TessaloyNet::LANHostListener::Event;
using Misbehaviour = DeviceSimulator::Misbehaviour;

PairingOffer offer(const char* code = "ABCD-EFGH") {
    return PairingOffer(*PairingCode::parse(code), std::chrono::system_clock::now());
}

asio::ip::tcp::endpoint at(const char* address, std::uint16_t port) { return {asio::ip::make_address(address), port}; }

WirePacket session(std::uint8_t tag) { return WirePacket(WirePacket::Kind::session, Bytes{tag}); }

// The channels may authenticate in either order: each runs its handshake on its own queue.
std::optional<Event::Authenticated> withRole(ListenerHarness& mac, ChannelRole role) {
    for (const auto& event : mac.all<Event::Authenticated>()) {
        if (event.role == role) return event;
    }
    return std::nullopt;
}

// Pairs `device` through a pairing listener: the harness answers the device's exchange as the
// controller would after approval. Returns the authenticated media channel's peer name.
void pairDevice(ListenerHarness& mac, DeviceSimulator& device, const char* address) {
    const PairingOffer pairing = offer();
    const std::uint16_t port = mac.start(pairing);
    ASSERT_NE(port, 0);
    ASSERT_TRUE(device.pair(at(address, port), TessaloyNet::PairingLink::url(pairing.code, pairing.salt)));
    ASSERT_TRUE(mac.waitFor<Event::Authenticated>(2));
    const auto media = withRole(mac, ChannelRole::media);
    ASSERT_TRUE(media && withRole(mac, ChannelRole::control));
    EXPECT_EQ(media->peerName, device.name());
    EXPECT_GE(mac.all<Event::Attempting>().size(), 2u);

    // The device's long-term key comes in its pairing exchange on the media channel.
    const auto exchange = mac.waitFor<Event::Received>();
    ASSERT_TRUE(exchange);
    EXPECT_EQ(exchange->role, ChannelRole::media);
    EXPECT_EQ(PairingExchange::decode(exchange->packet).publicKey(), device.identity().publicKey());
    mac.store->add({device.identity().publicKey(), device.name(), std::chrono::system_clock::now(), std::nullopt});
    media->channel->sendDirect(PairingExchange(mac.mac.publicKey(), "Studio Mac").packet());
    const auto answer = device.awaitMacExchange();
    ASSERT_TRUE(answer);
    EXPECT_EQ(device.macKey(), mac.mac.publicKey());
}

class LANHostListenerPairing : public ::testing::TestWithParam<const char*> {};

TEST_P(LANHostListenerPairing, PairsWithTheRightCodeThenAdmitsTheDeviceInTrustedMode) {
    DeviceSimulator device("Anna's phone");
    {
        ListenerHarness pairing;
        pairDevice(pairing, device, GetParam());
        device.disconnect();
        ASSERT_TRUE(pairing.waitFor<Event::PeerDisconnected>(2));
        EXPECT_EQ(pairing.all<Event::PeerDisconnected>()[0].error, std::nullopt);
    }

    ListenerHarness trusted;
    trusted.store->add({device.identity().publicKey(), device.name(), std::chrono::system_clock::now(), std::nullopt});
    trusted.mac = TessaloyNet::DeviceIdentity(TessaloyNet::P256PrivateKey::generate());
    device.setMacKey(trusted.mac.publicKey());
    const std::uint16_t port = trusted.start(std::nullopt);
    device.connect(at(GetParam(), port));
    ASSERT_TRUE(trusted.waitFor<Event::Authenticated>(2));
    const auto media = withRole(trusted, ChannelRole::media);
    const auto control = withRole(trusted, ChannelRole::control);
    ASSERT_TRUE(media && control);
    EXPECT_EQ(media->channel->peerPublicKey(), device.identity().publicKey());
    EXPECT_TRUE(trusted.all<Event::Attempting>().empty()) << "attempts are counted in pairing mode only";

    // Packets flow both ways on both channels, each tagged with its channel's role.
    device.send(ChannelRole::control, session(3));
    device.send(ChannelRole::media, WirePacket(WirePacket::Kind::transfer, Bytes(1000, 1)));
    ASSERT_TRUE(trusted.waitFor<Event::Received>(2));
    const auto received = trusted.all<Event::Received>();
    const auto onControl = std::find_if(received.begin(), received.end(), [](const Event::Received& r) {
        return r.role == ChannelRole(ChannelRole::control);
    });
    ASSERT_NE(onControl, received.end());
    EXPECT_EQ(onControl->packet, session(3));
    control->channel->sendDirect(session(15));
    media->channel->sendDirect(WirePacket(WirePacket::Kind::videoFrame, Bytes(100'000, 9)));
    EXPECT_EQ(device.received(ChannelRole::control, 1).back(), session(15));
    EXPECT_EQ(device.received(ChannelRole::media, 1).back().payload().size(), 100'000u);
}

INSTANTIATE_TEST_SUITE_P(Loopback, LANHostListenerPairing, ::testing::Values("127.0.0.1", "::1"));

TEST(LANHostListener, ReportsEveryWrongCodeAttemptAndLeavesCountingToTheCaller) {
    ListenerHarness mac;
    const PairingOffer pairing = offer("ABCD-EFGH");
    const std::uint16_t port = mac.start(pairing);
    DeviceSimulator device;
    const auto wrong = device.pairingParameters(*PairingCode::parse("ABCD-EFGJ"), pairing.salt);
    for (int attempt = 1; attempt <= 11; ++attempt) {
        device.open(at("127.0.0.1", port), wrong, ChannelRole::media)->waitForClose();
        ASSERT_TRUE(mac.waitFor<Event::Rejected>(attempt)) << attempt;
    }
    EXPECT_EQ(mac.all<Event::Attempting>().size(), 11u);
    for (const auto& rejected : mac.all<Event::Rejected>()) {
        EXPECT_EQ(rejected.reason, std::string(RefusalReason::pairingCodeMismatch));
    }
    // The listener itself refuses nothing for the count: the right code still gets through.
    device.pair(at("127.0.0.1", port), pairing.code, pairing.salt);
    EXPECT_TRUE(mac.waitFor<Event::Authenticated>(2));
    EXPECT_EQ(mac.all<Event::Attempting>().size(), 13u);
}

class LANHostListenerRefusals : public ::testing::Test {
protected:
    void SetUp() override {
        mac.emplace();
        // Paired before: the listener's store reads it at the first handshake.
        TessaloyNet::PairedDeviceStore(mac->keychain)
            .add({device.identity().publicKey(), device.name(), std::chrono::system_clock::now(), std::nullopt});
        device.setMacKey(mac->mac.publicKey());
        port = mac->start(std::nullopt);
        ASSERT_NE(port, 0);
    }
    // The listener still admits the paired device afterwards.
    void expectStillServing() {
        const std::size_t before = mac->all<Event::Authenticated>().size();
        device.connect(at("::1", port));
        EXPECT_TRUE(mac->waitFor<Event::Authenticated>(before + 2));
    }
    std::string nextRejection() {
        const auto rejected = mac->waitFor<Event::Rejected>(++rejections);
        return rejected ? rejected->reason : "(none)";
    }

    DeviceSimulator device{"Paired phone"};
    std::optional<ListenerHarness> mac;
    std::uint16_t port = 0;
    std::size_t rejections = 0;
};

TEST_F(LANHostListenerRefusals, AClientWithoutCertificateIsRefused) {
    device.misbehave(at("127.0.0.1", port), Misbehaviour::noCertificate, device.trustedParameters());
    EXPECT_EQ(nextRejection(), RefusalReason::certificateRequired);
    expectStillServing();
}

TEST_F(LANHostListenerRefusals, AnUntrustedKeyIsRefusedAsABadCertificate) {
    DeviceSimulator stranger("Stranger");
    stranger.setMacKey(mac->mac.publicKey());
    stranger.connect(at("127.0.0.1", port));
    EXPECT_EQ(nextRejection(), RefusalReason::notPaired);
    EXPECT_TRUE(stranger.channel(ChannelRole::media)->waitForClose().has_value());
    expectStillServing();
}

TEST_F(LANHostListenerRefusals, AnUnreadableTrustStoreIsReportedAsSuch) {
    mac->keychain.failReads = true;
    device.connect(at("127.0.0.1", port));
    // Both channels: the Mac judges the control channel's key after the device sees it ready.
    EXPECT_EQ(nextRejection(), "The paired devices could not be read: refused for the test");
    EXPECT_EQ(nextRejection(), "The paired devices could not be read: refused for the test");
    mac->keychain.failReads = false;
    expectStillServing();
}

TEST_F(LANHostListenerRefusals, ASlowHandshakeIsRefusedAtTheDeadline) {
    const auto stalled = DeviceSimulator::stallHandshake(at("127.0.0.1", port));
    // TLS done, but no role: the handshake deadline (5 s) covers both. Once it has spoken, the
    // one that says nothing, accepted before it, waits on the hello deadline (1 s).
    auto silent = device.open(at("127.0.0.1", port), device.trustedParameters(), std::nullopt);
    ASSERT_TRUE(mac->clock->pending(5.0));
    mac->clock->advance(1s);
    EXPECT_EQ(nextRejection(), RefusalReason::handshakeTooSlow);
    EXPECT_EQ(mac->listener->pendingHandshakes(), 1);
    mac->clock->advance(3999ms);
    EXPECT_EQ(mac->listener->pendingHandshakes(), 1);
    mac->clock->advance(1ms);
    EXPECT_EQ(nextRejection(), RefusalReason::handshakeTooSlow);
    EXPECT_EQ(mac->listener->pendingHandshakes(), 0);
    expectStillServing();
}

TEST_F(LANHostListenerRefusals, AFirstPacketThatIsNotTheRoleIsRefused) {
    device.misbehave(at("127.0.0.1", port), Misbehaviour::nonRoleFirstPacket, device.trustedParameters());
    EXPECT_EQ(nextRejection(), RefusalReason::firstPacketNotRole);
    expectStillServing();
}

TEST_F(LANHostListenerRefusals, BadHeadersAreRefusedBeforeTheirPayload) {
    device.misbehave(at("127.0.0.1", port), Misbehaviour::badMagic, device.trustedParameters());
    EXPECT_EQ(nextRejection(), std::string(RefusalReason::badHeaderPrefix) + "badMagic");
    device.misbehave(at("127.0.0.1", port), Misbehaviour::oversizedLength, device.trustedParameters());
    EXPECT_EQ(nextRejection(), std::string(RefusalReason::badHeaderPrefix) + "payloadTooLarge");
    expectStillServing();
}

TEST_F(LANHostListenerRefusals, AFloodBeyondTheReceiveBudgetEndsThatChannel) {
    // The budget is full until the first packet: what gets through is at most its burst (720, the
    // role included) plus 240 a second of the time the flood takes. The flood is more than could
    // refill within any run of this test (ctest ends it at 60 s).
    const auto start = std::chrono::steady_clock::now();
    auto flooding = device.flood(at("127.0.0.1", port), device.trustedParameters(), ChannelRole::control, 240 * 60);
    ASSERT_TRUE(mac->waitFor<Event::Authenticated>());
    const auto ended = mac->waitFor<Event::PeerDisconnected>();
    ASSERT_TRUE(ended);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(ended->error, std::string(RefusalReason::receiveBudgetExceeded));
    EXPECT_LE(static_cast<double>(mac->all<Event::Received>().size()), 719 + 240 * seconds);
    expectStillServing();
}

// With few descriptors left, connections are turned away before they eat into the program's
// reserve; once the flood has gone, the device gets in.
TEST_F(LANHostListenerRefusals, AFloodLeavesTheProgramItsReserveOfDescriptors) {
    // Opened before the shortage: only the listener's ends count against it.
    std::vector<asio::ip::tcp::socket> flood;
    for (int i = 0; i < 6; ++i) flood.emplace_back(TessaloyBase::sharedIoContext(), asio::ip::tcp::v6());
    const Testing::DescriptorShortage shortage(TessaloyBase::OpenFiles::reserve + 2);
    for (auto& socket : flood) socket.connect(at("::1", port));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(nextRejection(), RefusalReason::tooFewDescriptors);
    EXPECT_GE(TessaloyBase::OpenFiles::available(), TessaloyBase::OpenFiles::reserve);
    flood.clear();
    ASSERT_TRUE(mac->waitUntil([&] { return mac->listener->pendingHandshakes() == 0; }));
    expectStillServing();
}

// Connections that say hello and then nothing fill the places of the device's own address, or each
// comes from an address of its own and they fill all places.
class LANHostListenerQuietHandshakes : public LANHostListenerRefusals, public ::testing::WithParamInterface<bool> {};

INSTANTIATE_TEST_SUITE_P(Loopback, LANHostListenerQuietHandshakes, ::testing::Bool());

TEST_P(LANHostListenerQuietHandshakes, TheyMakeWayForAHandshakeThatConnectedBeforeThemButSpokeAfter) {
    const auto from = [&](int i) {
        return asio::ip::make_address(
            GetParam() ? "127.0.0.1" : "127.0." + std::to_string(i / 200) + "." + std::to_string(i % 200 + 2));
    };
    const TessaloyNet::HandshakeAdmissionLimits limits;
    const int others = (GetParam() ? limits.perHost : limits.total) - 1;
    const Bytes hello = Testing::clientHello(device.trustedParameters());
    std::vector<std::unique_ptr<asio::ip::tcp::socket>> quiet;
    const auto sayHello = [&](int i) {
        quiet.push_back(DeviceSimulator::stallHandshake(at("127.0.0.1", port), from(i)));
        asio::write(*quiet.back(), asio::buffer(hello));
        // Answered: the listener has counted its handshake.
        std::array<std::uint8_t, 1> answer{};
        quiet.back()->read_some(asio::buffer(answer));
    };
    auto socket = DeviceSimulator::stallHandshake(at("127.0.0.1", port));
    ASSERT_TRUE(mac->waitUntil([&] { return mac->listener->pendingHandshakes() == 1; }));
    for (int i = 0; i < others; ++i) sayHello(i);
    const auto channel = TessaloyNet::TlsPacketChannel::over([&](TessaloyBase::SerialQueue& queue) {
        return std::make_unique<TessaloyNet::TlsByteStream>(queue.executor(), std::move(*socket),
                                                            device.trustedParameters());
    });
    Testing::ChannelRecorder log;
    channel->setEvents(log.events());
    channel->start();
    ASSERT_TRUE(log.waitUntil([&] { return log.ready > 0; }));
    sayHello(others);
    EXPECT_EQ(nextRejection(), RefusalReason::tooManyHandshakes);
    channel->sendDirect(ChannelRole(ChannelRole::media).packet());
    EXPECT_TRUE(mac->waitFor<Event::Authenticated>());
    channel->close();
    log.waitForClose();
}

TEST(LANHostListener, MakesRoomForANewcomerByClosingTheOldestSilentOneInThatScope) {
    ListenerHarness::Listener::Limits limits;
    limits.admission.silentTotal = 16;
    ListenerHarness mac(limits);
    const std::uint16_t port = mac.start(std::nullopt);
    const auto from = [](int host) { return asio::ip::make_address("127.0.0." + std::to_string(host)); };
    std::vector<std::unique_ptr<asio::ip::tcp::socket>> stalled;
    for (int i = 0; i < 16; ++i)
        stalled.push_back(DeviceSimulator::stallHandshake(at("127.0.0.1", port), from(i / 4 + 1)));
    ASSERT_TRUE(mac.waitUntil([&] { return mac.listener->pendingHandshakes() == 16; }));
    EXPECT_TRUE(mac.all<Event::Rejected>().empty());

    // A fifth from 127.0.0.1 closes the first from there; one from a new host closes the oldest of
    // all, now the second from 127.0.0.1.
    stalled.push_back(DeviceSimulator::stallHandshake(at("127.0.0.1", port), from(1)));
    stalled.push_back(DeviceSimulator::stallHandshake(at("127.0.0.1", port), from(5)));
    ASSERT_TRUE(mac.waitFor<Event::Rejected>(2));
    for (const auto& rejected : mac.all<Event::Rejected>()) {
        EXPECT_EQ(rejected.reason, "Too many connections are being attempted at once.");
    }
    EXPECT_EQ(mac.listener->pendingHandshakes(), 16);
    std::array<std::uint8_t, 1> byte{};
    for (const std::size_t closed : {0, 1}) {
        std::error_code error;
        stalled[closed]->read_some(asio::buffer(byte), error);
        EXPECT_EQ(error, asio::error::eof) << closed;
    }
}

TEST(LANHostListener, ABridgesOwnConnectionIsNotCounted) {
    ListenerHarness mac;
    DeviceSimulator device("Paired phone");
    mac.store->add({device.identity().publicKey(), device.name(), std::chrono::system_clock::now(), std::nullopt});
    device.setMacKey(mac.mac.publicKey());
    const std::uint16_t port = mac.start(std::nullopt);
    asio::ip::tcp::socket bridge(TessaloyBase::sharedIoContext());
    bridge.open(asio::ip::tcp::v4());
    bridge.bind(at("127.0.0.1", 0));
    mac.listener->exemptBridge(bridge.local_endpoint());
    bridge.connect(at("127.0.0.1", port));
    const auto stranger = DeviceSimulator::stallHandshake(at("127.0.0.1", port));
    // Accepted after both, so counted after both.
    device.connect(at("127.0.0.1", port));
    ASSERT_TRUE(mac.waitFor<Event::Authenticated>(2));
    EXPECT_EQ(mac.listener->pendingHandshakes(), 1);
}

// Connections from the address the device comes from, each opened again as soon as it is closed:
// ones that say nothing, or more hellos than one host may have pending, while the device answers
// across a Wi-Fi round trip.
struct OwnAddressFlood {
    int connections;
    int openingsPerSecond;
    bool hello;
    std::chrono::milliseconds roundTrip;

    friend void PrintTo(const OwnAddressFlood& flood, std::ostream* out) {
        *out << flood.connections << (flood.hello ? " hellos" : " silent") << " at " << flood.openingsPerSecond << "/s";
    }
};

class LANHostListenerOwnAddressFlood : public ::testing::TestWithParam<OwnAddressFlood> {};

INSTANTIATE_TEST_SUITE_P(Loopback, LANHostListenerOwnAddressFlood,
                         ::testing::Values(OwnAddressFlood{16, 1'000'000, false, 0ms},
                                           OwnAddressFlood{TessaloyNet::HandshakeAdmissionLimits{}.perHost + 50, 500,
                                                           true, 50ms}),
                         [](const auto& flood) { return flood.param.hello ? "Hellos" : "Silent"; });

TEST_P(LANHostListenerOwnAddressFlood, CannotKeepTheDeviceOut) {
    ListenerHarness mac;
    DeviceSimulator device("Paired phone");
    mac.store->add({device.identity().publicKey(), device.name(), std::chrono::system_clock::now(), std::nullopt});
    device.setMacKey(mac.mac.publicKey());
    const std::uint16_t port = mac.start(std::nullopt);
    Testing::LoopbackRelay wifi(at("127.0.0.1", port), {.roundTrip = GetParam().roundTrip});
    const int connections = GetParam().connections;
    Testing::IdleFlood flood(at("127.0.0.1", port), {asio::ip::make_address("127.0.0.1")}, connections,
                             GetParam().openingsPerSecond, 1'000'000'000,
                             GetParam().hello ? Testing::clientHello(device.trustedParameters()) : Bytes{});
    ASSERT_TRUE(mac.waitUntil([&] { return flood.openings() >= connections; }));
    for (int attempt = 1; attempt <= 5; ++attempt) {
        // Silent ones accepted by now pass their hello deadline and come back.
        mac.clock->advance(1s);
        device.connect(wifi.endpoint());
        ASSERT_TRUE(mac.waitFor<Event::Authenticated>(2 * attempt, 20s)) << attempt;
        device.disconnect();
    }
    EXPECT_TRUE(mac.waitUntil([&] { return flood.openings() > connections; }));
}

TEST(LANHostListener, StopAdvertisingWithdrawsAtOnceAndAcceptsForTheWindowOnly) {
    ListenerHarness mac;
    const std::uint16_t port = mac.start(offer());
    ASSERT_TRUE(mac.waitUntil([&] {
        std::lock_guard guard(mac.advertised->lock);
        return !mac.advertised->advertised.empty();
    }));
    mac.listener->stopAdvertising(1500ms);
    ASSERT_TRUE(mac.waitUntil([&] {
        std::lock_guard guard(mac.advertised->lock);
        return mac.advertised->withdrawals == 1 && mac.advertised->destroyed == 1;
    }));
    auto during = DeviceSimulator::stallHandshake(at("127.0.0.1", port));
    ASSERT_TRUE(mac.waitUntil([&] { return mac.listener->pendingHandshakes() == 1; }));
    ASSERT_TRUE(mac.clock->pending(1.5));
    mac.clock->advance(1499ms);
    EXPECT_NO_THROW(DeviceSimulator::stallHandshake(at("127.0.0.1", port)));
    mac.clock->advance(1ms);
    try {
        DeviceSimulator::stallHandshake(at("127.0.0.1", port));
        ADD_FAILURE() << "still accepting after the window";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code(), asio::error::connection_refused);
    }
}

TEST(LANHostListener, PublishesItsServiceWithTheTxtRecordOfItsMode) {
    ListenerHarness mac({}, {}, TessaloyCore::MacKind::mini);
    const PairingOffer pairing = offer();
    const std::uint16_t port = mac.start(pairing);
    ASSERT_TRUE(mac.waitUntil([&] {
        std::lock_guard guard(mac.advertised->lock);
        return !mac.advertised->advertised.empty();
    }));
    std::lock_guard guard(mac.advertised->lock);
    const auto& service = mac.advertised->advertised[0];
    EXPECT_EQ(service.type, "_tessaloy._tcp");
    EXPECT_EQ(service.name, "Studio Mac");
    EXPECT_EQ(service.port, port);
    const TessaloyBase::ServiceAdvertiser::TxtRecord expected{
        {"v", "1"}, {"s", TessaloyCore::base64Url(pairing.salt)}, {"k", mac.mac.keyIdentifier()}, {"m", "mini"}};
    EXPECT_EQ(service.txt, expected);
}

TEST(LANHostListener, WithoutServiceDiscoveryItStillListensAndSaysSoOnce) {
    ListenerHarness mac;
    mac.advertised->reply =
        TessaloyBase::ServiceAdvertiser::NotAvailable{"Service discovery is not available: no daemon"};
    const std::uint16_t port = mac.start(std::nullopt);
    const auto unavailable = mac.waitFor<Event::DiscoveryUnavailable>();
    ASSERT_TRUE(unavailable);
    EXPECT_EQ(unavailable->reason, "Service discovery is not available: no daemon");
    DeviceSimulator device;
    mac.store->add({device.identity().publicKey(), device.name(), std::chrono::system_clock::now(), std::nullopt});
    device.setMacKey(mac.mac.publicKey());
    device.connect(at("127.0.0.1", port));
    EXPECT_TRUE(mac.waitFor<Event::Authenticated>(2));
    EXPECT_EQ(mac.all<Event::DiscoveryUnavailable>().size(), 1u);
}

TEST(LANHostListener, WithoutAdvertisingPublishesNothing) {
    ListenerHarness mac;
    ASSERT_NE(mac.start(std::nullopt, false), 0);
    mac.listener->stop();
    ASSERT_TRUE(mac.waitFor<Event::Stopped>());
    std::lock_guard guard(mac.advertised->lock);
    EXPECT_EQ(mac.advertised->made, 0);
}

TEST(LANHostListener, StopClosesTheChannelsAndReportsStoppedLast) {
    ListenerHarness mac;
    DeviceSimulator device;
    mac.store->add({device.identity().publicKey(), device.name(), std::chrono::system_clock::now(), std::nullopt});
    device.setMacKey(mac.mac.publicKey());
    const std::uint16_t port = mac.start(std::nullopt);
    device.connect(at("127.0.0.1", port));
    ASSERT_TRUE(mac.waitFor<Event::Authenticated>(2));
    mac.listener->stop();
    const auto stopped = mac.waitFor<Event::Stopped>();
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->error, std::nullopt);
    EXPECT_EQ(device.channel(ChannelRole::media)->waitForClose(), std::nullopt);
    EXPECT_TRUE(std::holds_alternative<Event::Stopped>(mac.events.back().value));
}

TEST(LANHostListener, APortInUseStopsWithAnError) {
    ListenerHarness first;
    const std::uint16_t port = first.start(std::nullopt, false);
    asio::ip::tcp::acceptor blocker(TessaloyBase::sharedIoContext());
    ListenerHarness second;
    second.listener->start(std::nullopt, "Mac", second.mac, port, false, [&](Event event) {
        std::lock_guard guard(second.lock);
        second.events.push_back(std::move(event));
        second.changed.notify_all();
    });
    const auto stopped = second.waitFor<Event::Stopped>();
    ASSERT_TRUE(stopped);
    ASSERT_TRUE(stopped->error);
    EXPECT_EQ(stopped->error->rfind("Could not listen on port " + std::to_string(port) + ": ", 0), 0u);
    EXPECT_TRUE(second.all<Event::Advertising>().empty());
}

TEST(LANHostListenerEvent, DescribesEachCaseOnOneLine) {
    const auto channel = std::shared_ptr<TessaloyNet::PacketChannel>();
    EXPECT_EQ(Event{Event::Advertising{55801}}.traceDescription(), "advertising(port: 55801)");
    EXPECT_EQ(Event{Event::Attempting{}}.traceDescription(), "attempting");
    EXPECT_EQ((Event{Event::Authenticated{channel, "Anna's phone", ChannelRole::media}}.traceDescription()),
              "authenticated(peerName: \"Anna's phone\", role: media)");
    EXPECT_EQ(Event{Event::Rejected{"Too many"}}.traceDescription(), "rejected(reason: \"Too many\")");
    EXPECT_EQ((Event{Event::Received{session(3), ChannelRole::control, nullptr}}.traceDescription()),
              "received(kind: session, role: control, bytes: 1)");
    EXPECT_EQ(Event{Event::PeerDisconnected{}}.traceDescription(), "peerDisconnected(error: nil)");
    const Event gone{Event::PeerDisconnected{.error = "gone", .channel = nullptr}};
    EXPECT_EQ(gone.traceDescription(), "peerDisconnected(error: \"gone\")");
    EXPECT_EQ(Event{Event::Stopped{}}.traceDescription(), "stopped(error: nil)");
    EXPECT_EQ(Event{Event::DiscoveryUnavailable{"no daemon"}}.traceDescription(),
              "discoveryUnavailable(reason: \"no daemon\")");
}

} // namespace
