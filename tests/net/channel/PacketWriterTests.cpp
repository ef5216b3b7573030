#include "net/channel/PacketWriter.h"

#include "base/SerialQueue.h"

#include <gtest/gtest.h>
#include <asio/error.hpp>

#include <algorithm>
#include <initializer_list>
#include <memory>

namespace {

using TessaloyCore::Bytes;
using TessaloyCore::WirePacket;
using TessaloyNet::ByteStream;
using TessaloyNet::PacketWriter;

WirePacket numbered(std::uint8_t number, std::size_t size = 4) {
    return WirePacket(WirePacket::Kind::input, Bytes(size, number));
}

// Drives a writer on a real queue; the test completes each write by hand.
class PacketWriterTest : public ::testing::Test {
protected:
    void make(PacketWriter::Callbacks callbacks = {}, PacketWriter::WriteNowFunction writeNow = nullptr) {
        queue.sync([&] {
            writer = std::make_unique<PacketWriter>(
                queue,
                [this](ByteStream::WriteBuffers buffers, ByteStream::IoHandler handler) {
                    offered = bytesOf(buffers);
                    pending = std::move(handler);
                },
                std::move(callbacks), std::move(writeNow));
            writer->start();
        });
    }
    // A writeNow that takes up to `room` bytes in all, then nothing.
    PacketWriter::WriteNowFunction inPlace(std::size_t room) {
        return [this, room](ByteStream::WriteBuffers buffers, std::error_code&) {
            const Bytes bytes = bytesOf(buffers);
            const std::size_t taken = std::min(bytes.size(), room - std::min(room, writtenInPlace.size()));
            writtenInPlace.insert(writtenInPlace.end(), bytes.begin(), bytes.begin() + std::ptrdiff_t(taken));
            ++inPlaceCalls;
            return taken;
        };
    }
    static Bytes bytesOf(const ByteStream::WriteBuffers& buffers) {
        Bytes bytes;
        for (const auto& buffer : buffers) {
            const auto* data = static_cast<const std::uint8_t*>(buffer.data());
            bytes.insert(bytes.end(), data, data + buffer.size());
        }
        return bytes;
    }
    // Completes the write under way with `count` bytes (all offered by default) or an error.
    void complete(std::optional<std::size_t> count = std::nullopt, std::error_code error = {}) {
        queue.sync([&] {
            ASSERT_TRUE(pending);
            const std::size_t taken = count.value_or(offered.size());
            if (!error) written.insert(written.end(), offered.begin(), offered.begin() + std::ptrdiff_t(taken));
            std::exchange(pending, nullptr)(error, error ? 0 : taken);
        });
    }
    bool writing() {
        return queue.sync([&] { return static_cast<bool>(pending); });
    }
    void TearDown() override {
        queue.sync([&] { writer.reset(); });
    }

