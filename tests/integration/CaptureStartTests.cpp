#include "tests/integration/MainRoadHarness.h"

#include "platform/ScreenCapture.h"

#include <condition_variable>
#include <mutex>

// A capture start that is still under way when its session ends, on a real desktop. The start is
// held inside the screen capture's factory until the test lets it go, so the order of events is
// the test's, not the scheduler's.
namespace {

using namespace std::chrono_literals;
using Integration::DesktopSessionTest;
using Testing::DeviceSimulator;

constexpr std::uint32_t orange = 0xe08020;

// Holds the first screen capture's creation until opened; later ones pass at once.
class StartGate {
public:
    void pass() {
        std::unique_lock guard(lock_);
        if (used_) return;
        used_ = true;
        entered_ = true;
        changed_.notify_all();
        changed_.wait(guard, [&] { return open_; });
    }
    bool entered() {
        std::lock_guard guard(lock_);
        return entered_;
    }
    void open() {
        {
            std::lock_guard guard(lock_);
            open_ = true;
        }
        changed_.notify_all();
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool used_ = false;
    bool entered_ = false;
    bool open_ = false;
};

class CaptureStart : public DesktopSessionTest {
protected:
    CaptureStart() {
        desktop.showWindow(whole, orange);
        environment.beforeScreenCapture = [gate = gate] { gate->pass(); };
    }
    // A start still held when a test fails must end before the session and the desktop go.
    void TearDown() override {
        gate->open();
        DesktopSessionTest::TearDown();
    }

    // Approves `device` and waits until its capture start is held.
    void approveAndHoldTheStart(DeviceSimulator& device) {
        ASSERT_NO_FATAL_FAILURE(pairAndWait(device));
        session->approvePeer();
        ASSERT_TRUE(until([&] { return gate->entered(); }));
        EXPECT_TRUE(probe->isBusy());
        EXPECT_FALSE(session->isSharing());
    }

    const std::string abandoned = "capture start abandoned: the session ended while it was starting";
    const Bounds whole{0, 0, screenWidth, screenHeight};
    const std::shared_ptr<StartGate> gate = std::make_shared<StartGate>();
};

TEST_F(CaptureStart, AStopWhileCaptureStartsLeavesCaptureStopped) {
    DeviceSimulator device("Ada's iPhone");
    ASSERT_NO_FATAL_FAILURE(approveAndHoldTheStart(device));
    session->stopSharing(StopReason::userStopped());
    EXPECT_TRUE(traced("stopSharing(userStopped) sharing=false advertising=false starting=true"));
    EXPECT_EQ(session->phaseDescription(), "Not sharing.");

    gate->open();
    ASSERT_TRUE(until([&] { return traced(abandoned) && !probe->isBusy(); }));
    EXPECT_FALSE(probe->isRunning());
    EXPECT_EQ(probe->status(), "Capture stopped.");
    EXPECT_FALSE(session->isSharing());
    EXPECT_TRUE(session->pairedDevices().empty()) << "a session that ended before it streamed pairs nothing";
    EXPECT_FALSE(deviceGotTheMacKey(device));
}

TEST_F(CaptureStart, AStartThatEndsAfterItsSessionLeavesTheNextSessionAlone) {
    DeviceSimulator device("Ada's iPhone");
    ASSERT_NO_FATAL_FAILURE(approveAndHoldTheStart(device));
    session->stopSharing(StopReason::userStopped());

    // A new session is approved while the old start is still held: its capture start queues
    // behind the old start and the old session's capture stop.
    ASSERT_NO_FATAL_FAILURE(pairAndWait(device));
    session->approvePeer();
    EXPECT_FALSE(session->isSharing());

    gate->open();
    ASSERT_TRUE(until([&] { return session->isSharing(); })) << probe->status();
    ASSERT_TRUE(until([&] { return !probe->isBusy(); }));
    EXPECT_EQ(traceCount(abandoned), 1u);
    EXPECT_EQ(tracedStartingWith("capture.isRunning=").size(), 1u) << "only the new session looks at its start";
    EXPECT_TRUE(probe->isRunning()) << probe->status();
    EXPECT_EQ(session->phaseDescription(), "Sharing this display.");
    EXPECT_TRUE(traced("stored Ada's iPhone and sent this Mac's key back"));
    ASSERT_TRUE(device.awaitMacExchange());

    // The new session keeps its capture: its pictures keep coming.
    ASSERT_TRUE(pictureShowing(device, whole, orange));
    const Bounds strip{0, 0, screenWidth, 60};
    desktop.showWindow(strip, 0x3050d0);
    ASSERT_TRUE(pictureShowing(device, strip, 0x3050d0)) << "capture stopped after the new session began";
    EXPECT_TRUE(probe->isRunning());
    EXPECT_TRUE(session->isSharing());
    EXPECT_EQ(device.media().tally().failures, 0u) << device.media().tally().lastError;
}

} // namespace
