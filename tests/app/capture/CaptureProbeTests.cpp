#include "app/capture/CaptureProbe.h"

#include "core/VideoConfiguration.h"
#include "core/VideoFrame.h"
#include "tests/media/TestPictures.h"
#include "tests/support/FakeAudioCapture.h"
#include "tests/support/FakeDisplays.h"
#include "tests/support/FakeEnvironment.h"
#include "tests/support/FakePacketChannel.h"
#include "tests/support/FakeScreenCapture.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/ManualQueueClock.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Plovander::CaptureProbe;
using TessaloyCore::QualityMode;
using TessaloyCore::QualityRung;
using TessaloyCore::VideoCodec;
using TessaloyCore::WirePacket;
using Testing::FakeDisplays;

constexpr int displayWidth = 320;
constexpr int displayHeight = 180;

// A rung whose picture is the test display's size, so encoding stays quick.
QualityRung smallRung() {
    QualityRung rung = QualityRung::ladder(QualityMode::saver).back();
    rung.profile.width = displayWidth;
    rung.profile.height = displayHeight;
    return rung;
}

// The probe's platform: one fake of each capture kept by the test, and a failure text for each
// factory while the test sets one.
class ProbeEnvironment final : public Testing::FakeEnvironment {
    TessaloyBase::SerialQueue& captureQueue_;
    TessaloyBase::SerialQueue& audioQueue_;

public:
    ProbeEnvironment(TessaloyBase::SerialQueue& captureQueue, TessaloyBase::SerialQueue& audioQueue)
        : captureQueue_(captureQueue), audioQueue_(audioQueue) {}

    std::shared_ptr<Platform::Displays> displays(std::string* whyNot) override {
        if (!displaysWhyNot.empty()) {
            *whyNot = displaysWhyNot;
            return nullptr;
        }
        return displayFake;
    }
    std::shared_ptr<Platform::ScreenCapture> screenCapture(TessaloyBase::SerialQueue& queue,
                                                           std::string* whyNot) override {
        EXPECT_EQ(&queue, &captureQueue_);
        if (!captureWhyNot.empty()) {
            *whyNot = captureWhyNot;
            return nullptr;
        }
        return stream;
    }
    std::shared_ptr<Platform::AudioCapture> audioCapture(TessaloyBase::SerialQueue& queue) override {
        EXPECT_EQ(&queue, &audioQueue_);
        return audio;
    }

    std::shared_ptr<FakeDisplays> displayFake = std::make_shared<FakeDisplays>();
    std::shared_ptr<Testing::FakeScreenCapture> stream = std::make_shared<Testing::FakeScreenCapture>(captureQueue_);
    std::shared_ptr<Testing::FakeAudioCapture> audio = std::make_shared<Testing::FakeAudioCapture>(audioQueue_);
    // Set by the test before the probe asks.
    std::string displaysWhyNot;
    std::string captureWhyNot;
};

class CaptureProbeTest : public ::testing::Test {
protected:
    CaptureProbeTest() {
        displays->setDisplays({FakeDisplays::display(11, displayWidth, displayHeight, true, "Built-in"),
                               FakeDisplays::display(12, 640, 360, false)});
        QObject::connect(&probe, &CaptureProbe::isBusyChanged, [this] { busyChanges.push_back(probe.isBusy()); });
        QObject::connect(&probe, &CaptureProbe::statusChanged, [this] { statuses.push_back(probe.status()); });
        probe.onStopped = [this](const std::string& reason) { stops.push_back(reason); };
    }

    // Runs a probe task to its end on the manual main actor.
    template <typename Result>
    Result run(QCoro::Task<Result> task) {
        std::optional<Result> result;
        [](QCoro::Task<Result> awaited, std::optional<Result>& into) -> QCoro::Task<> {
            into = co_await std::move(awaited);
        }(std::move(task), result);
        EXPECT_TRUE(actor.runUntil([&] { return result.has_value(); })) << "the task did not end";
        return result.value_or(Result{});
    }
    void run(QCoro::Task<> task) {
        bool done = false;
        [](QCoro::Task<> awaited, bool& into) -> QCoro::Task<> {
            co_await std::move(awaited);
            into = true;
        }(std::move(task), done);
        EXPECT_TRUE(actor.runUntil([&] { return done; })) << "the task did not end";
    }

