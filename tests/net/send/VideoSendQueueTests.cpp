#include "net/send/VideoSendQueue.h"

#include "tests/net/send/VideoPackets.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace VideoPackets;
using TessaloyCore::BitrateController;
using TessaloyCore::WirePacket;
using TessaloyNet::VideoSendQueue;
using Counters = VideoSendQueue::Counters;

std::vector<WirePacket> drain(VideoSendQueue& queue) {
    std::vector<WirePacket> packets;
    while (auto packet = queue.pop()) packets.push_back(std::move(*packet));
    return packets;
}

std::vector<std::uint64_t> frameIndexes(const std::vector<WirePacket>& packets) {
    std::vector<std::uint64_t> indexes;
    for (const auto& packet : packets) {
        if (packet.kind() == WirePacket::Kind::videoFrame) indexes.push_back(indexOf(packet));
    }
    return indexes;
}

TEST(VideoSendQueue, BothCapsMustBeAtLeastOne) {
    EXPECT_THROW(VideoSendQueue(0, 1), std::invalid_argument);
    EXPECT_THROW(VideoSendQueue(1, 0), std::invalid_argument);
    const VideoSendQueue queue(1, 1);
    EXPECT_EQ(queue.maximumPendingFrames(), 1u);
    EXPECT_EQ(queue.maximumPendingBytes(), 1u);
}

TEST(VideoSendQueue, TakesOnlyVideoPacketsThatCarryTheirGeneration) {
    VideoSendQueue queue(4, 10'000);
    EXPECT_THROW(queue.push(WirePacket(WirePacket::Kind::audio, {1, 2, 3})), std::invalid_argument);
    EXPECT_THROW(queue.push(WirePacket(WirePacket::Kind::videoFrame, {0, 0, 0, 1})), TessaloyCore::VideoFrame::Error);
    EXPECT_THROW(queue.push(WirePacket(WirePacket::Kind::videoConfiguration, {1, 0, 0})),
                 TessaloyCore::VideoConfiguration::Error);
    EXPECT_EQ(queue.counters(), Counters{});
}

TEST(VideoSendQueue, HandsOutInOrderAndCounts) {
    VideoSendQueue queue(4, 10'000);
    const WirePacket config = configuration(1);
    ASSERT_TRUE(queue.push(config));
    ASSERT_TRUE(queue.push(keyframe(1, 0, 300)));
    ASSERT_TRUE(queue.push(delta(1, 1, 50)));
    EXPECT_EQ(queue.counters(), (Counters{2, config.payload().size() + 350, 0, false}));

    const auto packets = drain(queue);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0], config);
    EXPECT_EQ(frameIndexes(packets), (std::vector<std::uint64_t>{0, 1}));
    EXPECT_EQ(queue.counters(), Counters{});
    EXPECT_EQ(queue.pop(), std::nullopt);
}

TEST(VideoSendQueue, PacketsOfAnOlderGenerationAreDropped) {
    VideoSendQueue queue(4, 10'000);
    queue.push(configuration(5));
    queue.push(keyframe(5, 0));
    EXPECT_FALSE(queue.push(delta(4, 1)));
    EXPECT_FALSE(queue.push(keyframe(4, 2)));
    EXPECT_FALSE(queue.push(configuration(4)));
    EXPECT_EQ(queue.counters().droppedFrames, 2u) << "configurations are not frames";
    EXPECT_EQ(queue.counters().queuedFrames, 1u);
}

TEST(VideoSendQueue, NewerGenerationDropsWhatIsQueuedOfOlderOnes) {
    VideoSendQueue queue(8, 10'000);
    queue.push(configuration(1));
    queue.push(keyframe(1, 0));
    queue.push(delta(1, 1));
    ASSERT_TRUE(queue.push(configuration(2)));
    ASSERT_TRUE(queue.push(keyframe(2, 10)));
    const auto packets = drain(queue);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0], configuration(2));
    EXPECT_EQ(indexOf(packets[1]), 10u);
    EXPECT_EQ(queue.counters().droppedFrames, 2u);
}

