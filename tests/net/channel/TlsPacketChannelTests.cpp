#include "net/channel/TlsPacketChannel.h"

#include "core/ChannelRole.h"
#include "core/Ping.h"
#include "net/channel/RefusalReason.h"
#include "tests/net/channel/FakeByteStream.h"
#include "tests/support/ChannelRecorder.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>

namespace {

using namespace std::chrono_literals;
using TessaloyCore::Bytes;
using TessaloyCore::Ping;
using TessaloyCore::WirePacket;
using TessaloyNet::RefusalReason;
using TessaloyNet::TlsPacketChannel;
using Testing::ChannelRecorder;
using Testing::FakeByteStream;
using Script = FakeByteStream::Script;
using Kind = WirePacket::Kind;

WirePacket numbered(std::uint8_t number, std::size_t size = 3) {
    return WirePacket(Kind::session, Bytes(size, number));
}

std::vector<WirePacket> withoutPings(const std::vector<WirePacket>& packets) {
    std::vector<WirePacket> kept;
    for (const auto& packet : packets) {
        if (packet.kind() != Kind::ping) kept.push_back(packet);
    }
    return kept;
}

class ChannelOverFakeStream : public ::testing::Test {
protected:
    std::shared_ptr<TlsPacketChannel> open(TlsPacketChannel::Options options = quietOptions()) {
        auto channel = TlsPacketChannel::over(
            [this](TessaloyBase::SerialQueue& queue) { return std::make_unique<FakeByteStream>(queue, script); },
            options);
        channel->setEvents(recorder.events());
        channel->start();
        return channel;
    }
    bool waitForReady() {
        return recorder.waitUntil([&] { return recorder.ready > 0; });
    }
    // Long ping interval: only the first ping is written.
    static TlsPacketChannel::Options quietOptions() {
        TlsPacketChannel::Options options;
        options.pingInterval = 1h;
        options.readTimeout = 1h;
        return options;
    }
    void TearDown() override {
        if (channel) {
            channel->close();
            recorder.waitForClose();
        }
    }