    void startSending(std::optional<QualityRung> rung = smallRung(), VideoCodec codec = VideoCodec::h264) {
        run(probe.start(sender, rung, codec));
        ASSERT_TRUE(probe.isRunning()) << probe.status();
    }
    void startEncoderTest() {
        run(probe.start(nullptr, std::nullopt, VideoCodec::h264));
        ASSERT_TRUE(probe.isRunning()) << probe.status();
    }

    void showNextPicture() {
        picture.animate(++step);
        ASSERT_TRUE(stream->deliver(picture.view()));
    }
    // Lets a second pass so that the capture's next report is waiting on the main actor, not yet run:
    // the capture's clock moves after the actor's, so the report reaches the actor last.
    void leaveAReportWaiting() {
        actor.advance(1s);
        clock.advance(1s);
    }
    // Moves time and lets the capture queue and the main actor catch up.
    void advance(std::chrono::duration<double> time) {
        clock.advance(time);
        actor.advance(time);
        captureQueue.sync([] {});
        actor.runUntilIdle();
    }

    TessaloyBase::SerialQueue captureQueue{"dev.tessaloy.capture"};
    TessaloyBase::SerialQueue audioQueue{"dev.tessaloy.capture-audio"};
    ProbeEnvironment environment{captureQueue, audioQueue};
    Testing::ManualMainActor& actor = environment.actor;
    const std::shared_ptr<FakeDisplays>& displays = environment.displayFake;
    const std::shared_ptr<Testing::FakeScreenCapture>& stream = environment.stream;
    const std::shared_ptr<Testing::FakeAudioCapture>& audio = environment.audio;
    std::string& displaysWhyNot = environment.displaysWhyNot;
    std::string& captureWhyNot = environment.captureWhyNot;
    std::shared_ptr<Testing::FakePacketChannel> channel = std::make_shared<Testing::FakePacketChannel>();
    std::shared_ptr<TessaloyNet::VideoSendQueue> sendQueue =
        std::make_shared<TessaloyNet::VideoSendQueue>(16, 8'388'608);
    std::shared_ptr<TessaloyNet::VideoSender> sender = std::make_shared<TessaloyNet::VideoSender>(channel, sendQueue);
    MediaTesting::TestPicture picture{displayWidth, displayHeight};
    int step = 0;
    std::vector<bool> busyChanges;
    std::vector<std::string> statuses;
    std::vector<std::string> stops;
    // Last: it stops capture before the fakes go.
    Testing::ManualQueueClock clock;
    CaptureProbe probe{environment, captureQueue, audioQueue, clock};
};

TEST_F(CaptureProbeTest, ListingPublishesTheDisplaysSelectsTheFirstAndSaysWhatNext) {
    int displaysSignals = 0;
    QObject::connect(&probe, &CaptureProbe::displaysChanged, [&] { ++displaysSignals; });
    run(probe.refreshDisplays());
    ASSERT_EQ(probe.displays().size(), 2u);
    EXPECT_EQ(probe.displays()[1].displayID, 12u);
    EXPECT_EQ(probe.selectedDisplayID(), 11u);
    EXPECT_EQ(probe.status(), "Choose a display, then start capture.");
    EXPECT_EQ(busyChanges, (std::vector<bool>{true, false}));
    EXPECT_EQ(displaysSignals, 1);

    // The same list again publishes nothing new, and the first display is chosen again.
    probe.setSelectedDisplayID(12);
    run(probe.refreshDisplays());
    EXPECT_EQ(displaysSignals, 1);
    EXPECT_EQ(probe.selectedDisplayID(), 11u);
}

TEST_F(CaptureProbeTest, AnEmptyListingSaysSoAndSelectsNothing) {
    run(probe.refreshDisplays());
    displays->setDisplays({});
    run(probe.refreshDisplays());
    EXPECT_TRUE(probe.displays().empty());
    EXPECT_EQ(probe.selectedDisplayID(), 0u);
    EXPECT_EQ(probe.status(), "No displays available.");
    EXPECT_FALSE(probe.isBusy());
}

