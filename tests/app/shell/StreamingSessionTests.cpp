#include "app/capture/CaptureProbe.h"
#include "app/shell/StreamingSession.h"
#include "app/trace/TraceLog.h"
#include "core/CursorUpdate.h"
#include "core/SessionEnd.h"
#include "core/SessionMessage.h"
#include "net/channel/PairingLink.h"
#include "platform/AudioCapture.h"
#include "platform/Displays.h"
#include "platform/ScreenCapture.h"
#include "tests/support/DeviceSimulator.h"
#include "tests/support/FakeEnvironment.h"

#include <gtest/gtest.h>

#include <asio/ip/tcp.hpp>

#include <regex>

namespace {

using namespace std::chrono_literals;
using Plovander::CaptureProbe;
using Plovander::StreamingSession;
using Testing::DeviceSimulator;
using Role = TessaloyCore::ChannelRole;
using StopReason = StreamingSession::StopReason;

std::vector<TessaloyCore::WirePacket> packetsOf(DeviceSimulator::Connection& connection) {
    std::lock_guard guard(connection.log.lock);
    return connection.log.packets;
}

bool isClosed(DeviceSimulator::Connection& connection) {
    std::lock_guard guard(connection.log.lock);
    return connection.log.closedCount > 0;
}

// A port nobody listens on now; the session listens there for paired devices.
std::uint16_t freePort() {
    asio::io_context context;
    asio::ip::tcp::acceptor acceptor(context, asio::ip::tcp::endpoint(asio::ip::address_v6::any(), 0));
    return acceptor.local_endpoint().port();
}

class StreamingSessionTest : public ::testing::Test {
protected:
    StreamingSessionTest() {
        // TESSALOY_TRACE=1 shows the controller's trace while a test runs.
        Plovander::TraceLog::configure({.enabled = std::getenv("TESSALOY_TRACE") != nullptr, .file = {}});
        environment.defaults.setInteger("TessaloyListenPort", port);
        environment.defaults.setBoolean("TessaloyAllowRemoteControl", true);
    }

    void SetUp() override { makeSession(); }

    void makeSession() {
        probe = std::make_unique<CaptureProbe>(environment, captureQueue, audioQueue);
        session = std::make_unique<StreamingSession>(environment, *probe);
        ASSERT_TRUE(until([&] { return session->isReady(); }));
    }

    void TearDown() override {
        if (session && (session->isSharing() || session->isAdvertising() || session->acceptsPairedDevices())) {
            session->stopSharing(StopReason::userStopped());
        }
        environment.actor.runUntil([&] { return !probe->isRunning() && !probe->isBusy(); }, 5s);
        session.reset();
        probe.reset();
        environment.actor.runUntilIdle();
    }

    bool until(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
        return environment.actor.runUntil(done, limit);
    }

    std::size_t advertisedCount() {
        std::lock_guard guard(environment.advertisements->lock);
        return environment.advertisements->advertised.size();
    }

    // Starts sharing and waits until the listener for the offer takes connections.
    void startSharing() {
        const std::size_t before = advertisedCount();
        bool returned = false;
        Plovander::TaskHandle::start([&](Plovander::CancellationToken) -> QCoro::Task<> {
            co_await session->startSharing("Test Mac");
            returned = true;
        });
        ASSERT_TRUE(until([&] { return returned && advertisedCount() > before; }));
        EXPECT_EQ(session->phaseDescription(), "Waiting for a device on this network.");
    }

    DeviceSimulator::Endpoint endpoint() const {
        return DeviceSimulator::Endpoint(asio::ip::make_address("127.0.0.1"), port);
    }

    // Pairs `device` through the code on screen and approves it once its own name (from its pairing
    // exchange) replaced the one in its certificate.
    void pairAndApprove(DeviceSimulator& device) {
        startSharing();
        ASSERT_TRUE(session->pairingLink());
        device.setCertificateName("Pairing " + device.name());
        ASSERT_TRUE(device.pair(endpoint(), *session->pairingLink()));
        ASSERT_TRUE(until([&] { return session->phaseDescription() == "A device is asking to connect."; }));
        ASSERT_TRUE(until([&] { return session->pendingPeerName() == device.name(); }));
        session->approvePeer();
        ASSERT_TRUE(until([&] { return session->isSharing(); }));
    }

    // Whether an end of session with `reason` reached the device on its control channel.
    bool deviceLearnsTheEnd(DeviceSimulator& device, TessaloyCore::SessionEnd::Reason reason) {
        return until([&] {
            auto* control = device.channel(Role::control);
            if (!control) return false;
            for (const auto& packet : packetsOf(*control)) {
                if (packet.kind() == TessaloyCore::WirePacket::Kind::endSession &&
                    TessaloyCore::SessionEnd::decode(packet).reason == reason) {
                    return true;
                }
            }
            return false;
        });
    }