TEST(VideoSendQueue, FrameCapDropsQueuedDeltasAndWaitsForAKeyframe) {
    VideoSendQueue queue(3, 100'000);
    queue.push(configuration(1));
    queue.push(keyframe(1, 0));
    queue.push(delta(1, 1));
    queue.push(delta(1, 2));
    EXPECT_FALSE(queue.push(delta(1, 3))) << "a fourth frame would pass the cap";
    EXPECT_EQ(queue.counters(), (Counters{1, configuration(1).payload().size() + 100, 3, true}));

    EXPECT_FALSE(queue.push(delta(1, 4))) << "it could not be decoded without the dropped ones";
    EXPECT_TRUE(queue.push(keyframe(1, 5)));
    EXPECT_TRUE(queue.push(delta(1, 6)));
    EXPECT_FALSE(queue.counters().waitsForKeyframe);
    EXPECT_EQ(queue.counters().droppedFrames, 4u);
    EXPECT_EQ(frameIndexes(drain(queue)), (std::vector<std::uint64_t>{0, 5, 6}));
}

TEST(VideoSendQueue, ByteCapAtItsBoundary) {
    VideoSendQueue queue(16, 300);
    EXPECT_TRUE(queue.push(keyframe(1, 0, 100)));
    EXPECT_TRUE(queue.push(delta(1, 1, 100)));
    EXPECT_TRUE(queue.push(delta(1, 2, 100))) << "exactly at the cap";
    EXPECT_FALSE(queue.push(delta(1, 3, 18))) << "one byte over is not";
    EXPECT_EQ(frameIndexes(drain(queue)), (std::vector<std::uint64_t>{0}));
    EXPECT_EQ(queue.counters().droppedFrames, 3u);
}

TEST(VideoSendQueue, KeyframeThatDoesNotFitReplacesTheQueuedFramesButNotTheConfiguration) {
    VideoSendQueue queue(2, 100'000);
    queue.push(configuration(1));
    queue.push(keyframe(1, 0));
    queue.push(delta(1, 1));
    EXPECT_TRUE(queue.push(keyframe(1, 2)));
    const auto packets = drain(queue);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].kind(), WirePacket::Kind::videoConfiguration);
    EXPECT_EQ(indexOf(packets[1]), 2u);
    EXPECT_EQ(queue.counters().droppedFrames, 2u);
}