    TessaloyBase::SerialQueue queue{"dev.tessaloy.channel"};
    std::unique_ptr<PacketWriter> writer;
    Bytes offered;
    Bytes written;
    ByteStream::IoHandler pending;
    Bytes writtenInPlace;
    int inPlaceCalls = 0;
};

Bytes encoded(std::initializer_list<WirePacket> packets) {
    Bytes bytes;
    for (const auto& packet : packets) {
        const Bytes one = packet.encoded();
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}

TEST_F(PacketWriterTest, FinishesEachPacketThroughPartialWritesBeforeTheNext) {
    make();
    queue.sync([&] {
        writer->sendDirect(numbered(1, 30));
        writer->sendDirect(numbered(2, 2));
    });
    complete(5);
    EXPECT_EQ(offered.size(), 42u - 5u) << "the rest of the first packet, header and payload";
    complete(20);
    queue.sync([&] { writer->sendDirect(numbered(3, 1)); });
    complete();
    complete();
    complete();
    Bytes expected = numbered(1, 30).encoded();
    for (const auto& packet : {numbered(2, 2), numbered(3, 1)}) {
        const Bytes bytes = packet.encoded();
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(written, expected);
    EXPECT_FALSE(writing());
}

TEST_F(PacketWriterTest, WritesNothingBeforeStart) {
    queue.sync([&] {
        writer = std::make_unique<PacketWriter>(
            queue, [this](ByteStream::WriteBuffers, ByteStream::IoHandler handler) { pending = std::move(handler); },
            PacketWriter::Callbacks{});
        writer->sendDirect(numbered(1));
    });
    EXPECT_FALSE(writing());
    queue.sync([&] { writer->start(); });
    EXPECT_TRUE(writing());
}

TEST_F(PacketWriterTest, ReportsTheFirstFailureOnceAndWritesNothingAfter) {
    int failures = 0;
    int droppablesLeft = 0;
    make({.droppableLeft = [&] { ++droppablesLeft; }, .failed = [&](std::error_code) { ++failures; }});
    queue.sync([&] {
        writer->sendDirect(numbered(1), true);
        writer->sendDirect(numbered(2), true);
        writer->sendDirect(numbered(3));
    });
    complete(std::nullopt, asio::error::broken_pipe);
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(droppablesLeft, 2) << "the failed one and the discarded one";
    queue.sync([&] {
        writer->sendDirect(numbered(4), true);
        writer->resume();
        writer->setSource([] { return std::optional(numbered(5)); });
    });
    EXPECT_FALSE(writing());
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(droppablesLeft, 3);
    EXPECT_TRUE(queue.sync([&] { return writer->hasFailed(); }));
}

TEST_F(PacketWriterTest, AZeroByteWriteCountsAsAFailure) {
    std::error_code failure;
    make({.failed = [&](std::error_code error) { failure = error; }});
    queue.sync([&] { writer->sendDirect(numbered(1)); });
    complete(0);
    EXPECT_TRUE(failure);
}

TEST_F(PacketWriterTest, MayBeDestroyedFromItsFailureCallback) {
    make({.failed = [&](std::error_code) { writer.reset(); }});
    queue.sync([&] {
        writer->sendDirect(numbered(1));
        writer->sendDirect(numbered(2));
    });
    complete(std::nullopt, asio::error::connection_reset);
    EXPECT_TRUE(queue.sync([&] { return writer == nullptr; }));
}

TEST_F(PacketWriterTest, MayBeDestroyedFromItsDroppableCallback) {
    make({.droppableLeft = [&] { writer.reset(); }});
    queue.sync([&] {
        writer->sendDirect(numbered(1), true);
        writer->sendDirect(numbered(2));
    });
    complete();
    EXPECT_TRUE(queue.sync([&] { return writer == nullptr; }));
    EXPECT_FALSE(writing());
}

TEST_F(PacketWriterTest, IgnoresAWriteThatCompletesAfterItIsGone) {
    make();
    queue.sync([&] { writer->sendDirect(numbered(1)); });
    ByteStream::IoHandler late = queue.sync([&] { return std::exchange(pending, nullptr); });
    queue.sync([&] {
        writer.reset();
        late({}, 16);
    });
    SUCCEED() << "no use of the destroyed writer (AddressSanitizer)";
}

TEST_F(PacketWriterTest, FlushesQueuedPacketsOnFinishAndStopsPulling) {
    int flushed = 0;
    int pulls = 0;
    make({.flushed = [&] { ++flushed; }});
    queue.sync([&] {
        writer->setSource([&] {
            ++pulls;
            return std::optional(numbered(9));
        });
    });
    EXPECT_EQ(pulls, 1);
    queue.sync([&] {
        writer->sendDirect(numbered(1));
        writer->finish();
        writer->sendDirect(numbered(2));
    });
    complete();
    EXPECT_EQ(flushed, 0);
    complete();
    EXPECT_EQ(flushed, 1);
    EXPECT_EQ(pulls, 1);
    EXPECT_FALSE(writing());
    Bytes expected = numbered(9).encoded();
    const Bytes second = numbered(1).encoded();
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(written, expected);
}

TEST_F(PacketWriterTest, FinishWithNothingQueuedFlushesAtOnce) {
    int flushed = 0;
    make({.flushed = [&] { ++flushed; }});
    queue.sync([&] {
        writer->finish();
        writer->finish();
    });
    EXPECT_EQ(flushed, 1);
}

TEST_F(PacketWriterTest, WritesInPlaceWhatTheStreamTakesThenOffersTheRestThroughAWrite) {
    make({}, inPlace(50));
    queue.sync([&] {
        writer->sendDirect(numbered(1, 20));
        writer->sendDirect(numbered(2, 20));
    });
    const Bytes both = encoded({numbered(1, 20), numbered(2, 20)});
    EXPECT_EQ(writtenInPlace, Bytes(both.begin(), both.begin() + 50));
    ASSERT_TRUE(writing()) << "the stream took nothing more: the rest waits for a write";
    EXPECT_EQ(offered, Bytes(both.begin() + 50, both.end()));
    complete();
    EXPECT_FALSE(writing());
    EXPECT_EQ(written, Bytes(both.begin() + 50, both.end()));
}

TEST_F(PacketWriterTest, WritesInPlaceAtMostItsBoundInARow) {
    constexpr std::size_t size = 600 * 1024;
    make({}, inPlace(SIZE_MAX));
    queue.sync([&] {
        writer->setSource([n = 0]() mutable -> std::optional<WirePacket> {
            if (n == 3) return std::nullopt;
            return numbered(static_cast<std::uint8_t>(++n), size);
        });
    });
    EXPECT_EQ(writtenInPlace, encoded({numbered(1, size), numbered(2, size)}));
    ASSERT_TRUE(writing());
    EXPECT_EQ(offered, numbered(3, size).encoded());
    complete();
    // The write's completion starts a new run in place.
    queue.sync([&] { writer->sendDirect(numbered(4)); });
    EXPECT_FALSE(writing());
    EXPECT_EQ(written, numbered(3, size).encoded());
    const Bytes last = numbered(4).encoded();
    EXPECT_TRUE(std::equal(last.rbegin(), last.rend(), writtenInPlace.rbegin()));
}

TEST_F(PacketWriterTest, AFailureInPlaceIsReportedOnceAndNothingIsWrittenAfter) {
    int failures = 0;
    int droppablesLeft = 0;
    int calls = 0;
    make({.droppableLeft = [&] { ++droppablesLeft; }, .failed = [&](std::error_code) { ++failures; }},
         [&](ByteStream::WriteBuffers, std::error_code& error) -> std::size_t {
             if (++calls == 2) error = asio::error::broken_pipe;
             return calls == 1 ? numbered(1).encoded().size() : 0;
         });
    queue.sync([&] {
        writer->sendDirect(numbered(1), true);
        writer->sendDirect(numbered(2), true);
        writer->sendDirect(numbered(3), true);
    });
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(droppablesLeft, 3) << "the one written, the failed one and the discarded one";
    EXPECT_FALSE(writing());
    queue.sync([&] { writer->sendDirect(numbered(4)); });
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(writing());
}

TEST_F(PacketWriterTest, MayBeDestroyedFromACallbackWhileWritingInPlace) {
    make({.droppableLeft = [&] { writer.reset(); }}, inPlace(SIZE_MAX));
    queue.sync([&] { writer->sendDirect(numbered(1), true); });
    EXPECT_TRUE(queue.sync([&] { return writer == nullptr; }));
    EXPECT_EQ(writtenInPlace, numbered(1).encoded());

    make({.failed = [&](std::error_code) { writer.reset(); }},
         [](ByteStream::WriteBuffers, std::error_code& error) -> std::size_t {
             error = asio::error::connection_reset;
             return 0;
         });
    queue.sync([&] { writer->sendDirect(numbered(2)); });
    EXPECT_TRUE(queue.sync([&] { return writer == nullptr; }));
}

} // namespace