TEST_F(CaptureProbeTest, AFailedListingPointsToThePermissionWithThePlatformsText) {
    displays->setFailure("RandR is missing");
    run(probe.refreshDisplays());
    EXPECT_EQ(probe.status(),
              "Cannot list displays. Check Screen Recording in System Settings → Privacy & Security, then relaunch if "
              "needed. RandR is missing");
    EXPECT_TRUE(probe.displays().empty());
    EXPECT_EQ(busyChanges, (std::vector<bool>{true, false}));

    displaysWhyNot = "cannot open display :99";
    run(probe.refreshDisplays());
    EXPECT_EQ(probe.status(),
              "Cannot list displays. Check Screen Recording in System Settings → Privacy & Security, then relaunch if "
              "needed. cannot open display :99");
}

TEST_F(CaptureProbeTest, ListingDoesNothingWhileCaptureRuns) {
    run(probe.refreshDisplays());
    startEncoderTest();
    const std::size_t listings = displays->listCount();
    const std::string status = probe.status();
    run(probe.refreshDisplays());
    EXPECT_EQ(displays->listCount(), listings);
    EXPECT_EQ(probe.status(), status);
}

TEST_F(CaptureProbeTest, TheEncoderTestCapturesTheSelectedDisplayAndSendsNothing) {
    run(probe.refreshDisplays());
    busyChanges.clear();
    startEncoderTest();
    EXPECT_EQ(busyChanges, (std::vector<bool>{true, false}));
    EXPECT_EQ(probe.status(), "Testing the encoder on Built-in: 320x180 at 30 fps, H.264 (libx264); nothing is sent.");
    EXPECT_EQ(probe.codec(), VideoCodec::h264);
    EXPECT_EQ(probe.rung(), CaptureProbe::encoderTestRung());
    ASSERT_EQ(stream->configurations().size(), 1u);
    EXPECT_EQ(stream->configurations()[0].displayID, 11u);
    EXPECT_EQ(stream->configurations()[0].framesPerSecond, 30);
    EXPECT_TRUE(stream->configurations()[0].showsCursor);
    EXPECT_FALSE(audio->isRunning());
    ASSERT_NE(probe.encodingOutput(), nullptr);

    for (int i = 0; i < 3; ++i) showNextPicture();
    advance(1s);
    EXPECT_EQ(probe.frameCount(), 3);
    EXPECT_EQ(probe.encodedFrameCount(), 3);
    EXPECT_GT(probe.encodedBytes(), 0);
    EXPECT_EQ(probe.droppedFrames(), 0);
    EXPECT_EQ(probe.captureSummary(), "Capture: 3.0 of 30 fps from 320x180");
    ASSERT_TRUE(probe.encodeSummary().has_value());
    EXPECT_EQ(probe.encodeSummary()->rfind("Encode: libx264 320x180, ", 0), 0u) << *probe.encodeSummary();
    EXPECT_NE(probe.encodeSummary()->find(" ms per frame (max "), std::string::npos);
    EXPECT_NE(probe.encodeSummary()->find(", grab to packet "), std::string::npos);
    EXPECT_NE(probe.encodeSummary()->find(" of 6000 kbit/s"), std::string::npos);
    EXPECT_FALSE(probe.queueSummary().has_value());
    EXPECT_FALSE(probe.roundTripSummary().has_value());
}

TEST_F(CaptureProbeTest, StartingWithoutAListingCapturesTheFirstDisplay) {
    startEncoderTest();
    EXPECT_EQ(probe.selectedDisplayID(), 11u);
    EXPECT_EQ(stream->configurations().at(0).displayID, 11u);
    EXPECT_TRUE(probe.displays().empty());
}

