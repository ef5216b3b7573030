#include "net/channel/PacketWriter.h"

#include "platform/SerialQueue.h"

#include <gtest/gtest.h>
#include <asio/error.hpp>

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
    void make(PacketWriter::Callbacks callbacks = {}) {
        queue.sync([&] {
            writer = std::make_unique<PacketWriter>(
                queue,
                [this](ByteStream::WriteBuffers buffers, ByteStream::IoHandler handler) {
                    offered.clear();
                    for (const auto& buffer : buffers) {
                        const auto* data = static_cast<const std::uint8_t*>(buffer.data());
                        offered.insert(offered.end(), data, data + buffer.size());
                    }
                    pending = std::move(handler);
                },
                std::move(callbacks));
            writer->start();
        });
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

    Platform::SerialQueue queue{"dev.tessaloy.channel"};
    std::unique_ptr<PacketWriter> writer;
    Bytes offered;
    Bytes written;
    ByteStream::IoHandler pending;
};

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

} // namespace
