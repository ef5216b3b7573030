#include "app/capture/CaptureEncodingOutput.h"

#include "core/VideoConfiguration.h"
#include "core/VideoFrame.h"
#include "tests/media/TestPictures.h"
#include "tests/support/FakePacketChannel.h"
#include "tests/support/FakeScreenCapture.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/ManualQueueClock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Plovander::CaptureEncodingOutput;
using TessaloyCore::VideoCodec;
using TessaloyCore::VideoConfiguration;
using TessaloyCore::VideoFrame;
using TessaloyCore::WirePacket;
using TessaloyMedia::VideoEncoder;

constexpr int width = 160;
constexpr int height = 96;
constexpr std::uint64_t generation = 7;
constexpr std::chrono::duration<double> frameInterval{1.0 / 30};

VideoEncoder::Settings settingsFor(VideoCodec codec) {
    VideoEncoder::Settings settings;
    settings.codec = codec;
    settings.width = width;
    settings.height = height;
    settings.framesPerSecond = 30;
    settings.bitrate = 500'000;
    settings.keyframeIntervalSeconds = 10;
    settings.threads = 1;
    settings.renderNode.clear();
    return settings;
}

// The manual actor, whose date a user may set.
class AdjustableActor final : public TessaloyBase::MainActor {
public:
    explicit AdjustableActor(Testing::ManualMainActor& actor) : actor_(actor) {}

    void post(std::function<void()> work) override { actor_.post(std::move(work)); }
    TessaloyBase::ScheduledCall after(Duration delay, std::function<void()> work) override {
        return actor_.after(delay, std::move(work));
    }
    Date now() const override {
        std::lock_guard guard(lock_);
        return actor_.now() + clockChange_;
    }
    bool isCurrent() const override { return actor_.isCurrent(); }

    // Sets the date the actor tells by `change`, as a user adjusting the clock would; timers keep
    // their pace.
    void changeClock(Date::duration change) {
        std::lock_guard guard(lock_);
        clockChange_ += change;
    }

private:
    Testing::ManualMainActor& actor_;
    mutable std::mutex lock_;
    Date::duration clockChange_{};
};

// The manual queue clock, counting the calls scheduled on it.
class CountingClock final : public TessaloyBase::QueueClock {
public:
    Instant now() const override { return manual.now(); }
    TessaloyBase::ScheduledCall after(TessaloyBase::SerialQueue& queue, Duration delay,
                                      std::function<void()> work) override {
        ++scheduled_;
        return manual.after(queue, delay, std::move(work));
    }
    int scheduled() const { return scheduled_.load(); }

    Testing::ManualQueueClock manual;

private:
    std::atomic<int> scheduled_{0};
};

// What the output reported on the main actor.
struct Reports {
    std::vector<CaptureEncodingOutput::Statistics> statistics;
    std::vector<std::string> failures;
    std::vector<std::size_t> steps;
};

class CaptureEncodingOutputTest : public ::testing::Test {
protected:
    ~CaptureEncodingOutputTest() override {
        queue.sync([&] {
            if (output) output->finish();
            stream->stop();
        });
    }

    void makeOutput(VideoCodec codec = VideoCodec::h264, bool sending = true,
                    std::optional<CaptureEncodingOutput::Adaptation> adaptation = std::nullopt) {
        CaptureEncodingOutput::Events events;
        events.onStatistics = [this](const CaptureEncodingOutput::Statistics& statistics) {
            EXPECT_TRUE(actor.isCurrent());
            reports.statistics.push_back(statistics);
        };
        events.onFailure = [this](std::uint64_t from, const std::string& text) {
            EXPECT_EQ(from, generation);
            reports.failures.push_back(text);
        };
        events.onQualityStep = [this](std::uint64_t from, const TessaloyCore::QualityLadder& ladder) {
            EXPECT_EQ(from, generation);
            reports.steps.push_back(ladder.rung());
        };
        output = std::make_shared<CaptureEncodingOutput>(queue, adjustableActor, settingsFor(codec),
                                                         sending ? sender : nullptr, adaptation, stream, generation,
                                                         events, clock);
        queue.sync([&] {
            stream->start({.displayID = 1, .framesPerSecond = 30, .showsCursor = true},
                          {.onFrame = [output = output](const TessaloyBase::FrameView& frame) { output->take(frame); },
                           .onStopped = {},
                           .onNote = {}});
        });
        output->begin();
        settle();
    }