TEST_F(CaptureProbeTest, ASessionCaptureSendsToItsSenderWithSoundAndMeasuresTheQueue) {
    run(probe.refreshDisplays());
    probe.setSelectedDisplayID(12);
    sender->attach();
    startSending(smallRung(), VideoCodec::hevc);
    EXPECT_EQ(probe.status(), "Capturing display 12 as 320x180 at 15 fps, HEVC (libx265).");
    EXPECT_EQ(probe.codec(), VideoCodec::hevc);
    EXPECT_EQ(probe.rung(), smallRung());
    EXPECT_EQ(stream->configurations().at(0).displayID, 12u);
    EXPECT_EQ(stream->configurations().at(0).framesPerSecond, 15);
    EXPECT_TRUE(audio->isRunning());
    ASSERT_EQ(audio->formats().size(), 1u);
    EXPECT_EQ(audio->formats()[0].sampleRate, 48000);

    // Display 12 is 640x360: the picture keeps its shape within the rung.
    for (int i = 0; i < 6; ++i) showNextPicture();
    channel->addRoundTrip(0.012);
    advance(1s);
    EXPECT_EQ(probe.frameCount(), 6);
    EXPECT_EQ(probe.queueSummary(), "Send queue: " + std::to_string(sendQueue->counters().queuedFrames) +
                                        " of 16 frames, " + std::to_string(sendQueue->counters().queuedBytes / 1024) +
                                        " KiB, 0 dropped");
    EXPECT_EQ(probe.roundTripSummary(), "Round trip: median 12 ms, p95 12 ms, max 12 ms");
    const auto packets = channel->pull(100);
    ASSERT_FALSE(packets.empty());
    const auto configuration = TessaloyCore::VideoConfiguration::decode(packets[0]);
    EXPECT_EQ(configuration.codec, VideoCodec::hevc);
    EXPECT_EQ(configuration.width, 320u);
    EXPECT_EQ(configuration.height, 180u);
}

TEST_F(CaptureProbeTest, AStartThePlatformRefusesSaysWhyAndLeavesNothingRunning) {
    stream->setStartFailure(
        Platform::ScreenCaptureError(Platform::ScreenCaptureError::Kind::unsupportedScreen, "the screen is 8-bit"));
    run(probe.start(nullptr, std::nullopt, VideoCodec::h264));
    EXPECT_EQ(probe.status(), "Could not start capture: the screen is 8-bit");
    EXPECT_FALSE(probe.isRunning());
    EXPECT_FALSE(probe.isBusy());
    EXPECT_EQ(probe.encodingOutput(), nullptr);
    EXPECT_EQ(busyChanges, (std::vector<bool>{true, false}));
}

TEST_F(CaptureProbeTest, EveryStepOfAStartCanFailWithItsOwnText) {
    probe.setSelectedDisplayID(99);
    run(probe.start(nullptr, std::nullopt, VideoCodec::h264));
    EXPECT_EQ(probe.status(), "Could not start capture: display 99 is not available");

    probe.setSelectedDisplayID(11);
    captureWhyNot = "cannot open display :42";
    run(probe.start(nullptr, std::nullopt, VideoCodec::h264));
    EXPECT_EQ(probe.status(), "Could not start capture: cannot open display :42");

    captureWhyNot.clear();
    QualityRung impossible = smallRung();
    impossible.profile.framesPerSecond = 0;
    run(probe.start(nullptr, impossible, VideoCodec::h264));
    EXPECT_EQ(probe.status(), "Could not start capture: unsupported frame rate 0");

    displays->setDisplays({});
    run(probe.start(nullptr, std::nullopt, VideoCodec::h264));
    EXPECT_EQ(probe.status(), "Could not start capture: there is no display to capture");
    EXPECT_FALSE(probe.isRunning());
    EXPECT_EQ(stream->startCount(), 0u);
}

TEST_F(CaptureProbeTest, StopEndsCaptureAndSoundAndSaysSo) {
    startSending();
    busyChanges.clear();
    run(probe.stop());
    EXPECT_FALSE(probe.isRunning());
    EXPECT_EQ(probe.status(), "Capture stopped.");
    EXPECT_EQ(busyChanges, (std::vector<bool>{true, false}));
    EXPECT_EQ(stream->stopCount(), 1u);
    EXPECT_FALSE(audio->isRunning());
    EXPECT_EQ(probe.encodingOutput(), nullptr);
    EXPECT_TRUE(stops.empty());

    // Nothing runs: nothing to do.
    statuses.clear();
    run(probe.stop());
    EXPECT_TRUE(statuses.empty());
    EXPECT_EQ(stream->stopCount(), 1u);
}

