#include "tests/integration/MainRoadHarness.h"

#include "app/shell/ListenerEventRouter.h"

#include "tests/support/LoopbackRelay.h"
#include "tests/support/MovingPicture.h"

#include <regex>

// How the capture of a running session paces itself against the desktop and the device, end to
// end: a still desktop goes quiet after one sharper frame, and a device that stops reading holds the
// capture back without the send queue growing, until it reads again.
namespace {

using namespace std::chrono_literals;
using Integration::DesktopSessionTest;
using Testing::DeviceMediaReceiver;
using Testing::DeviceSimulator;

constexpr std::uint32_t navy = 0x203060;
constexpr std::uint32_t white = 0xf0f0f0;
constexpr std::uint32_t green = 0x30b040;

// The send queue as the capture's summary shows it: "Send queue: 2 of 16 frames, 48 KiB, 3 dropped".
struct QueueReading {
    std::size_t frames = 0;
    std::size_t kibibytes = 0;
    std::uint64_t dropped = 0;
};

std::optional<QueueReading> readQueue(const std::optional<std::string>& summary) {
    static const std::regex pattern(R"(Send queue: (\d+) of \d+ frames, (\d+) KiB, (\d+) dropped.*)");
    std::smatch match;
    if (!summary || !std::regex_match(*summary, match, pattern)) return std::nullopt;
    return QueueReading{std::stoul(match[1]), std::stoul(match[2]), std::stoull(match[3])};
}

class CapturePacing : public DesktopSessionTest {
protected:
    const Bounds whole{0, 0, screenWidth, screenHeight};
};

TEST_F(CapturePacing, AStillDesktopSendsNothingAfterItsRefinementFrame) {
    const ::Window window = desktop.showWindow(whole, navy);
    desktop.movePointer(screenWidth - 1, screenHeight - 1);
    DeviceSimulator device("Ada's iPhone");
    ASSERT_NO_FATAL_FAILURE(pairAndApprove(device));
    ASSERT_TRUE(pictureShowing(device, whole, navy));
    auto& media = device.media();
    const auto refined = [](const DeviceMediaReceiver::Tally& tally) { return tally.lastWasRefinement; };
    ASSERT_TRUE(media.waitUntil(refined, 10s, pumping())) << "the first picture was not refined";

    // One change: its frames, then exactly one refinement.
    const auto beforeChange = media.tally();
    const Bounds area{200, 100, 160, 120};
    desktop.fill(window, area, white);
    ASSERT_TRUE(pictureShowing(device, area, white));
    ASSERT_TRUE(media.waitUntil(refined, 10s, pumping())) << "the change was not refined";
    const auto afterChange = media.tally();
    EXPECT_GT(afterChange.frames, beforeChange.frames + 1);
    EXPECT_EQ(afterChange.refinements, beforeChange.refinements + 1);

    // Quiet: ten seconds of the main actor's time over two and a half of real capture ticks. The
    // capture's timers keep real time on its queue, and the probe's count comes with their report of
    // every second: the first quiet second is a real one, so that the refinement is counted.
    const auto quietSecond = [&] {
        environment.actor.advance(1s);
        until([] { return false; }, 150ms);
    };
    environment.actor.advance(1s);
    until([] { return false; }, 1'100ms);
    const std::int64_t encoded = probe->encodedFrameCount();
    for (int second = 1; second < 10; ++second) quietSecond();
    const auto quiet = media.tally();
    EXPECT_EQ(quiet.frames, afterChange.frames) << "a still desktop sent frames";
    EXPECT_EQ(probe->encodedFrameCount(), encoded);
    EXPECT_GT(encoded, 0);
    EXPECT_TRUE(session->isSharing());
    EXPECT_EQ(quiet.failures, 0u) << quiet.lastError;
}

TEST_F(CapturePacing, ADeviceThatStopsReadingHoldsTheCaptureBackUntilItReadsAgain) {
    const ::Window background = desktop.showWindow(whole, navy);
    // A slow link from the start (see LoopbackRelay), so that the Mac's buffers stay small.
    Testing::LoopbackRelay relay(endpoint(),
                                 {.receiveBuffer = 4 * 1024, .segmentSize = 1'400, .bytesPerSecond = 64 * 1024});
    DeviceSimulator device("Ada's iPhone");
    // The device waits for the Mac longer than it stops reading.
    TessaloyNet::TlsPacketChannelOptions patient;
    patient.readTimeout = 60s;
    device.setChannelOptions(patient);
    ASSERT_NO_FATAL_FAILURE(pairAndApprove(device, relay.endpoint()));
    ASSERT_TRUE(pictureShowing(device, whole, navy));
    auto& media = device.media();

    // Video that the link cannot carry: the device still gets pictures, fewer of them.
    Testing::MovingPicture noise(desktop.connection(), screenWidth, screenHeight,
                                 Testing::MovingPicture::Pattern::noise);
    std::vector<QueueReading> readings;
    const auto animate = [&](const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            noise.step();
            if (const auto reading = readQueue(probe->queueSummary())) readings.push_back(*reading);
            if (until(done, 30ms)) return true;
        }
        return false;
    };
    const auto picturesBefore = media.tally().pictures;
    ASSERT_TRUE(animate([&] { return media.tally().pictures >= picturesBefore + 5; }, 10s));

    // The device stops reading: the capture holds its pictures back (counted as dropped) rather
    // than queueing them, and the session goes on.
    relay.hold();
    const std::int64_t droppedBefore = probe->droppedFrames();
    ASSERT_TRUE(animate([&] { return probe->droppedFrames() > droppedBefore + 30; }, 20s))
        << probe->queueSummary().value_or("no queue summary");
    const auto stalled = media.tally();
    animate([] { return false; }, 1s);
    EXPECT_EQ(media.tally().frames, stalled.frames) << "the device read while it was held";
    EXPECT_TRUE(session->isSharing());
    ASSERT_FALSE(readings.empty());
    for (const auto& reading : readings) {
        EXPECT_LE(reading.frames, Plovander::ListenerEventRouter::pendingFramesLimit);
        EXPECT_LE(reading.kibibytes * 1024, Plovander::ListenerEventRouter::pendingBytesLimit);
    }
    EXPECT_GE(readings.back().frames, Plovander::ListenerEventRouter::pendingFramesLimit / 2) << "nothing was held";

    // Reading again, the device catches up and decodes the desktop as it is now.
    relay.release();
    desktop.fill(background, whole, green);
    noise.fill(green);
    ASSERT_TRUE(pictureShowing(device, whole, green)) << "no picture after reading again";
    const auto after = media.tally();
    EXPECT_GT(after.frames, stalled.frames);
    EXPECT_EQ(after.failures, 0u) << after.lastError;
    EXPECT_EQ(after.framesBeforeKeyframe + after.framesOfAnotherGeneration + after.framesWithoutConfiguration, 0u);
    EXPECT_TRUE(session->isSharing());
    EXPECT_EQ(session->phaseDescription(), "Sharing this display.");
}

} // namespace