    // Lets the timers due now hop to the capture queue, run there, and report back.
    void settle() {
        actor.runUntilIdle();
        queue.sync([] {});
        actor.runUntilIdle();
    }
    void advance(std::chrono::duration<double> time) {
        clock.manual.advance(time);
        actor.advance(time);
        settle();
    }

    void showNextPicture() {
        picture.animate(++step);
        ASSERT_TRUE(stream->deliver(picture.view()));
    }
    void showSamePicture() { ASSERT_TRUE(stream->deliver(picture.view())); }

    std::vector<WirePacket> pullAll() { return channel->pull(1'000); }
    static std::vector<VideoFrame> framesIn(const std::vector<WirePacket>& packets) {
        std::vector<VideoFrame> frames;
        for (const auto& packet : packets) {
            if (packet.kind() == WirePacket::Kind::videoFrame) frames.push_back(VideoFrame::decode(packet));
        }
        return frames;
    }

    Testing::ManualMainActor actor;
    AdjustableActor adjustableActor{actor};
    CountingClock clock;
    TessaloyBase::SerialQueue queue{"dev.tessaloy.capture"};
    std::shared_ptr<Testing::FakeScreenCapture> stream = std::make_shared<Testing::FakeScreenCapture>(queue);
    std::shared_ptr<Testing::FakePacketChannel> channel = std::make_shared<Testing::FakePacketChannel>();
    std::shared_ptr<TessaloyNet::VideoSendQueue> sendQueue =
        std::make_shared<TessaloyNet::VideoSendQueue>(16, 8'388'608);
    std::shared_ptr<TessaloyNet::VideoSender> sender = [&] {
        auto made = std::make_shared<TessaloyNet::VideoSender>(channel, sendQueue);
        made->attach();
        return made;
    }();
    MediaTesting::TestPicture picture{width, height};
    int step = 0;
    Reports reports;
    std::shared_ptr<CaptureEncodingOutput> output;
};

TEST_F(CaptureEncodingOutputTest, SendsTheConfigurationThenAKeyframeThenDeltas) {
    makeOutput();
    showSamePicture();
    showNextPicture();
    const auto packets = pullAll();
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0].kind(), WirePacket::Kind::videoConfiguration);
    const auto configuration = VideoConfiguration::decode(packets[0]);
    EXPECT_EQ(configuration.codec, VideoCodec::h264);
    EXPECT_EQ(configuration.width, static_cast<std::uint32_t>(width));
    const auto frames = framesIn(packets);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(frames[0].isKeyframe);
    EXPECT_FALSE(frames[1].isKeyframe);
    EXPECT_FALSE(frames[0].isRefinement);
    EXPECT_EQ(frames[0].presentationMicroseconds, 0u);
    EXPECT_GT(frames[1].presentationMicroseconds, 0u);
}

TEST_F(CaptureEncodingOutputTest, HoldsPicturesWhileTheSendQueueIsHalfFullAndAsksForTheLatestOneAfter) {
    makeOutput();
    // Nothing is pulled: the queue fills to half its 16 frames, then pictures are held.
    for (int i = 0; i < 12; ++i) showNextPicture();
    EXPECT_EQ(sendQueue->counters().queuedFrames, 8u);
    const std::size_t requestsWhileHeld = stream->frameRequests();

    // Still full a frame interval later: still held, and nothing asked for.
    advance(frameInterval);
    EXPECT_EQ(stream->frameRequests(), requestsWhileHeld);
    ASSERT_EQ(framesIn(pullAll()).size(), 8u);

    // Drained: the next poll asks for the current picture, encoded as a plain delta.
    advance(frameInterval);
    EXPECT_EQ(stream->frameRequests(), requestsWhileHeld + 1);
    showSamePicture();
    const auto frames = framesIn(pullAll());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_FALSE(frames[0].isKeyframe);

    advance(1s);
    ASSERT_FALSE(reports.statistics.empty());
    const auto& statistics = reports.statistics.back();
    EXPECT_EQ(statistics.capturedFrames, 13u);
    EXPECT_EQ(statistics.encodedFrames, 9u);
    EXPECT_EQ(statistics.droppedFrames, 4u);
}