TEST_F(CaptureProbeTest, AStopWaitsForTheCaptureQueueWithoutHoldingTheMainActor) {
    startSending();
    std::promise<void> release;
    captureQueue.async([held = release.get_future().share()] { held.wait(); });
    bool stopped = false;
    [](QCoro::Task<> stopping, bool& done) -> QCoro::Task<> {
        co_await std::move(stopping);
        done = true;
    }(probe.stop(), stopped);
    actor.runUntilIdle();
    EXPECT_TRUE(probe.isBusy());
    EXPECT_EQ(stream->stopCount(), 0u);
    release.set_value();
    EXPECT_TRUE(actor.runUntil([&] { return stopped; }));
    EXPECT_EQ(stream->stopCount(), 1u);
    EXPECT_FALSE(probe.isRunning());
}

TEST_F(CaptureProbeTest, AStopThePlatformRefusesKeepsCaptureRunningForARetry) {
    startEncoderTest();
    stream->setStopFailure("the server does not answer");
    run(probe.stop());
    EXPECT_EQ(probe.status(), "Could not stop capture; retry or quit Plovander. the server does not answer");
    EXPECT_TRUE(probe.isRunning());
    EXPECT_FALSE(probe.isBusy());

    // Still measured.
    showNextPicture();
    advance(1s);
    EXPECT_EQ(probe.frameCount(), 1);

    stream->setStopFailure(std::nullopt);
    run(probe.stop());
    EXPECT_EQ(probe.status(), "Capture stopped.");
    EXPECT_FALSE(probe.isRunning());
}

TEST_F(CaptureProbeTest, ReportsOfAStoppedOrReplacedCaptureAreIgnored) {
    startEncoderTest();
    showNextPicture();
    advance(1s);
    ASSERT_EQ(probe.frameCount(), 1);

    // A report on its way while the capture is replaced by one that fails.
    showNextPicture();
    showNextPicture();
    leaveAReportWaiting();
    displays->setFailure("gone");
    run(probe.start(nullptr, std::nullopt, VideoCodec::h264));
    ASSERT_FALSE(probe.isRunning());
    EXPECT_EQ(probe.frameCount(), 1);

    // The same while a capture stops.
    displays->setFailure(std::nullopt);
    startEncoderTest();
    EXPECT_EQ(probe.frameCount(), 0);
    showNextPicture();
    leaveAReportWaiting();
    run(probe.stop());
    EXPECT_EQ(probe.frameCount(), 0);
    EXPECT_EQ(probe.encodedFrameCount(), 0);
}

TEST_F(CaptureProbeTest, ThePointerSettingReachesTheRunningStreamAndLaterOnes) {
    EXPECT_FALSE(run(probe.setCursorInVideo(false)));
    EXPECT_FALSE(probe.cursorInVideo());
    startEncoderTest();
    EXPECT_FALSE(stream->configurations().at(0).showsCursor);

    EXPECT_TRUE(run(probe.setCursorInVideo(true)));
    EXPECT_TRUE(stream->showsCursor());
    stream->setAcceptsCursorChanges(false);
    EXPECT_FALSE(run(probe.setCursorInVideo(false)));
    EXPECT_EQ(stream->cursorChanges(), (std::vector<bool>{true, false}));
    // setCursorInVideo is not a start or a stop.
    EXPECT_EQ(busyChanges, (std::vector<bool>{true, false}));
}

TEST_F(CaptureProbeTest, ACaptureThatEndsOnItsOwnStopsAndTellsTheSession) {
    startSending();
    stream->endOnItsOwn("display 11 is no longer available");
    ASSERT_TRUE(actor.runUntil([&] { return !probe.isRunning(); }));
    EXPECT_EQ(probe.status(), "Screen capture stopped. display 11 is no longer available");
    EXPECT_EQ(stops, std::vector<std::string>{"display 11 is no longer available"});
    EXPECT_FALSE(audio->isRunning());
    EXPECT_EQ(probe.encodingOutput(), nullptr);
}