TEST(VideoSendQueue, KeyframeLargerThanTheByteCapStillRestartsTheStream) {
    VideoSendQueue queue(16, 1'000);
    queue.push(configuration(1));
    queue.push(delta(1, 0, 600));
    EXPECT_TRUE(queue.push(keyframe(1, 1, 5'000)));
    EXPECT_EQ(queue.counters().queuedFrames, 1u);
    EXPECT_FALSE(queue.push(delta(1, 2, 100))) << "nothing more fits behind it";
    EXPECT_TRUE(queue.counters().waitsForKeyframe);
    EXPECT_TRUE(queue.push(keyframe(1, 3, 5'000))) << "a newer keyframe replaces it";
    EXPECT_EQ(frameIndexes(drain(queue)), (std::vector<std::uint64_t>{3}));
}

TEST(VideoSendQueue, RepeatedConfigurationTakesThePlaceOfTheQueuedOne) {
    VideoSendQueue queue(4, 100'000);
    queue.push(configuration(1, 1));
    queue.push(keyframe(1, 0));
    EXPECT_TRUE(queue.push(configuration(1, 2)));
    const auto packets = drain(queue);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0], configuration(1, 2));
    EXPECT_EQ(queue.counters(), Counters{});
}

TEST(VideoSendQueue, ConfigurationAlwaysGetsIn) {
    VideoSendQueue queue(1, 1);
    EXPECT_TRUE(queue.push(configuration(1)));
    EXPECT_TRUE(queue.push(keyframe(1, 0)));
    EXPECT_FALSE(queue.counters().waitsForKeyframe);
    EXPECT_EQ(drain(queue).size(), 2u);
}

TEST(VideoSendQueue, ResetEmptiesAndForgetsTheStream) {
    VideoSendQueue queue(2, 100'000);
    queue.push(configuration(7));
    queue.push(keyframe(7, 0));
    queue.push(delta(7, 1));
    queue.push(delta(7, 2));
    ASSERT_TRUE(queue.counters().waitsForKeyframe);
    const std::uint64_t dropped = queue.counters().droppedFrames;

    queue.reset();
    EXPECT_EQ(queue.counters(), (Counters{0, 0, dropped, false}));
    EXPECT_EQ(queue.pop(), std::nullopt);
    EXPECT_TRUE(queue.push(delta(1, 0))) << "an older generation and a delta are welcome again";
}

TEST(VideoSendQueue, ObservationCountsDropsSinceTheLastOne) {
    VideoSendQueue queue(4, 1'000);
    const BitrateController::Date start{std::chrono::seconds(1'000)};
    queue.push(keyframe(1, 0, 500));
    queue.push(delta(1, 1, 500));
    queue.push(delta(1, 2, 500));

    const auto first = queue.observation(start, BitrateController::Seconds(0.02));
    EXPECT_EQ(first.at, start);
    EXPECT_EQ(first.queuedFrames, 1u);
    EXPECT_EQ(first.maximumFrames, 4u);
    EXPECT_EQ(first.queuedBytes, 500u);
    EXPECT_EQ(first.maximumBytes, 1'000u);
    EXPECT_EQ(first.droppedFrames, 2u);
    EXPECT_EQ(first.roundTrip, BitrateController::Seconds(0.02));

    const auto second = queue.observation(start + std::chrono::seconds(1), std::nullopt);
    EXPECT_EQ(second.droppedFrames, 0u);
    EXPECT_EQ(second.roundTrip, std::nullopt);
}

TEST(VideoSendQueue, DropsDriveTheBitrateDown) {
    VideoSendQueue queue(4, 1'000'000);
    BitrateController controller({1'000'000, 8'000'000, 8'000'000});
    const BitrateController::Date start{std::chrono::seconds(1'000)};
    std::uint64_t index = 0;
    for (int second = 0; second <= 2; ++second) {
        // A receiver that takes nothing: the queue fills and drops.
        for (int i = 0; i < 10; ++i, ++index) queue.push(frame(1, index % 30 == 0, index));
        controller.observe(queue.observation(start + std::chrono::seconds(second), std::nullopt));
    }
    EXPECT_LT(controller.bitrate(), 8'000'000);
}

// What a decoder on the device needs: after each configuration a keyframe first, and every delta
// right after the frame before it.
void expectDecodable(const std::vector<WirePacket>& packets) {
    std::optional<std::uint64_t> previous;
    for (const auto& packet : packets) {
        if (packet.kind() == WirePacket::Kind::videoConfiguration) {
            previous.reset();
            continue;
        }
        const auto frame = decoded(packet);
        if (!frame.isKeyframe) {
            ASSERT_TRUE(previous.has_value()) << "delta " << frame.presentationMicroseconds << " without a keyframe";
            ASSERT_EQ(frame.presentationMicroseconds, *previous + 1) << "delta after a gap";
        }
        previous = frame.presentationMicroseconds;
    }
}

TEST(VideoSendQueue, StaysBoundedAndDecodableUnderAnyPaceOfPops) {
    constexpr std::size_t maximumFrames = 6;
    constexpr std::size_t maximumBytes = 20'000;
    constexpr std::size_t largestKeyframe = 30'000;
    VideoSendQueue queue(maximumFrames, maximumBytes);
    std::mt19937 random(12345);
    std::vector<WirePacket> sent;
    std::uint64_t index = 0;
    std::uint32_t generation = 1;
    queue.push(configuration(generation));
    for (int step = 0; step < 5'000; ++step) {
        const auto roll = random() % 100;
        if (roll < 1) {
            queue.push(configuration(++generation));
            queue.push(keyframe(generation, index, 4'000));
            ++index;
        } else if (roll < 55) {
            const bool isKeyframe = index % 40 == 0;
            const std::size_t size = isKeyframe ? 2'000 + random() % (largestKeyframe - 2'000) : 100 + random() % 4'000;
            queue.push(frame(generation, isKeyframe, index, size));
            ++index;
        } else if (auto packet = queue.pop()) {
            sent.push_back(std::move(*packet));
        }
        const auto counters = queue.counters();
        ASSERT_LE(counters.queuedFrames, maximumFrames);
        ASSERT_LE(counters.queuedBytes, largestKeyframe + 100);
    }
    for (auto packet = queue.pop(); packet; packet = queue.pop()) sent.push_back(std::move(*packet));
    EXPECT_GT(queue.counters().droppedFrames, 0u);
    expectDecodable(sent);
}

TEST(VideoSendQueue, PushAndPopFromTwoThreadsKeepOrder) {
    VideoSendQueue queue(16, 1'000'000);
    constexpr std::uint64_t count = 2'000;
    std::atomic<bool> done{false};
    std::thread capture([&] {
        queue.push(configuration(1));
        for (std::uint64_t index = 0; index < count; ++index) queue.push(frame(1, index % 10 == 0, index));
        done = true;
    });
    std::vector<WirePacket> sent;
    while (!done.load() || queue.counters().queuedBytes > 0) {
        if (auto packet = queue.pop()) sent.push_back(std::move(*packet));
    }
    capture.join();
    for (auto packet = queue.pop(); packet; packet = queue.pop()) sent.push_back(std::move(*packet));
    const auto indexes = frameIndexes(sent);
    EXPECT_EQ(indexes.size() + queue.counters().droppedFrames, count);
    EXPECT_TRUE(std::is_sorted(indexes.begin(), indexes.end()));
    expectDecodable(sent);
}

} // namespace