TEST_F(CaptureEncodingOutputTest, ResumesWithAKeyframeWhenTheQueueDroppedDeltasMeanwhile) {
    makeOutput();
    for (int i = 0; i < 9; ++i) showNextPicture();
    ASSERT_EQ(sendQueue->counters().queuedFrames, 8u);
    pullAll();

    // Deltas too big for the queue: it drops what it holds and waits for a keyframe.
    const std::uint32_t streamGeneration = output->streamGeneration();
    const TessaloyCore::Bytes unit(3'000'000, 0x41);
    const TessaloyCore::ByteView units[] = {TessaloyCore::ByteView(unit.data(), 1'500'000)};
    for (int i = 0; i < 7; ++i) sendQueue->push(VideoFrame::packet(streamGeneration, false, false, 1, units));
    ASSERT_TRUE(sendQueue->counters().waitsForKeyframe);
    while (sendQueue->pop()) {
    }

    advance(frameInterval);
    showSamePicture();
    const auto frames = framesIn(pullAll());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].isKeyframe);
}

TEST_F(CaptureEncodingOutputTest, AKeyframeRequestAsksForAPictureAndEncodesItAsAKeyframe) {
    makeOutput();
    showSamePicture();
    showNextPicture();
    pullAll();
    const std::size_t requests = stream->frameRequests();

    queue.sync([&] { output->requestKeyframe(); });
    EXPECT_EQ(stream->frameRequests(), requests + 1);
    showSamePicture();
    const auto frames = framesIn(pullAll());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].isKeyframe);
    EXPECT_FALSE(frames[0].isRefinement);
}

TEST_F(CaptureEncodingOutputTest, OneRefinementFollowsHalfASecondAfterThePictureStopsAndThenNothing) {
    makeOutput();
    showSamePicture();
    showNextPicture();
    pullAll();
    const std::size_t requests = stream->frameRequests();

    advance(400ms);
    EXPECT_EQ(stream->frameRequests(), requests);
    advance(100ms);
    ASSERT_EQ(stream->frameRequests(), requests + 1);
    ASSERT_EQ(stream->pendingRequests(), 1u);
    showSamePicture();
    auto frames = framesIn(pullAll());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].isRefinement);
    EXPECT_FALSE(frames[0].isKeyframe);

    // A static desktop: no more requests and no more frames, however long it stays so.
    advance(10s);
    EXPECT_EQ(stream->frameRequests(), requests + 1);
    EXPECT_TRUE(pullAll().empty());

    // A change starts it over.
    showNextPicture();
    advance(500ms);
    EXPECT_EQ(stream->frameRequests(), requests + 2);
    showSamePicture();
    frames = framesIn(pullAll());
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_FALSE(frames[0].isRefinement);
    EXPECT_TRUE(frames[1].isRefinement);
}

TEST_F(CaptureEncodingOutputTest, NoRefinementWhileThePictureKeepsChanging) {
    makeOutput();
    const std::size_t requests = stream->frameRequests();
    const int scheduled = clock.scheduled();
    std::vector<VideoFrame> frames;
    for (int i = 0; i < 20; ++i) {
        showNextPicture();
        advance(100ms);
        for (auto& frame : framesIn(pullAll())) frames.push_back(std::move(frame));
    }
    EXPECT_EQ(stream->frameRequests(), requests);
    EXPECT_EQ(frames.size(), 20u);
    for (const auto& frame : frames) EXPECT_FALSE(frame.isRefinement);
    // One refinement timer runs at a time, moved on when it fires: about one per refinement delay
    // (and one report a second), not one per picture.
    EXPECT_LE(clock.scheduled() - scheduled, 8);
}