TEST_F(CaptureProbeTest, AnEncoderFailureStopsCaptureWithItsText) {
    startEncoderTest();
    TessaloyBase::FrameView broken = picture.view();
    broken.bytesPerRow = 16;
    ASSERT_TRUE(stream->deliver(broken));
    ASSERT_TRUE(actor.runUntil([&] { return !probe.isRunning(); }));
    EXPECT_EQ(probe.status().rfind("Encoder failed: ", 0), 0u) << probe.status();
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_EQ(stops[0], probe.status());
    EXPECT_EQ(stream->stopCount(), 1u);
}

TEST_F(CaptureProbeTest, RestartKeepsTheSenderAndTakesANewRungWithANewerStream) {
    sender->attach();
    startSending();
    showNextPicture();
    const auto before = channel->pull(100);
    ASSERT_FALSE(before.empty());
    const auto firstGeneration = TessaloyCore::VideoConfiguration::decode(before[0]).streamGeneration;

    QualityRung other = smallRung();
    other.profile.framesPerSecond = 24;
    EXPECT_TRUE(run(probe.restart(other)));
    EXPECT_TRUE(probe.isRunning());
    EXPECT_EQ(probe.rung(), other);
    ASSERT_EQ(stream->configurations().size(), 2u);
    EXPECT_EQ(stream->configurations()[1].framesPerSecond, 24);

    showNextPicture();
    const auto after = channel->pull(100);
    ASSERT_FALSE(after.empty());
    EXPECT_GT(TessaloyCore::VideoConfiguration::decode(after[0]).streamGeneration, firstGeneration);
    EXPECT_TRUE(TessaloyCore::VideoFrame::decode(after.at(1)).isKeyframe);

    // Same rung, other codec.
    EXPECT_TRUE(run(probe.restart(std::nullopt, VideoCodec::hevc)));
    EXPECT_EQ(probe.codec(), VideoCodec::hevc);
    EXPECT_EQ(probe.rung(), other);

    // Another display: everything else as it was.
    probe.setSelectedDisplayID(12);
    EXPECT_TRUE(run(probe.restart()));
    EXPECT_EQ(stream->configurations().back().displayID, 12u);
    EXPECT_EQ(probe.codec(), VideoCodec::hevc);
    EXPECT_EQ(probe.status(), "Capturing display 12 as 320x180 at 24 fps, HEVC (libx265).");

    run(probe.stop());
    EXPECT_FALSE(run(probe.restart()));
    EXPECT_FALSE(probe.isRunning());
}

TEST_F(CaptureProbeTest, APressedLadderRestartsCaptureOneRungDown) {
    const auto rungs = QualityRung::ladder(QualityMode::saver);
    startSending(rungs[0]);
    // Nothing is pulled: the send queue stays half full, the bitrate falls, then the ladder steps.
    for (int i = 0; i < 8; ++i) showNextPicture();
    for (int second = 0; second < 15 && stream->startCount() < 2; ++second) advance(1s);
    ASSERT_TRUE(actor.runUntil([&] { return probe.rung() == rungs[1] && !probe.isBusy(); }));
    EXPECT_TRUE(probe.isRunning());
    EXPECT_EQ(stream->configurations().back().framesPerSecond, rungs[1].profile.framesPerSecond);
}

TEST_F(CaptureProbeTest, OperationsTakeTurnsInTheOrderAsked) {
    startEncoderTest();
    busyChanges.clear();
    bool stopped = false;
    bool started = false;
    [](CaptureProbe& target, bool& done) -> QCoro::Task<> {
        co_await target.stop();
        done = true;
    }(probe, stopped);
    [](CaptureProbe& target, bool& done) -> QCoro::Task<> {
        co_await target.start(nullptr, std::nullopt, VideoCodec::h264);
        done = true;
    }(probe, started);
    ASSERT_TRUE(actor.runUntil([&] { return stopped && started; }));
    EXPECT_TRUE(probe.isRunning());
    EXPECT_EQ(stream->startCount(), 2u);
    EXPECT_EQ(stream->stopCount(), 1u);
    // Busy from the first call to the end of the last.
    EXPECT_EQ(busyChanges, (std::vector<bool>{true, false}));
}

} // namespace
