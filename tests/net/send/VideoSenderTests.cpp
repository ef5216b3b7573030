#include "net/send/VideoSender.h"

#include "core/DataTransferSource.h"
#include "core/TransferMessage.h"
#include "tests/net/send/VideoPackets.h"
#include "tests/support/FakePacketChannel.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

namespace {

using namespace VideoPackets;
using namespace TessaloyCore;
using TessaloyNet::VideoSender;
using TessaloyNet::VideoSendQueue;
using Testing::FakePacketChannel;
using Route = FakePacketChannel::Route;

std::unique_ptr<OutgoingTransfer> transferOf(std::uint32_t id, std::size_t size, std::size_t chunkSize = 1'000) {
    TransferOffer offer{id, TransferPurpose::file, "notes.txt", "public.plain-text", size};
    return std::make_unique<OutgoingTransfer>(offer, std::make_unique<DataTransferSource>(Bytes(size, 0x2A)),
                                              chunkSize);
}

WirePacket endOfSession() { return WirePacket(WirePacket::Kind::endSession, {1}); }

bool isTransfer(const WirePacket& packet) { return packet.kind() == WirePacket::Kind::transfer; }

bool isVideo(const WirePacket& packet) {
    return packet.kind() == WirePacket::Kind::videoFrame || packet.kind() == WirePacket::Kind::videoConfiguration;
}

class VideoSenderTest : public testing::Test {
protected:
    std::shared_ptr<FakePacketChannel> channel = std::make_shared<FakePacketChannel>();
    std::shared_ptr<VideoSendQueue> queue = std::make_shared<VideoSendQueue>(16, 8'388'608);
    // Transfers are read ahead at once, so that the order of what the channel pulls is fixed.
    std::unique_ptr<VideoSender> sender =
        std::make_unique<VideoSender>(channel, queue, [](std::function<void()> job) { job(); });
};

TEST_F(VideoSenderTest, AttachMakesTheChannelPullFromTheSender) {
    EXPECT_TRUE(sender->send(keyframe(1, 0)));
    EXPECT_FALSE(channel->hasPacketSource());
    EXPECT_TRUE(channel->pull(4).empty());

    const std::size_t resumes = channel->resumeCount();
    sender->attach();
    EXPECT_TRUE(channel->hasPacketSource());
    EXPECT_EQ(channel->resumeCount(), resumes + 1) << "what was queued before attaching goes out";
    const auto pulled = channel->pull(4);
    ASSERT_EQ(pulled.size(), 1u);
    EXPECT_EQ(indexOf(pulled[0]), 0u);
}

TEST_F(VideoSenderTest, QueuedVideoAndTransferWorkResumeTheChannel) {
    sender->attach();
    const std::size_t resumes = channel->resumeCount();
    sender->send(keyframe(1, 0));
    sender->transfers().enqueue(transferOf(1, 10));
    sender->transfers().send(TransferMessage::cancel(9, TransferCancelReason::failed));
    EXPECT_EQ(channel->resumeCount(), resumes + 3);

    queue->push(configuration(5));
    EXPECT_FALSE(sender->send(delta(4, 1))) << "dropped: an older generation";
    EXPECT_EQ(channel->resumeCount(), resumes + 3) << "a dropped packet resumes nothing";
}

TEST_F(VideoSenderTest, VideoGoesOutBeforeTransfers) {
    sender->attach();
    sender->transfers().enqueue(transferOf(1, 3'000));
    sender->send(configuration(1));
    sender->send(keyframe(1, 0));
    sender->send(delta(1, 1));

    const auto pulled = channel->pull(3);
    ASSERT_EQ(pulled.size(), 3u);
    for (const auto& packet : pulled) EXPECT_TRUE(isVideo(packet));
    const auto next = channel->pull(1);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_TRUE(std::holds_alternative<TransferMessage::Offer>(TransferMessage::decode(next[0]).value));
}

TEST_F(VideoSenderTest, TransferChunksFlowWhileVideoIsIdleAndYieldToTheNextFrame) {
    sender->attach();
    sender->transfers().enqueue(transferOf(1, 5'000));
    auto pulled = channel->pull(2);
    ASSERT_EQ(pulled.size(), 2u);
    EXPECT_TRUE(isTransfer(pulled[0]));
    EXPECT_TRUE(isTransfer(pulled[1]));

    sender->send(delta(1, 7));
    pulled = channel->pull(1);
    ASSERT_EQ(pulled.size(), 1u);
    EXPECT_TRUE(isVideo(pulled[0])) << "a waiting frame is behind at most the chunk already out";

    pulled = channel->pull(100);
    ASSERT_EQ(pulled.size(), 5u) << "four more chunks and the finish";
    EXPECT_TRUE(std::holds_alternative<TransferMessage::Finish>(TransferMessage::decode(pulled.back()).value));
    EXPECT_TRUE(sender->transfers().isIdle());
}

TEST_F(VideoSenderTest, FullVideoQueueNeverStarvesTransfers) {
    sender->attach();
    sender->transfers().enqueue(transferOf(1, 3'000));
    std::uint64_t index = 0;
    sender->send(keyframe(1, index++));
    std::vector<WirePacket> pulled;
    for (int i = 0; i < 60; ++i) {
        // The encoder keeps the video queue from ever running dry.
        sender->send(delta(1, index++));
        const auto packets = channel->pull(1);
        ASSERT_EQ(packets.size(), 1u);
        pulled.push_back(packets[0]);
    }

    // Offer, three chunks and the finish, each after a run of video packets.
    std::vector<std::size_t> transferPositions;
    for (std::size_t i = 0; i < pulled.size(); ++i) {
        if (isTransfer(pulled[i])) transferPositions.push_back(i);
    }
    const std::size_t run = VideoSender::videoPacketsPerTransferPacket;
    EXPECT_EQ(transferPositions, (std::vector<std::size_t>{run, 2 * run + 1, 3 * run + 2, 4 * run + 3, 5 * run + 4}));
    EXPECT_TRUE(sender->transfers().isIdle());
}

TEST_F(VideoSenderTest, ControlPacketGoesAheadOfQueuedVideo) {
    sender->attach();
    sender->send(keyframe(1, 0));
    sender->send(delta(1, 1));
    const WirePacket exchange(WirePacket::Kind::pairingExchange, {4, 5, 6});
    sender->sendControl(exchange);
    channel->pull(10);

    const auto log = channel->log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].route, Route::direct);
    EXPECT_EQ(log[0].packet, exchange);
    EXPECT_EQ(log[1].route, Route::pulled);
    EXPECT_EQ(log[2].route, Route::pulled);
}

TEST_F(VideoSenderTest, StopWithAnEndPacketSendsItAndThenCloses) {
    sender->attach();
    std::vector<std::optional<TransferCancelReason>> finished;
    sender->transfers().onFinished = [&](std::uint32_t, std::optional<TransferCancelReason> reason) {
        finished.push_back(reason);
    };
    sender->send(keyframe(1, 0));
    sender->send(delta(1, 1));
    sender->transfers().enqueue(transferOf(1, 100));
    sender->transfers().enqueue(transferOf(2, 100));
    sender->transfers().send(TransferMessage::cancel(3, TransferCancelReason::failed));

    sender->stop(endOfSession());
    EXPECT_EQ(queue->counters().queuedFrames, 0u);
    EXPECT_TRUE(sender->transfers().isIdle());
    EXPECT_EQ(finished, (std::vector<std::optional<TransferCancelReason>>{TransferCancelReason::failed,
                                                                          TransferCancelReason::failed}));
    const auto log = channel->log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].route, Route::direct);
    EXPECT_EQ(log[0].packet, endOfSession());
    EXPECT_EQ(log[1].route, Route::closed);
    EXPECT_EQ(log[1].error, std::nullopt);
    EXPECT_TRUE(channel->pull(10).empty());
}

TEST_F(VideoSenderTest, StopWithoutAPacketEmptiesButKeepsTheChannelOpen) {
    sender->attach();
    sender->send(keyframe(1, 0));
    sender->transfers().enqueue(transferOf(1, 100));
    sender->stop();
    EXPECT_FALSE(channel->isClosed());
    EXPECT_TRUE(channel->pull(10).empty());
    EXPECT_TRUE(channel->log().empty());
}

TEST_F(VideoSenderTest, GoneChannelMakesEveryCallHarmless) {
    sender->attach();
    channel.reset();
    EXPECT_TRUE(sender->send(keyframe(1, 0)));
    sender->sendControl(endOfSession());
    sender->transfers().enqueue(transferOf(1, 10));
    sender->attach();
    sender->stop(endOfSession());
    EXPECT_TRUE(sender->transfers().isIdle());
}

TEST_F(VideoSenderTest, SourceLeftBehindByAGoneSenderGivesNothing) {
    sender->attach();
    sender->send(keyframe(1, 0));
    sender->transfers().enqueue(transferOf(1, 10));
    sender.reset();
    EXPECT_TRUE(channel->pull(10).empty());
    EXPECT_EQ(queue->counters().queuedFrames, 1u) << "the capture side still owns its queue";
}

TEST_F(VideoSenderTest, GivesItsQueueAndHoldsItsChannelOnlyWeakly) {
    EXPECT_EQ(sender->queue(), queue);
    sender->send(keyframe(1, 0));
    EXPECT_EQ(sender->queue()->counters().queuedFrames, 1u);

    EXPECT_EQ(sender->channel().lock(), channel);
    channel.reset();
    EXPECT_TRUE(sender->channel().expired()) << "the sender does not keep the channel alive";
    EXPECT_EQ(sender->queue(), queue);
}

TEST_F(VideoSenderTest, NeedsAChannelAndAQueue) {
    EXPECT_THROW(VideoSender(nullptr, queue), std::invalid_argument);
    EXPECT_THROW(VideoSender(channel, nullptr), std::invalid_argument);
}

TEST(VideoSenderSlowReceiver, DropsDeltasAndRecoversOnAKeyframeInsteadOfGrowing) {
    auto channel = std::make_shared<FakePacketChannel>();
    auto queue = std::make_shared<VideoSendQueue>(4, 200'000);
    VideoSender sender(channel, queue);
    sender.attach();

    std::vector<WirePacket> received;
    std::uint64_t index = 0;
    sender.send(configuration(1));
    for (int tick = 0; tick < 300; ++tick) {
        // 30 frames a second with a keyframe each second; the link takes one packet for every three.
        sender.send(frame(1, index % 30 == 0, index, index % 30 == 0 ? 20'000 : 5'000));
        ++index;
        if (tick % 3 == 0) {
            for (auto& packet : channel->pull(1)) received.push_back(std::move(packet));
        }
        const auto counters = queue->counters();
        ASSERT_LE(counters.queuedFrames, 4u);
        ASSERT_LE(counters.queuedBytes, 200'000u);
    }
    EXPECT_GT(queue->counters().droppedFrames, 100u);

    // Every delta the device gets follows the frame before it; after each gap comes a keyframe.
    std::optional<std::uint64_t> previous;
    std::size_t keyframes = 0;
    for (const auto& packet : received) {
        if (packet.kind() != WirePacket::Kind::videoFrame) continue;
        const auto frame = decoded(packet);
        if (frame.isKeyframe) {
            ++keyframes;
        } else {
            ASSERT_TRUE(previous.has_value());
            ASSERT_EQ(frame.presentationMicroseconds, *previous + 1);
        }
        previous = frame.presentationMicroseconds;
    }
    EXPECT_GE(keyframes, 9u) << "the stream recovers at every keyframe";
}

} // namespace