    std::shared_ptr<Script> script = std::make_shared<Script>();
    ChannelRecorder recorder;
    std::shared_ptr<TlsPacketChannel> channel;
};

// Every case holds whether the stream moves bytes at once (readNow, writeNow) or only through the
// queue.
class TlsPacketChannelTest : public ChannelOverFakeStream, public ::testing::WithParamInterface<bool> {
protected:
    TlsPacketChannelTest() { script->inPlace = GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Streams, TlsPacketChannelTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& param) {
                             return param.param ? "InPlace" : "ThroughTheQueue";
                         });

using TlsPacketChannelInPlaceTest = ChannelOverFakeStream;

TEST_P(TlsPacketChannelTest, DeliversPacketsHoweverTheStreamIsCut) {
    script->peerKey = Bytes(65, 4);
    script->peerName = "Phone";
    channel = open();
    ASSERT_TRUE(waitForReady());
    EXPECT_EQ(channel->peerPublicKey(), Bytes(65, 4));
    EXPECT_EQ(channel->peerName(), "Phone");

    const WirePacket big(Kind::videoFrame, Bytes(40'000, 7));
    Bytes stream = numbered(1).encoded();
    const Bytes bigBytes = big.encoded();
    stream.insert(stream.end(), bigBytes.begin(), bigBytes.end());
    const Bytes third = TessaloyCore::ChannelRole(TessaloyCore::ChannelRole::control).packet().encoded();
    stream.insert(stream.end(), third.begin(), third.end());
    // One byte at a time for the first two headers, then the rest in one go.
    for (std::size_t i = 0; i < 20; ++i) script->deliver(TessaloyCore::ByteView(stream).subspan(i, 1));
    script->deliver(TessaloyCore::ByteView(stream).subspan(20));

    ASSERT_TRUE(recorder.waitUntil([&] { return recorder.packets.size() == 3; }));
    EXPECT_EQ(recorder.packets[0], numbered(1));
    EXPECT_EQ(recorder.packets[1], big);
    EXPECT_EQ(recorder.packets[2].kind(), Kind::channelRole);
    EXPECT_EQ(recorder.ready, 1);
}

TEST_P(TlsPacketChannelTest, AnswersPingsWithTheirTokenAndKeepsThemFromTheEvents) {
    channel = open();
    ASSERT_TRUE(waitForReady());
    script->deliver(Ping{.isPong = false, .token = 0xABCDEF}.packet().encoded());
    script->deliver(numbered(2).encoded());
    ASSERT_TRUE(recorder.waitUntil([&] { return !recorder.packets.empty(); }));
    EXPECT_EQ(recorder.packets, std::vector<WirePacket>{numbered(2)});

    ASSERT_TRUE(script->waitUntil([](Script& s) {
        TessaloyCore::WireDecoder decoder;
        bool found = false;
        decoder.feed(s.written, [&](WirePacket packet) {
            found = found || (packet.kind() == Kind::ping && Ping::decode(packet) == Ping{true, 0xABCDEF});
        });
        return found;
    }));
}

TEST_P(TlsPacketChannelTest, PongsOfItsPingsBecomeLatencySamples) {
    auto options = quietOptions();
    // The channel forgets all but its latest 16 unanswered pings: at this pace the answers below
    // arrive long before the ones they answer could be forgotten.
    options.pingInterval = 250ms;
    channel = open(options);
    ASSERT_TRUE(waitForReady());
    ASSERT_TRUE(script->waitUntil([](Script& s) { return s.writtenPackets().size() >= 3; }));
    // Answers every ping written so far, plus one token never sent.
    const auto pings = script->packets();
    Bytes answers = Ping{.isPong = true, .token = 42}.packet().encoded();
    for (const auto& packet : pings) {
        const Bytes pong = Ping::decode(packet).pong().packet().encoded();
        answers.insert(answers.end(), pong.begin(), pong.end());
    }
    const std::size_t sent = pings.size();
    script->deliver(answers);
    ASSERT_TRUE(script->waitUntil([](Script& s) { return s.drained(); }));
    ASSERT_EQ(channel->latency().count(), sent);
    EXPECT_GE(*channel->latency().maximum(), 0.0);
    EXPECT_LT(*channel->latency().median(), 5.0);
    EXPECT_TRUE(recorder.packets.empty());
}

TEST_P(TlsPacketChannelTest, PullsOnlyWhenTheConnectionCanTakeMoreAndSendsDirectPacketsFirst) {
    script->holdWrites = true;
    channel = open();
    ASSERT_TRUE(waitForReady());
    std::atomic<int> asked = 0;
    std::atomic<int> next = 1;
    channel->setPacketSource([&]() -> std::optional<WirePacket> {
        ++asked;
        if (next > 3) return std::nullopt;
        return numbered(static_cast<std::uint8_t>(next++));
    });
    // The first ping is held in the stream; the source has not been asked yet.
    ASSERT_TRUE(script->waitUntil([](Script& s) { return s.heldWrites.size() == 1; }));
    channel->sendDirect(numbered(9));
    channel->sendDirect(numbered(10));
    channel->queue().sync([] {});
    EXPECT_EQ(asked, 0);
    script->release();
    ASSERT_TRUE(script->waitUntil([&](Script& s) { return withoutPings(s.writtenPackets()).size() == 5; }));
    EXPECT_EQ(withoutPings(script->packets()),
              (std::vector<WirePacket>{numbered(9), numbered(10), numbered(1), numbered(2), numbered(3)}));
    channel->queue().sync([] {});
    EXPECT_EQ(asked, 4) << "asked once more, then waits for resumeSending";

    next = 3;
    channel->resumeSending();
    ASSERT_TRUE(script->waitUntil([&](Script& s) { return withoutPings(s.writtenPackets()).size() == 6; }));
    EXPECT_EQ(withoutPings(script->packets()).back(), numbered(3));
}

TEST_P(TlsPacketChannelTest, DroppableSendsStopAtTheirLimitUntilWritten) {
    script->holdWrites = true;
    channel = open();
    ASSERT_TRUE(waitForReady());
    EXPECT_TRUE(channel->sendDroppable(numbered(1), 2));
    EXPECT_TRUE(channel->sendDroppable(numbered(2), 2));
    EXPECT_FALSE(channel->sendDroppable(numbered(3), 2));
    EXPECT_TRUE(channel->sendDroppable(numbered(4), 3));
    EXPECT_EQ(channel->droppableInFlight(), 3);
    script->release();
    ASSERT_TRUE(script->waitUntil([&](Script& s) { return withoutPings(s.writtenPackets()).size() == 3; }));
    channel->queue().sync([] {});
    EXPECT_EQ(channel->droppableInFlight(), 0);
    EXPECT_EQ(withoutPings(script->packets()), (std::vector<WirePacket>{numbered(1), numbered(2), numbered(4)}));
    EXPECT_TRUE(channel->sendDroppable(numbered(5), 1));
}

TEST_P(TlsPacketChannelTest, CloseWritesWhatWasQueuedThenCloseNotify) {
    script->maximumWrite = 5; // partial writes all along
    channel = open();
    ASSERT_TRUE(waitForReady());
    channel->setPacketSource([n = 0]() mutable -> std::optional<WirePacket> {
        if (n == 2) return std::nullopt;
        return numbered(static_cast<std::uint8_t>(++n), 20);
    });
    channel->sendDirect(numbered(7, 100));
    channel->sendDirect(numbered(8, 1));
    channel->close();
    ASSERT_TRUE(recorder.waitForClose());
    EXPECT_EQ(recorder.closedError, std::nullopt);
    const auto sent = withoutPings(script->packets());
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[sent.size() - 2], numbered(7, 100));
    EXPECT_EQ(sent.back(), numbered(8, 1));
    {
        std::lock_guard guard(script->lock);
        EXPECT_EQ(script->writtenAtShutdown, script->written.size()) << "close_notify after the last packet";
        EXPECT_TRUE(script->closed);
    }
    EXPECT_FALSE(channel->sendDroppable(numbered(1), 5));
    channel.reset();
}

TEST_P(TlsPacketChannelTest, StopsAtTheFirstFailedWriteAndReportsItOnce) {
    script->failingWrite = 2;
    channel = open();
    ASSERT_TRUE(waitForReady());
    std::atomic<int> asked = 0;
    channel->setPacketSource([&]() -> std::optional<WirePacket> {
        ++asked;
        return numbered(1);
    });
    ASSERT_TRUE(recorder.waitForClose());
    EXPECT_EQ(recorder.closedError, std::error_code(asio::error::broken_pipe).message());
    channel->sendDirect(numbered(2));
    channel->close();
    channel->queue().sync([] {});
    std::lock_guard guard(script->lock);
    EXPECT_EQ(script->writes, 3u) << "nothing is written after the failure";
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(recorder.closedCount, 1);
}

TEST_P(TlsPacketChannelTest, SurvivesItsLastReferenceDroppedInItsOwnCloseEvent) {
    auto held = std::make_shared<std::shared_ptr<TlsPacketChannel>>();
    std::promise<void> closed;
    *held = TlsPacketChannel::over(
        [this](TessaloyBase::SerialQueue& queue) { return std::make_unique<FakeByteStream>(queue, script); },
        quietOptions());
    (*held)->setEvents(
        {.ready = nullptr, .packet = nullptr, .closed = [held, &closed](const std::optional<std::string>&) {
             held->reset();
             closed.set_value();
         }});
    std::weak_ptr<TlsPacketChannel> watcher = *held;
    // Set before start: the first write (the first ping) may go out at once.
    script->failingWrite = 0;
    (*held)->start();
    ASSERT_EQ(closed.get_future().wait_for(10s), std::future_status::ready);
    // The channel goes, taking its stream, once the stream's last handler has run on its queue.
    ASSERT_TRUE(script->waitUntil([](Script& s) { return s.streamGone; }));
    EXPECT_TRUE(watcher.expired());
}

// The peer ends the connection while a write is held in the stream: the close queues the write's
// handler behind itself, after the writer has gone, and the close event drops the last reference.
TEST_P(TlsPacketChannelTest, AWriteHandlerQueuedBehindTheCloseFindsNothingToTouch) {
    script->holdWrites = true;
    auto held = std::make_shared<std::shared_ptr<TlsPacketChannel>>();
    std::promise<std::optional<std::string>> closed;
    *held = TlsPacketChannel::over(
        [this](TessaloyBase::SerialQueue& queue) { return std::make_unique<FakeByteStream>(queue, script); },
        quietOptions());
    (*held)->setEvents(
        {.ready = nullptr, .packet = nullptr, .closed = [held, &closed](const std::optional<std::string>& error) {
             held->reset();
             closed.set_value(error);
         }});
    const std::weak_ptr<TlsPacketChannel> watcher = *held;
    (*held)->start();
    // The first ping is held: its handler can only run once the stream's close hands it back.
    ASSERT_TRUE(script->waitUntil([](Script& s) { return s.heldWrites.size() == 1; }));
    script->deliverEnd();
    auto closing = closed.get_future();
    ASSERT_EQ(closing.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(closing.get(), std::nullopt);
    ASSERT_TRUE(script->waitUntil([](Script& s) { return s.streamGone; }));
    EXPECT_TRUE(watcher.expired());
}

TEST_P(TlsPacketChannelTest, ClosesWhenNothingArrivesWithinTheReadTimeOut) {
    auto options = quietOptions();
    options.readTimeout = 150ms;
    channel = open(options);
    ASSERT_TRUE(waitForReady());
    ASSERT_TRUE(recorder.waitForClose());
    EXPECT_EQ(recorder.closedError, "Nothing was received for 0.15 seconds.");
}

TEST_P(TlsPacketChannelTest, PausedReadingLeavesThePeersBytesUnreadUntilResumedOrClosing) {
    auto options = quietOptions();
    options.closeGrace = 1h;
    channel = open(options);
    ASSERT_TRUE(waitForReady());
    // The read under way when the pause comes ends the reading; it holds a header at most.
    const auto pauseAndDeliver = [&](std::initializer_list<std::uint8_t> numbers) {
        channel->pauseReading(true);
        channel->queue().sync([] {});
        for (const std::uint8_t number : numbers) script->deliver(numbered(number).encoded());
        channel->queue().sync([] {});
    };
    pauseAndDeliver({1, 2});
    EXPECT_TRUE(recorder.packets.empty());
    channel->pauseReading(false);
    ASSERT_TRUE(recorder.waitUntil([&] { return recorder.packets.size() == 2; }));
    EXPECT_EQ(recorder.packets, (std::vector{numbered(1), numbered(2)}));

    // The peer's end of a close is read even while paused.
    pauseAndDeliver({3});
    channel->close();
    script->deliverEnd();
    ASSERT_TRUE(recorder.waitForClose());
    EXPECT_EQ(recorder.closedError, std::nullopt);
}

TEST_P(TlsPacketChannelTest, ClosesWhenThePeerExceedsItsReceiveBudget) {
    auto options = quietOptions();
    options.receiveBudget = {.packetsPerSecond = 0.001, .burstPackets = 5};
    channel = open(options);
    ASSERT_TRUE(waitForReady());
    Bytes flood;
    for (int i = 0; i < 6; ++i) {
        const Bytes one = numbered(static_cast<std::uint8_t>(i)).encoded();
        flood.insert(flood.end(), one.begin(), one.end());
    }
    script->deliver(flood);
    ASSERT_TRUE(recorder.waitForClose());
    EXPECT_EQ(recorder.packets.size(), 5u);
    EXPECT_EQ(recorder.closedError, std::string(RefusalReason::receiveBudgetExceeded));
}

TEST_P(TlsPacketChannelTest, TheDefaultBudgetTakesABurstOf720) {
    channel = open();
    ASSERT_TRUE(waitForReady());
    const auto burst = [](std::size_t count) {
        Bytes bytes;
        for (std::size_t i = 0; i < count; ++i) {
            const Bytes one = numbered(1).encoded();
            bytes.insert(bytes.end(), one.begin(), one.end());
        }
        return bytes;
    };
    // The bucket is full until the first packet, so everything admitted from here on is at most
    // the burst plus 240 a second of the time this test takes.
    const auto start = std::chrono::steady_clock::now();
    script->deliver(burst(720));
    ASSERT_TRUE(recorder.waitUntil([&] { return recorder.packets.size() == 720; }));
    // More than 240 a second could refill within any run of this test (ctest ends it at 60 s).
    script->deliver(burst(240 * 60));
    ASSERT_TRUE(recorder.waitForClose());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(recorder.closedError, std::string(RefusalReason::receiveBudgetExceeded));
    EXPECT_LE(static_cast<double>(recorder.packets.size()), 720 + 240 * seconds + 1);
}

TEST_P(TlsPacketChannelTest, ClosesOnABadHeaderBeforeItsPayloadArrives) {
    channel = open();
    ASSERT_TRUE(waitForReady());
    script->deliver(Bytes{'T', 'S', 'L', 'X'});
    ASSERT_TRUE(recorder.waitForClose());
    EXPECT_EQ(recorder.closedError, "The peer sent a bad packet header: badMagic");
}

TEST_P(TlsPacketChannelTest, ClosesOnADeclaredLengthOverTheLimit) {
    channel = open();
    ASSERT_TRUE(waitForReady());
    script->deliver(Bytes{'T', 'S', 'L', 'Y', 1, 2, 0, 0, 0, 0x20, 0, 1});
    ASSERT_TRUE(recorder.waitForClose());
    EXPECT_EQ(recorder.closedError, "The peer sent a bad packet header: payloadTooLarge");
}

TEST_P(TlsPacketChannelTest, AFailedHandshakeClosesWithItsReasonAndNeverGetsReady) {
    script->handshakeError = asio::error::connection_reset;
    script->handshakeFailureText = "Connection reset during the handshake";
    channel = open();
    ASSERT_TRUE(recorder.waitForClose());
    EXPECT_EQ(recorder.closedError, "Connection reset during the handshake");
    EXPECT_EQ(recorder.ready, 0);
    EXPECT_EQ(channel->peerPublicKey(), std::nullopt);
}

TEST_P(TlsPacketChannelTest, AnEndFromThePeerIsANormalClose) {
    channel = open();
    ASSERT_TRUE(waitForReady());
    script->deliver(numbered(1).encoded());
    script->deliverEnd();
    ASSERT_TRUE(recorder.waitForClose());
    EXPECT_EQ(recorder.closedError, std::nullopt);
    EXPECT_EQ(recorder.packets.size(), 1u);
}

TEST_P(TlsPacketChannelTest, CloseWithAnErrorReportsThatError) {
    channel = open();
    ASSERT_TRUE(waitForReady());
    channel->close("Session over");
    channel->close("again");
    ASSERT_TRUE(recorder.waitForClose());
    channel->queue().sync([] {});
    EXPECT_EQ(recorder.closedError, "Session over");
    EXPECT_EQ(recorder.closedCount, 1);
}

TEST_F(TlsPacketChannelInPlaceTest, ReadsInPlaceUpToItsBoundThenLetsTheQueueRunOtherWork) {
    channel = open();
    ASSERT_TRUE(waitForReady());
    ASSERT_TRUE(script->waitUntil([](Script& s) { return s.drained(); }));
    constexpr std::size_t size = 64 * 1024;
    constexpr std::size_t packetBytes = size + WirePacket::headerSize;
    constexpr std::size_t count = 3 * TlsPacketChannel::maximumReadInPlace / packetBytes;
    Bytes stream;
    for (std::size_t i = 0; i < count; ++i) {
        const Bytes one = numbered(static_cast<std::uint8_t>(i), size).encoded();
        stream.insert(stream.end(), one.begin(), one.end());
    }
    // Delivered from the queue itself, so the completion of the channel's waiting read and then
    // this probe are queued before either can run.
    std::promise<std::size_t> seen;
    channel->queue().async([&] {
        script->deliver(stream);
        channel->queue().async([&] {
            std::lock_guard guard(recorder.lock);
            seen.set_value(recorder.packets.size());
        });
    });
    ASSERT_TRUE(recorder.waitUntil([&] { return recorder.packets.size() == count; }));
    const std::size_t before = seen.get_future().get();
    EXPECT_GE(before * packetBytes + packetBytes, TlsPacketChannel::maximumReadInPlace);
    EXPECT_LE(before * packetBytes, TlsPacketChannel::maximumReadInPlace + packetBytes);
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(recorder.packets[i], numbered(static_cast<std::uint8_t>(i), size)) << i;
    }
}

TEST_F(TlsPacketChannelInPlaceTest, WritesInPlaceUpToItsBoundThenLetsTheQueueRunOtherWork) {
    channel = open();
    ASSERT_TRUE(waitForReady());
    constexpr std::size_t size = 64 * 1024;
    constexpr std::size_t packetBytes = size + WirePacket::headerSize;
    constexpr std::size_t count = 3 * TessaloyNet::PacketWriter::maximumWrittenInPlace / packetBytes;
    std::size_t alreadyWritten = 0;
    ASSERT_TRUE(script->waitUntil([&](Script& s) {
        alreadyWritten = s.written.size();
        return s.writtenPackets().size() == 1; // the first ping
    }));
    // Set from the queue itself, so the writer's turn and then this probe are queued before either
    // can run.
    std::promise<std::size_t> seen;
    channel->queue().async([&] {
        channel->setPacketSource([next = std::size_t(0)]() mutable -> std::optional<WirePacket> {
            if (next == count) return std::nullopt;
            return numbered(static_cast<std::uint8_t>(next++), size);
        });
        channel->queue().async([&] {
            std::lock_guard guard(script->lock);
            seen.set_value(script->written.size() - alreadyWritten);
        });
    });
    ASSERT_TRUE(script->waitUntil([&](Script& s) { return withoutPings(s.writtenPackets()).size() == count; }));
    // Past the bound the writer hands one write to the stream, whose completion waits for the
    // queue: at most two packets beyond it.
    const std::size_t before = seen.get_future().get();
    EXPECT_GE(before, TessaloyNet::PacketWriter::maximumWrittenInPlace);
    EXPECT_LE(before, TessaloyNet::PacketWriter::maximumWrittenInPlace + 2 * packetBytes);
    const auto sent = withoutPings(script->packets());
    for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(sent[i], numbered(static_cast<std::uint8_t>(i), size)) << i;
}

} // namespace