TEST_F(CaptureEncodingOutputTest, TheRefinementCountsFromTheLastChangedPicture) {
    makeOutput();
    showSamePicture();
    const std::size_t requests = stream->frameRequests();
    advance(300ms);
    showNextPicture();
    advance(499ms);
    EXPECT_EQ(stream->frameRequests(), requests) << "half a second has not passed since the change";
    advance(1ms);
    EXPECT_EQ(stream->frameRequests(), requests + 1);
    showSamePicture();
    const auto frames = framesIn(pullAll());
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_TRUE(frames[2].isRefinement);
    advance(2s);
    EXPECT_EQ(stream->frameRequests(), requests + 1);
}

TEST_F(CaptureEncodingOutputTest, AClockSetBackLeavesTheRefinementOnTime) {
    makeOutput();
    showSamePicture();
    const std::size_t requests = stream->frameRequests();
    adjustableActor.changeClock(-std::chrono::hours(1));
    advance(499ms);
    EXPECT_EQ(stream->frameRequests(), requests);
    advance(1ms);
    EXPECT_EQ(stream->frameRequests(), requests + 1);
}

TEST_F(CaptureEncodingOutputTest, HevcRefinementFlushesTheFramesTheEncoderHeldBack) {
    makeOutput(VideoCodec::hevc);
    showSamePicture();
    showNextPicture();
    showNextPicture();
    advance(500ms);
    showSamePicture();
    // Every picture is out, the refinement last, without waiting for more pictures.
    auto frames = framesIn(pullAll());
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_TRUE(frames[0].isKeyframe);
    EXPECT_TRUE(frames[3].isRefinement);
    const std::uint32_t firstGeneration = frames[0].streamGeneration;

    advance(5s);
    EXPECT_TRUE(pullAll().empty());

    // The flushed encoder starts a new generation with a keyframe at the next change.
    showNextPicture();
    showNextPicture();
    showNextPicture();
    showNextPicture();
    const auto packets = pullAll();
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets[0].kind(), WirePacket::Kind::videoConfiguration);
    EXPECT_EQ(VideoConfiguration::decode(packets[0]).streamGeneration, firstGeneration + 1);
    frames = framesIn(packets);
    ASSERT_FALSE(frames.empty());
    EXPECT_TRUE(frames[0].isKeyframe);
}

TEST_F(CaptureEncodingOutputTest, AnEncoderFailureIsReportedOnceWithItsTextAndEncodingStops) {
    makeOutput();
    TessaloyBase::FrameView broken = picture.view();
    broken.bytesPerRow = static_cast<std::size_t>(width) * 4 - 4;
    ASSERT_TRUE(stream->deliver(broken));
    showNextPicture();
    settle();
    ASSERT_EQ(reports.failures.size(), 1u);
    EXPECT_EQ(reports.failures[0].rfind("Encoder failed: ", 0), 0u) << reports.failures[0];
    EXPECT_GT(reports.failures[0].size(), std::string("Encoder failed: ").size());
    EXPECT_TRUE(pullAll().empty());
    advance(2s);
    EXPECT_TRUE(reports.statistics.empty());
}

