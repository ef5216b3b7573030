#include "tests/app/shell/StreamingSessionFixture.h"

#include "core/SessionMessage.h"

#include <future>

namespace {

using namespace std::chrono_literals;
using Testing::StreamingSessionTest;
using EndReason = TessaloyCore::SessionEnd::Reason;

// Capture cannot start while the test holds its queue, so an admitted device stays in the window
// between approval and a running capture.
class HeldCaptureTest : public StreamingSessionTest {
protected:
    void holdCapture() {
        captureQueue.async([held = release_.get_future().share()] { held.wait(); });
    }
    void TearDown() override {
        releaseCapture();
        StreamingSessionTest::TearDown();
    }
    void releaseCapture() {
        if (!released_) release_.set_value();
        released_ = true;
    }

private:
    std::promise<void> release_;
    bool released_ = false;
};

TEST_F(HeldCaptureTest, AnUnattendedMacListensAgainAfterADeviceDropsDuringCaptureStart) {
    const Device ada{"Ada"};
    listenFor(ada);
    holdCapture();
    const auto media = connect(Role::media, ada.name, ada.key);
    ASSERT_FALSE(session->acceptsPairedDevices());
    emit(Event::PeerDisconnected{std::nullopt, media});
    EXPECT_EQ(session->phaseDescription(), "The device disconnected.");

    const std::size_t made = listeners.count();
    environment.actor.advance(1s);
    EXPECT_TRUE(until([&] { return session->acceptsPairedDevices(); }));
    EXPECT_EQ(listeners.count(), made + 1);
}

TEST_F(HeldCaptureTest, SharingWhileAPairedDeviceIsAdmittedEndsItsSessionFirst) {
    const Device ada{"Ada"};
    listenFor(ada);
    holdCapture();
    const auto media = connect(Role::media, ada.name, ada.key);
    const auto control = connect(Role::control, ada.name, ada.key);
    startSharing();
    EXPECT_EQ(endsOn(*control), std::vector{EndReason::userStopped});
    EXPECT_TRUE(media->isClosed());
    EXPECT_TRUE(session->isAdvertising());
    EXPECT_TRUE(listener().offer());
}

TEST_F(HeldCaptureTest, ASecondApproveShowsASentenceNotACaseName) {
    const Device ada{"Ada"};
    startSharing();
    const Device pairing{"Pairing"};
    connect(Role::media, pairing.name, pairing.key);
    holdCapture();
    session->approvePeer();
    session->approvePeer();
    EXPECT_EQ(session->phaseDescription(), "Stopped: No device is waiting for approval.");
}

TEST_F(StreamingSessionTest, SwitchingAvailabilityOffStopsARunningSession) {
    const Device ada{"Ada"};
    listenFor(ada);
    connect(Role::media, ada.name, ada.key);
    const auto control = connect(Role::control, ada.name, ada.key);
    ASSERT_TRUE(until([&] { return session->isSharing(); }));
    session->setListensAutomatically(false);
    ASSERT_TRUE(until([&] { return !session->isSharing(); }));
    EXPECT_EQ(endsOn(*control), std::vector{EndReason::userStopped});
    EXPECT_EQ(session->phaseDescription(), "Not sharing.");
}

TEST_F(StreamingSessionTest, PacketsFromARefusedChannelAreDropped) {
    const Device first{"First"};
    const Device second{"Second"};
    const auto [media, control] = pairAndApprove(first);
    const auto refusedMedia = connect(Role::media, second.name, second.key);
    const auto refusedControl = connect(Role::control, second.name, second.key);
    ASSERT_TRUE(refusedMedia->isClosed() && refusedControl->isClosed());
    const std::size_t replies = control->sent(Testing::FakePacketChannel::Route::direct).size();
    newTrace();
    const auto listDisplays = TessaloyCore::SessionMessage{TessaloyCore::SessionMessage::ListDisplays{}}.packet();
    receive(refusedControl, Role::control, listDisplays);
    receive(refusedMedia, Role::media, TessaloyCore::WirePacket(TessaloyCore::WirePacket::Kind::transfer, {0xFF}));
    EXPECT_EQ(newTrace(), std::vector<std::string>{});
    EXPECT_EQ(control->sent(Testing::FakePacketChannel::Route::direct).size(), replies);
}

} // namespace
