#include "tests/app/shell/StreamingSessionFixture.h"

#include "app/shell/TessaloyHostApp.h"
#include "core/CursorUpdate.h"
#include "core/InputEvent.h"
#include "net/channel/PairingLink.h"
#include "net/channel/RefusalReason.h"

#include <future>
#include <regex>

namespace {

using namespace std::chrono_literals;
using Testing::StreamingSessionTest;
using EndReason = TessaloyCore::SessionEnd::Reason;
using Route = Testing::FakePacketChannel::Route;

TEST_F(StreamingSessionTest, StartsWithTheStoredSettingsAndAnIdentity) {
    EXPECT_TRUE(session->allowsRemoteControl());
    EXPECT_FALSE(session->listensAutomatically());
    EXPECT_TRUE(session->staysAwakeForPairedDevices());
    EXPECT_TRUE(session->needsAvailabilityChoice());
    ASSERT_TRUE(session->identity());
    EXPECT_EQ(session->listenPort(), 55801);
    EXPECT_EQ(session->phaseDescription(), "Not sharing.");
    EXPECT_FALSE(session->acceptsPairedDevices()) << "nobody is paired yet";
}

TEST_F(StreamingSessionTest, AnOfferIsPublishedAndExpiresAfterFiveMinutes) {
    const auto start = environment.actor.now();
    startSharing();
    EXPECT_EQ(session->phaseDescription(), "Waiting for a device on this network.");
    ASSERT_TRUE(session->pairingCode());
    EXPECT_TRUE(std::regex_match(*session->pairingCode(), std::regex("[2-9A-HJ-NP-Z]{4}-[2-9A-HJ-NP-Z]{4}")));
    ASSERT_TRUE(session->pairingLink());
    const auto link = TessaloyNet::PairingLink::parse(*session->pairingLink());
    ASSERT_TRUE(link);
    EXPECT_EQ(link->code.formatted(), *session->pairingCode());
    EXPECT_EQ(session->pairingExpiresAt(), start + 300s);
    EXPECT_TRUE(session->isAdvertising());
    ASSERT_TRUE(listener().offer());
    EXPECT_EQ(listener().offer()->code.formatted(), *session->pairingCode());

    environment.actor.advance(299s);
    EXPECT_TRUE(session->isAdvertising());
    environment.actor.advance(1s);
    EXPECT_EQ(session->phaseDescription(), "The code expired. Start sharing again for a new one.");
    EXPECT_FALSE(session->pairingCode());
    EXPECT_FALSE(session->pairingLink());
    EXPECT_FALSE(session->pairingExpiresAt());
    EXPECT_FALSE(session->isAdvertising());
    EXPECT_TRUE(listener().isStopped());
}

TEST_F(StreamingSessionTest, ThePairingLimitRefusesAFourthOffer) {
    for (int i = 0; i < 3; ++i) {
        const Device phone{"Phone " + std::to_string(i)};
        session->trusted().add(
            {.publicKey = phone.key, .name = phone.name, .pairedAt = environment.actor.now(), .lastSeenAt = {}});
    }
    session->reloadPairedDevices();
    bool returned = false;
    Plovander::TaskHandle::detach([&](Plovander::CancellationToken) -> QCoro::Task<> {
        co_await session->startSharing("Test Mac");
        returned = true;
    });
    ASSERT_TRUE(until([&] { return returned; }));
    EXPECT_EQ(session->lastRejection(), "This Mac already has 3 paired devices. Forget one below to pair another.");
    EXPECT_FALSE(session->isAdvertising());
}

TEST_F(StreamingSessionTest, AnApprovedDeviceIsRememberedAndGetsThisMacsKey) {
    const Device ada{"Ada's iPhone"};
    const auto [media, control] = pairAndApprove(ada);
    EXPECT_EQ(session->connectedPeerName(), "Ada's iPhone");
    EXPECT_EQ(session->phaseDescription(), "Sharing this display.");
    const auto direct = media->sent(Route::direct);
    ASSERT_FALSE(direct.empty());
    const auto exchange = TessaloyNet::PairingExchange::decode(direct.front());
    EXPECT_EQ(exchange.publicKey(), session->identity()->publicKey());
    EXPECT_EQ(exchange.name(), "Test Mac");
    ASSERT_EQ(session->pairedDevices().size(), 1u);
    EXPECT_EQ(session->pairedDevices()[0].name, "Ada's iPhone");
    EXPECT_EQ(session->pairedDevices()[0].publicKey, ada.key);
    EXPECT_TRUE(probe->isRunning());

    session->stopSharing(StopReason::userStopped());
    EXPECT_EQ(session->phaseDescription(), "Not sharing.");
    EXPECT_FALSE(session->isSharing());
    EXPECT_FALSE(session->connectedPeerName());
    EXPECT_EQ(endsOn(*control), std::vector{EndReason::userStopped});
}

TEST_F(StreamingSessionTest, TheDeviceDrawingThePointerGetsItsPositionsInsteadOfAPictureOfIt) {
    const auto [media, control] = pairAndApprove(Device{"Ada's iPhone"});
    ASSERT_TRUE(probe->cursorInVideo());
    using TessaloyCore::InputEvent;
    const auto cursorUpdates = [&, control = control] {
        std::vector<TessaloyCore::CursorUpdate> updates;
        for (const auto& packet : control->sent(Route::direct)) {
            if (packet.kind() == TessaloyCore::WirePacket::Kind::cursorUpdate) {
                updates.push_back(TessaloyCore::CursorUpdate::decode(packet));
            }
        }
        return updates;
    };
    receive(control, Role::control, InputEvent{InputEvent::EnableLocalCursor{}}.packet());
    ASSERT_TRUE(until([&] { return !cursorUpdates().empty(); }));
    EXPECT_FALSE(probe->cursorInVideo());

    // A tracked move is answered with the position it reached, under the device's sequence number.
    receive(control, Role::control, InputEvent{InputEvent::TrackedPointerMove{10, 5, 42}}.packet());
    ASSERT_TRUE(until([&] {
        const auto updates = cursorUpdates();
        return !updates.empty() && updates.back().sequence() == 42;
    }));
    EXPECT_TRUE(cursorUpdates().back().visible());

    session->stopSharing(StopReason::userStopped());
    ASSERT_TRUE(until([&] { return probe->cursorInVideo() && !probe->isBusy(); }));
}

TEST_F(StreamingSessionTest, ADeclinedDeviceIsToldAndNotRemembered) {
    startSharing();
    const auto media = connect(Role::media, "Simulated iPhone", std::nullopt);
    ASSERT_TRUE(session->pendingPeerName().has_value());
    session->declinePeer();
    EXPECT_EQ(session->phaseDescription(), "Connection declined.");
    EXPECT_FALSE(session->pendingPeerName());
    EXPECT_TRUE(session->pairedDevices().empty());
    EXPECT_TRUE(until([&] { return media->isClosed(); }));
}

TEST_F(StreamingSessionTest, APairedDeviceIsAdmittedWithoutAClickWhileTheMacIsAvailable) {
    const Device ada{"Ada's iPhone"};
    listenFor(ada);
    EXPECT_EQ(session->phaseDescription(), "Waiting for a paired device.");
    EXPECT_FALSE(session->needsAvailabilityChoice());

    connect(Role::media, ada.name, ada.key);
    const auto control = connect(Role::control, ada.name, ada.key);
    ASSERT_TRUE(until([&] { return session->isSharing(); }));
    EXPECT_EQ(session->connectedPeerName(), "Ada's iPhone");
    EXPECT_FALSE(session->acceptsPairedDevices());
    EXPECT_EQ(listener().acceptanceWindow(), std::chrono::duration<double>(10.0));
    ASSERT_EQ(session->pairedDevices().size(), 1u);
    EXPECT_TRUE(session->pairedDevices()[0].lastSeenAt.has_value());

    // The Mac ends the session and stays available: the device is told, and listening resumes
    // after the first back-off of one second. The session's memory goes back to the system once
    // its capture has stopped, and what its channels freed later once listening resumes.
    const int releasesWhileSharing = environment.memoryReleases;
    session->stopSharing(StopReason::hostDisconnected());
    EXPECT_EQ(session->phaseDescription(), "Disconnected. This Mac is still available.");
    EXPECT_EQ(endsOn(*control), std::vector{EndReason::hostDisconnected});
    EXPECT_TRUE(until([&] { return environment.memoryReleases == releasesWhileSharing + 1; }));
    environment.actor.advance(999ms);
    EXPECT_FALSE(session->acceptsPairedDevices());
    environment.actor.advance(1ms);
    ASSERT_TRUE(until([&] { return session->acceptsPairedDevices() && !listener().isStopped(); }));
    emit(Event::Advertising{55801});
    EXPECT_EQ(environment.memoryReleases, releasesWhileSharing + 2);
}

TEST_F(StreamingSessionTest, AtStartTheMacListensOnceTheApplicationsFirstListingOfTheDisplaysEnds) {
    listenFor(Device{"Ada's iPhone"});
    TearDown();
    // The application's own first listing, here slower than loading this Mac's identity.
    std::promise<void> listed;
    environment.whileListing = [done = listed.get_future().share()] { done.wait(); };
    makeProbe();
    Plovander::TaskHandle::detach(
        [this](Plovander::CancellationToken) -> QCoro::Task<> { co_await probe->refreshDisplays(); });
    makeSession();
    ASSERT_TRUE(until([&] { return session->identity().has_value(); }));
    environment.actor.runUntilIdle();
    listed.set_value();
    ASSERT_TRUE(until([&] { return session->isReady(); }));
    EXPECT_TRUE(session->acceptsPairedDevices());
    EXPECT_FALSE(session->setupProblem());
}

TEST_F(StreamingSessionTest, TheDeviceWhoseChannelCameFirstKeepsAnotherOut) {
    const Device first{"First"};
    const Device second{"Second"};
    for (const Role role : {Role::media, Role::control}) {
        renew();
        listenFor(second);
        listenFor(first);
        const auto firstChannel = connect(role, first.name, first.key);

        // The listener still takes connections for a while after the first device came in.
        EXPECT_TRUE(connect(Role::media, second.name, second.key)->isClosed()) << nameOf(role);
        EXPECT_TRUE(connect(Role::control, second.name, second.key)->isClosed()) << nameOf(role);
        connect(role == Role::media ? Role::control : Role::media, first.name, first.key);
        ASSERT_TRUE(until([&] { return session->isSharing(); }));
        EXPECT_EQ(session->connectedPeerName(), "First");
        environment.actor.advance(TessaloyNet::HostListener::handshakeDeadline);
        EXPECT_FALSE(firstChannel->isClosed());
    }
}

// A control channel that no media channel joins ends with its listener, or at the handshake
// deadline while the listener runs on.
TEST_F(StreamingSessionTest, AControlChannelAloneKeepsNobodyOut) {
    const Device ada{"Ada"};
    const Device bea{"Bea"};
    for (const bool listenerRunsOn : {false, true}) {
        renew();
        listenFor(bea);
        listenFor(ada);
        const auto lone = connect(Role::control, ada.name, ada.key);
        newTrace();
        if (listenerRunsOn) {
            environment.actor.advance(TessaloyNet::HostListener::handshakeDeadline);
            EXPECT_TRUE(lone->isClosed());
            EXPECT_EQ(newTrace(),
                      std::vector<std::string>{"closed a control channel whose media channel did not come in time"});
            EXPECT_FALSE(connect(Role::media, bea.name, bea.key)->isClosed());
        } else {
            startSharing();
            connect(Role::media, "Pairing", Device{"Pairing"}.key);
            EXPECT_EQ(session->pendingPeerName(), "Pairing");
        }
    }
}

TEST_F(StreamingSessionTest, AnUnknownKeyIsRefusedWhileAvailable) {
    listenFor(Device{"Paired"});
    emit(Event::Rejected{std::string(TessaloyNet::RefusalReason::notPaired)});
    EXPECT_EQ(session->lastRejection(), "A device that isn't paired with this Mac tried to connect.");
    EXPECT_FALSE(session->isSharing());
    EXPECT_TRUE(session->acceptsPairedDevices());
}

TEST_F(StreamingSessionTest, AControllerThatGoesWhileWaitingToListenAgainLeavesNothingToRun) {
    listenFor(Device{"Phone"});
    emit(Event::Stopped{"Address already in use"});
    session.reset();
    // As at exit, where the main actor runs no more: the wait ended with its owner.
    EXPECT_EQ(environment.actor.pendingTimers(), 0u);
    SetUp();
}

TEST_F(StreamingSessionTest, TheCaptureStoppingAfterTheControllerWentChangesNothing) {
    startSharing();
    session.reset();
    newTrace();
    // The probe outlives the controller and still holds what it was lent.
    probe->onStopped("the display went away");
    environment.actor.runUntilIdle();
    EXPECT_EQ(newTrace(), std::vector<std::string>{});
    SetUp();
}

TEST_F(StreamingSessionTest, ListeningThatFailsIsRetriedWithGrowingDelays) {
    listenFor(Device{"Phone"});
    const auto failListening = [&] { emit(Event::Stopped{"Address already in use"}); };
    failListening();
    EXPECT_EQ(session->lastRejection(),
              "This Mac stopped listening for paired devices: Address already in use Retrying.");
    EXPECT_FALSE(session->acceptsPairedDevices());

    // The first failure waits 2 s, the second 4 s.
    for (const auto delay : {2s, 4s}) {
        const std::size_t made = listeners.count();
        environment.actor.advance(delay - 1ms);
        environment.actor.runUntilIdle();
        EXPECT_EQ(listeners.count(), made);
        environment.actor.advance(1ms);
        ASSERT_TRUE(until([&] { return listeners.count() == made + 1; }));
        failListening();
    }

    environment.actor.advance(8s);
    ASSERT_TRUE(until([&] { return session->acceptsPairedDevices(); }));
    emit(Event::Advertising{55801});
    EXPECT_EQ(session->phaseDescription(), "Waiting for a paired device.");
}

// Taking back a code ends no session: the Mac listens for its paired devices again at once. Only
// the user's stop of a session or of listening holds listening off, and the model says so.
TEST_F(StreamingSessionTest, CancellingACodeReturnsToListeningWhileAUserStopHoldsItOff) {
    listenFor(Device{"Paired"});
    startSharing();
    ASSERT_FALSE(session->acceptsPairedDevices());
    const std::size_t made = listeners.count();
    session->stopSharing(StopReason::userStopped());
    EXPECT_TRUE(until([&] { return session->acceptsPairedDevices(); }));
    EXPECT_EQ(listeners.count(), made + 1);
    EXPECT_FALSE(listener().offer()) << "a listener for paired devices, without a code";
    EXPECT_FALSE(session->listeningHeldByUser());

    session->stopSharing(StopReason::userStopped());
    environment.actor.advance(60s);
    environment.actor.runUntilIdle();
    EXPECT_FALSE(session->acceptsPairedDevices());
    EXPECT_TRUE(session->listeningHeldByUser());
    startSharing();
    EXPECT_FALSE(session->listeningHeldByUser()) << "a listener runs again";
}

// A listener may hold the port until its `stopped` reaches the main actor: a start asked for before
// then waits for it, a later request replaces it and a stop withdraws it.
TEST_F(StreamingSessionTest, AListenerStartsOnlyOnceTheOneBeforeItReportedStopped) {
    listenFor(Device{"Paired"});
    const auto listenersMadeOfferingACodeUntil = [&](StopReason reason) {
        const std::size_t made = listeners.count();
        Plovander::TaskHandle::detach([&](Plovander::CancellationToken) { return session->startSharing("Test Mac"); });
        session->stopSharing(std::move(reason));
        environment.actor.runUntilIdle();
        return listeners.count() - made;
    };
    EXPECT_EQ(listenersMadeOfferingACodeUntil(StopReason::failed("The display went away.")), 0u);
    environment.actor.advance(2s);
    ASSERT_TRUE(until([&] { return session->acceptsPairedDevices(); }));
    EXPECT_EQ(listenersMadeOfferingACodeUntil(StopReason::userStopped()), 1u);
    EXPECT_FALSE(listener().offer()) << "a listener for paired devices, without a code";
}

TEST_F(StreamingSessionTest, SwitchingRemoteControlOffPersistsAndRefusesTransfers) {
    session->setAllowsRemoteControl(false);
    EXPECT_FALSE(session->allowsRemoteControl());
    EXPECT_EQ(environment.defaults.boolean("TessaloyAllowRemoteControl"), false);
    EXPECT_FALSE(session->transfers().isAllowed());
}

// Quitting as a session ends: the capture's stop under way finishes before the objects go.
TEST(TessaloyHostAppTest, QuitFinishesTheCaptureStopUnderWay) {
    using Plovander::TaskHandle, Plovander::CancellationToken;
    Testing::FakeEnvironment environment;
    auto host = std::make_unique<Plovander::TessaloyHostApp>(environment, Testing::QuietUpdater::make);
    Plovander::CaptureProbe& capture = host->capture();
    TaskHandle::detach([&](CancellationToken) -> QCoro::Task<> {
        co_await capture.start(nullptr, std::nullopt, TessaloyCore::VideoCodec::h264);
        co_await capture.stop();
    });
    ASSERT_TRUE(environment.actor.runUntil([&] { return capture.isRunning(); })) << capture.status();
    const std::weak_ptr<Plovander::CaptureEncodingOutput> output = capture.encodingOutput();
    const auto quitting = TaskHandle::start([&](CancellationToken) -> QCoro::Task<> { co_await host->quit(); });
    ASSERT_TRUE(environment.actor.runUntil([&] { return !quitting.isRunning(); }));
    host.reset();
    environment.actor.runUntilIdle();
    EXPECT_TRUE(output.expired());
}

} // namespace