TEST_F(CaptureEncodingOutputTest, ReportsEverySecondWithItsGenerationAndTheSendQueue) {
    makeOutput();
    showSamePicture();
    showNextPicture();
    showNextPicture();
    channel->addRoundTrip(0.020);
    advance(1s);
    ASSERT_EQ(reports.statistics.size(), 1u);
    const auto& statistics = reports.statistics[0];
    EXPECT_EQ(statistics.captureGeneration, generation);
    EXPECT_EQ(statistics.capturedFrames, 3u);
    EXPECT_EQ(statistics.encodedFrames, 3u);
    EXPECT_EQ(statistics.intervalEncodedFrames, 3u);
    EXPECT_DOUBLE_EQ(statistics.interval.count(), 1.0);
    EXPECT_EQ(statistics.droppedFrames, 0u);
    EXPECT_EQ(statistics.encoderName, "libx264");
    EXPECT_EQ(statistics.width, width);
    EXPECT_EQ(statistics.framesPerSecond, 30);
    EXPECT_EQ(statistics.bitrate, 500'000);
    ASSERT_TRUE(statistics.meanEncodeTime.has_value());
    ASSERT_TRUE(statistics.meanGrabToPacket.has_value());
    ASSERT_TRUE(statistics.queue.has_value());
    EXPECT_EQ(statistics.queue->queuedFrames, 3u);
    EXPECT_EQ(statistics.maximumQueuedFrames, 16u);
    ASSERT_TRUE(statistics.roundTrip.has_value());
    EXPECT_DOUBLE_EQ(statistics.roundTrip->median.count(), 0.020);

    std::uint64_t bytes = 0;
    for (const auto& packet : pullAll()) {
        if (packet.kind() == WirePacket::Kind::videoFrame) bytes += packet.payload().size();
    }
    EXPECT_EQ(statistics.encodedBytes, bytes);

    advance(1s);
    ASSERT_EQ(reports.statistics.size(), 2u);
    EXPECT_EQ(reports.statistics[1].encodedFrames, 3u);
    EXPECT_EQ(reports.statistics[1].intervalEncodedFrames, 0u);
    EXPECT_FALSE(reports.statistics[1].meanEncodeTime.has_value());
}

TEST_F(CaptureEncodingOutputTest, WithoutASenderItEncodesCountsAndSendsNothing) {
    makeOutput(VideoCodec::h264, false);
    for (int i = 0; i < 20; ++i) showNextPicture();
    advance(1s);
    ASSERT_EQ(reports.statistics.size(), 1u);
    EXPECT_EQ(reports.statistics[0].encodedFrames, 20u);
    EXPECT_GT(reports.statistics[0].encodedBytes, 0u);
    EXPECT_FALSE(reports.statistics[0].queue.has_value());
    EXPECT_TRUE(pullAll().empty());
}

TEST_F(CaptureEncodingOutputTest, UnderPressureTheBitrateFallsToItsMinimumThenTheLadderStepsDown) {
    makeOutput(VideoCodec::h264, true,
               CaptureEncodingOutput::Adaptation{{100'000, 800'000, 400'000}, TessaloyCore::QualityLadder(3)});
    for (int i = 0; i < 8; ++i) showNextPicture(); // the queue stays half full: pressure
    std::vector<std::int64_t> bitrates;
    for (int second = 0; second < 12 && reports.steps.empty(); ++second) {
        advance(1s);
        bitrates.push_back(reports.statistics.back().bitrate);
    }
    ASSERT_GE(bitrates.size(), 4u);
    EXPECT_EQ(bitrates[0], 400'000);
    EXPECT_EQ(bitrates[1], 200'000);
    EXPECT_EQ(bitrates[2], 100'000);
    EXPECT_EQ(reports.steps, std::vector<std::size_t>{1});

    // One step only: the probe restarts at the new rung with a new output.
    advance(10s);
    EXPECT_EQ(reports.steps.size(), 1u);
}

TEST_F(CaptureEncodingOutputTest, AfterFinishNothingIsEncodedAndNoTimerIsLeft) {
    makeOutput();
    showSamePicture();
    queue.sync([&] { output->finish(); });
    showNextPicture();
    EXPECT_EQ(clock.manual.pendingTimers(), 0u);
    advance(5s);
    EXPECT_EQ(framesIn(pullAll()).size(), 1u);
    EXPECT_TRUE(reports.statistics.empty());
}

} // namespace