    std::uint16_t port = freePort();
    Testing::FakeEnvironment environment;
    TessaloyBase::SerialQueue captureQueue{"dev.tessaloy.capture"};
    TessaloyBase::SerialQueue audioQueue{"dev.tessaloy.capture-audio"};
    std::unique_ptr<CaptureProbe> probe;
    std::unique_ptr<StreamingSession> session;
};

TEST(CursorUpdateForTheDevice, PlacesThePointerInsideTheSharedDisplay) {
    const Platform::ShareableDisplay::Bounds display{0, 0, 1920, 1080};
    const auto centre = StreamingSession::cursorUpdate(7, {960, 540}, display);
    ASSERT_TRUE(centre);
    const auto update = TessaloyCore::CursorUpdate::decode(*centre);
    EXPECT_EQ(update.sequence(), 7u);
    EXPECT_DOUBLE_EQ(update.x(), 0.5);
    EXPECT_DOUBLE_EQ(update.y(), 0.5);
    EXPECT_EQ(update.displayWidth(), 1920);
    EXPECT_EQ(update.displayHeight(), 1080);
    EXPECT_TRUE(update.visible());

    const auto outside = TessaloyCore::CursorUpdate::decode(*StreamingSession::cursorUpdate(1, {-10, 2000}, display));
    EXPECT_DOUBLE_EQ(outside.x(), 0);
    EXPECT_DOUBLE_EQ(outside.y(), 1);
    EXPECT_FALSE(outside.visible());

    const auto second = TessaloyCore::CursorUpdate::decode(
        *StreamingSession::cursorUpdate(2, {1920 + 480, 270}, Platform::ShareableDisplay::Bounds{1920, 0, 1280, 720}));
    EXPECT_DOUBLE_EQ(second.x(), 0.375);
    EXPECT_TRUE(second.visible());

    EXPECT_FALSE(StreamingSession::cursorUpdate(1, {0, 0}, {0, 0, 0, 1080}));
}

TEST_F(StreamingSessionTest, StartsWithTheStoredSettingsAndAnIdentity) {
    EXPECT_TRUE(session->allowsRemoteControl());
    EXPECT_FALSE(session->listensAutomatically());
    EXPECT_TRUE(session->staysAwakeForPairedDevices());
    EXPECT_TRUE(session->needsAvailabilityChoice());
    ASSERT_TRUE(session->identity());
    EXPECT_EQ(session->listenPort(), port);
    EXPECT_EQ(session->phaseDescription(), "Not sharing.");
    EXPECT_FALSE(session->acceptsPairedDevices()) << "nobody is paired yet";
}

TEST_F(StreamingSessionTest, AnOfferIsPublishedAndExpiresAfterFiveMinutes) {
    const auto start = environment.actor.now();
    startSharing();
    ASSERT_TRUE(session->pairingCode());
    EXPECT_TRUE(std::regex_match(*session->pairingCode(), std::regex("[2-9A-HJ-NP-Z]{4}-[2-9A-HJ-NP-Z]{4}")));
    ASSERT_TRUE(session->pairingLink());
    const auto link = TessaloyNet::PairingLink::parse(*session->pairingLink());
    ASSERT_TRUE(link);
    EXPECT_EQ(link->code.formatted(), *session->pairingCode());
    EXPECT_EQ(session->pairingExpiresAt(), start + 300s);
    EXPECT_TRUE(session->isAdvertising());
    EXPECT_EQ(environment.advertisements->advertised.back().type, "_tessaloy._tcp");

    environment.actor.advance(299s);
    EXPECT_TRUE(session->isAdvertising());
    environment.actor.advance(1s);
    EXPECT_EQ(session->phaseDescription(), "The code expired. Start sharing again for a new one.");
    EXPECT_FALSE(session->pairingCode());
    EXPECT_FALSE(session->pairingLink());
    EXPECT_FALSE(session->pairingExpiresAt());
    EXPECT_FALSE(session->isAdvertising());
}

TEST_F(StreamingSessionTest, ThePairingLimitRefusesAFourthOffer) {
    TessaloyNet::PairedDeviceStore store(environment.keychainItems);
    for (int i = 0; i < 3; ++i) {
        store.add({.publicKey = TessaloyNet::P256PrivateKey::generate().publicKey().x963Representation(),
                   .name = "Phone " + std::to_string(i),
                   .pairedAt = environment.actor.now(),
                   .lastSeenAt = {}});
    }
    session->reloadPairedDevices();
    bool returned = false;
    Plovander::TaskHandle::start([&](Plovander::CancellationToken) -> QCoro::Task<> {
        co_await session->startSharing("Test Mac");
        returned = true;
    });
    ASSERT_TRUE(until([&] { return returned; }));
    EXPECT_EQ(session->lastRejection(), "This Mac already has 3 paired devices. Forget one below to pair another.");
    EXPECT_FALSE(session->isAdvertising());
}

TEST_F(StreamingSessionTest, AnApprovedDeviceIsRememberedAndGetsThisMacsKey) {
    DeviceSimulator device("Ada's iPhone");
    pairAndApprove(device);
    EXPECT_EQ(session->connectedPeerName(), "Ada's iPhone");
    EXPECT_EQ(session->phaseDescription(), "Sharing this display.");
    const auto exchange = device.awaitMacExchange();
    ASSERT_TRUE(exchange);
    EXPECT_EQ(exchange->publicKey(), session->identity()->publicKey());
    EXPECT_EQ(exchange->name(), "Test Mac");
    ASSERT_EQ(session->pairedDevices().size(), 1u);
    EXPECT_EQ(session->pairedDevices()[0].name, "Ada's iPhone");
    EXPECT_EQ(session->pairedDevices()[0].publicKey, device.identity().publicKey());
    EXPECT_TRUE(probe->isRunning());

    session->stopSharing(StopReason::userStopped());
    EXPECT_EQ(session->phaseDescription(), "Not sharing.");
    EXPECT_FALSE(session->isSharing());
    EXPECT_FALSE(session->connectedPeerName());
    EXPECT_TRUE(deviceLearnsTheEnd(device, TessaloyCore::SessionEnd::Reason::userStopped));
}

TEST_F(StreamingSessionTest, TheDeviceDrawingThePointerGetsItsPositionsInsteadOfAPictureOfIt) {
    DeviceSimulator device("Ada's iPhone");
    pairAndApprove(device);
    ASSERT_TRUE(probe->cursorInVideo());
    using TessaloyCore::InputEvent;
    device.send(Role::control, InputEvent{InputEvent::EnableLocalCursor{}}.packet());
    const auto cursorUpdates = [&] {
        std::vector<TessaloyCore::CursorUpdate> updates;
        for (const auto& packet : packetsOf(*device.channel(Role::control))) {
            if (packet.kind() == TessaloyCore::WirePacket::Kind::cursorUpdate) {
                updates.push_back(TessaloyCore::CursorUpdate::decode(packet));
            }
        }
        return updates;
    };
    ASSERT_TRUE(until([&] { return !cursorUpdates().empty(); }));
    EXPECT_FALSE(probe->cursorInVideo());

    // A tracked move is answered with the position it reached, under the device's sequence number.
    device.send(Role::control, InputEvent{InputEvent::TrackedPointerMove{10, 5, 42}}.packet());
    ASSERT_TRUE(until([&] {
        const auto updates = cursorUpdates();
        return !updates.empty() && updates.back().sequence() == 42;
    }));
    EXPECT_TRUE(cursorUpdates().back().visible());

    session->stopSharing(StopReason::userStopped());
    ASSERT_TRUE(until([&] { return probe->cursorInVideo() && !probe->isBusy(); }));
}

TEST_F(StreamingSessionTest, ADeclinedDeviceIsToldAndNotRemembered) {
    DeviceSimulator device;
    startSharing();
    ASSERT_TRUE(device.pair(endpoint(), *session->pairingLink()));
    ASSERT_TRUE(until([&] { return session->pendingPeerName().has_value(); }));
    session->declinePeer();
    EXPECT_EQ(session->phaseDescription(), "Connection declined.");
    EXPECT_FALSE(session->pendingPeerName());
    EXPECT_TRUE(session->pairedDevices().empty());
    auto* media = device.channel(Role::media);
    ASSERT_NE(media, nullptr);
    EXPECT_TRUE(until([&] { return isClosed(*media); }));
}

TEST_F(StreamingSessionTest, APairedDeviceIsAdmittedWithoutAClickWhileTheMacIsAvailable) {
    DeviceSimulator device("Ada's iPhone");
    pairAndApprove(device);
    ASSERT_TRUE(device.awaitMacExchange());
    session->stopSharing(StopReason::userStopped());
    device.disconnect();

    session->setListensAutomatically(true);
    ASSERT_TRUE(until([&] { return session->phaseDescription() == "Waiting for a paired device."; }));
    EXPECT_TRUE(session->acceptsPairedDevices());
    EXPECT_FALSE(session->needsAvailabilityChoice());

    device.connect(endpoint());
    ASSERT_TRUE(until([&] { return session->isSharing(); }));
    EXPECT_EQ(session->connectedPeerName(), "Ada's iPhone");
    EXPECT_FALSE(session->acceptsPairedDevices());
    ASSERT_EQ(session->pairedDevices().size(), 1u);
    EXPECT_TRUE(session->pairedDevices()[0].lastSeenAt.has_value());

    // The Mac ends the session and stays available: the device is told, and listening resumes
    // after the first back-off of one second.
    session->stopSharing(StopReason::hostDisconnected());
    EXPECT_EQ(session->phaseDescription(), "Disconnected. This Mac is still available.");
    EXPECT_TRUE(deviceLearnsTheEnd(device, TessaloyCore::SessionEnd::Reason::hostDisconnected));
    environment.actor.advance(999ms);
    EXPECT_FALSE(session->acceptsPairedDevices());
    environment.actor.advance(1ms);
    ASSERT_TRUE(until([&] { return session->phaseDescription() == "Waiting for a paired device."; }));
}

TEST_F(StreamingSessionTest, ASecondPairedDeviceIsRefusedWhileASessionRuns) {
    DeviceSimulator first("First");
    DeviceSimulator second("Second");
    for (DeviceSimulator* device : {&first, &second}) {
        pairAndApprove(*device);
        ASSERT_TRUE(device->awaitMacExchange());
        session->stopSharing(StopReason::userStopped());
        device->disconnect();
    }
    session->setListensAutomatically(true);
    ASSERT_TRUE(until([&] { return session->phaseDescription() == "Waiting for a paired device."; }));
    first.connect(endpoint());
    ASSERT_TRUE(until([&] { return session->isSharing(); }));

    // The listener still takes connections for a while after the first device came in.
    second.connect(endpoint());
    auto* media = second.channel(Role::media);
    ASSERT_NE(media, nullptr);
    EXPECT_TRUE(until([&] { return isClosed(*media); }));
    environment.actor.runUntilIdle();
    EXPECT_TRUE(session->isSharing());
    EXPECT_EQ(session->connectedPeerName(), "First");
    EXPECT_TRUE(until([&] { return isClosed(*second.channel(Role::control)); }));
    EXPECT_FALSE(isClosed(*first.channel(Role::media)));
}

TEST_F(StreamingSessionTest, AnUnknownKeyIsRefusedWhileAvailable) {
    DeviceSimulator paired("Paired");
    pairAndApprove(paired);
    session->stopSharing(StopReason::userStopped());
    session->setListensAutomatically(true);
    ASSERT_TRUE(until([&] { return session->phaseDescription() == "Waiting for a paired device."; }));

    DeviceSimulator stranger("Stranger");
    stranger.setMacKey(session->identity()->publicKey());
    stranger.connect(endpoint());
    ASSERT_TRUE(until([&] { return session->lastRejection().has_value(); }));
    EXPECT_EQ(session->lastRejection(), "A device that isn't paired with this Mac tried to connect.");
    EXPECT_FALSE(session->isSharing());
    EXPECT_TRUE(session->acceptsPairedDevices());
}

TEST_F(StreamingSessionTest, ListeningThatFailsIsRetriedWithGrowingDelays) {
    TessaloyNet::PairedDeviceStore store(environment.keychainItems);
    store.add({.publicKey = TessaloyNet::P256PrivateKey::generate().publicKey().x963Representation(),
               .name = "Phone",
               .pairedAt = environment.actor.now(),
               .lastSeenAt = {}});
    session->reloadPairedDevices();
    // Someone else holds the port.
    asio::io_context context;
    asio::ip::tcp::acceptor blocker(context, asio::ip::tcp::endpoint(asio::ip::address_v6::any(), port));

    session->setListensAutomatically(true);
    const std::string prefix = "This Mac stopped listening for paired devices: ";
    ASSERT_TRUE(until([&] { return session->lastRejection().has_value(); }));
    EXPECT_EQ(session->lastRejection()->rfind(prefix, 0), 0u) << *session->lastRejection();
    EXPECT_TRUE(session->lastRejection()->ends_with(" Retrying."));
    EXPECT_FALSE(session->acceptsPairedDevices());

    // The first failure waits 2 s, the second 4 s.
    for (const auto delay : {2s, 4s}) {
        session->setLastRejection(std::nullopt);
        environment.actor.advance(delay - 1ms);
        environment.actor.runUntilIdle();
        EXPECT_FALSE(session->lastRejection().has_value());
        environment.actor.advance(1ms);
        ASSERT_TRUE(until([&] { return session->lastRejection().has_value(); }));
    }

    blocker.close();
    session->setLastRejection(std::nullopt);
    environment.actor.advance(8s);
    ASSERT_TRUE(until([&] { return session->phaseDescription() == "Waiting for a paired device."; }));
    EXPECT_TRUE(session->acceptsPairedDevices());
}

TEST_F(StreamingSessionTest, SwitchingRemoteControlOffPersistsAndRefusesTransfers) {
    session->setAllowsRemoteControl(false);
    EXPECT_FALSE(session->allowsRemoteControl());
    EXPECT_EQ(environment.defaults.boolean("TessaloyAllowRemoteControl"), false);
    EXPECT_FALSE(session->transfers().isAllowed());
}

} // namespace
