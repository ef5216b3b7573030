#include "core/DataTransferSource.h"
#include "core/IncomingTransfer.h"
#include "core/OutgoingTransfer.h"
#include "net/transfer/FileTransferSource.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestBytes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using namespace TessaloyCore;
using Testing::digestOf;
using Testing::pattern;

TransferOffer offerOf(std::uint64_t size) { return {42, TransferPurpose::file, "data.bin", "", size}; }

void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Records what the transfer does with it, through a log that outlives the source.
struct SourceLog {
    bool closed = false;
    std::vector<std::size_t> requests;
};

class ScriptedSource final : public TransferSource {
public:
    enum class Misbehaviour { none, throwsOnSecondRead, returnsMoreThanAsked };

    ScriptedSource(Bytes data, std::shared_ptr<SourceLog> log, Misbehaviour misbehaviour = Misbehaviour::none)
        : inner_(std::move(data)), log_(std::move(log)), misbehaviour_(misbehaviour) {}

    Bytes read(std::size_t maximumBytes) override {
        log_->requests.push_back(maximumBytes);
        if (misbehaviour_ == Misbehaviour::throwsOnSecondRead && log_->requests.size() == 2) {
            throw std::runtime_error("device went away");
        }
        if (misbehaviour_ == Misbehaviour::returnsMoreThanAsked) return inner_.read(maximumBytes + 1);
        return inner_.read(maximumBytes);
    }
    std::uint64_t size() const override { return inner_.size(); }
    void close() noexcept override { log_->closed = true; }

private:
    DataTransferSource inner_;
    std::shared_ptr<SourceLog> log_;
    Misbehaviour misbehaviour_;
};

std::vector<TransferMessage> drain(OutgoingTransfer& transfer) {
    std::vector<TransferMessage> messages;
    while (auto message = transfer.nextMessage()) {
        messages.push_back(std::move(*message));
        if (messages.size() > 10'000) break;
    }
    return messages;
}

// Offer, chunks of at most `chunkSize` bytes in order covering `data` exactly, and the finish.
void expectComplete(const std::vector<TransferMessage>& messages, const TransferOffer& offer, const Bytes& data,
                    std::size_t chunkSize) {
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages.front(), TransferMessage::offer(offer));
    Bytes sent;
    for (std::size_t i = 1; i + 1 < messages.size(); ++i) {
        const auto* chunk = std::get_if<TransferMessage::Chunk>(&messages[i].value);
        ASSERT_NE(chunk, nullptr) << "message " << i;
        EXPECT_EQ(chunk->id, offer.id);
        EXPECT_EQ(chunk->offset, sent.size());
        EXPECT_GE(chunk->data.size(), 1u);
        EXPECT_LE(chunk->data.size(), chunkSize);
        sent.insert(sent.end(), chunk->data.begin(), chunk->data.end());
    }
    EXPECT_EQ(sent, data);
    EXPECT_EQ(messages.size(), 2 + (data.size() + chunkSize - 1) / chunkSize);
    EXPECT_EQ(messages.back(), TransferMessage::finish(offer.id, digestOf(data)));
}

TEST(OutgoingTransfer, ChunkSizeMustLieBetween1And262144) {
    const auto make = [](std::size_t chunkSize) {
        OutgoingTransfer(offerOf(0), std::make_unique<DataTransferSource>(Bytes{}), chunkSize);
    };
    EXPECT_THROW(make(0), std::invalid_argument);
    EXPECT_NO_THROW(make(1));
    EXPECT_NO_THROW(make(262'144));
    EXPECT_THROW(make(262'145), std::invalid_argument);
    EXPECT_THROW(OutgoingTransfer(offerOf(0), nullptr, 4), std::invalid_argument);
}

TEST(OutgoingTransfer, SendsEverySizeFromMemory) {
    for (const std::size_t size : {0, 1, 3, 4, 5, 8, 12, 13}) {
        const Bytes data = pattern(size);
        auto log = std::make_shared<SourceLog>();
        OutgoingTransfer transfer(offerOf(size), std::make_unique<ScriptedSource>(data, log), 4);
        EXPECT_FALSE(transfer.isFinished());
        const auto messages = drain(transfer);
        expectComplete(messages, offerOf(size), data, 4);
        EXPECT_TRUE(transfer.isFinished());
        EXPECT_TRUE(log->closed);
        EXPECT_EQ(transfer.sentBytes(), size);
        EXPECT_EQ(transfer.nextMessage(), std::nullopt);
    }
}

TEST(OutgoingTransfer, SendsEverySizeFromAFile) {
    const Testing::TemporaryDirectory folder;
    for (const std::size_t size : {0, 1, 65'535, 65'536, 131'072, 200'001}) {
        const Bytes data = pattern(size);
        writeFile(folder / "file", data);
        auto source = std::make_unique<TessaloyNet::FileTransferSource>(folder / "file");
        ASSERT_EQ(source->size(), size);
        OutgoingTransfer transfer(offerOf(size), std::move(source), 65'536);
        expectComplete(drain(transfer), offerOf(size), data, 65'536);
        EXPECT_TRUE(transfer.isFinished());
    }
}

TEST(OutgoingTransfer, LargestChunksFillTheMessageLimit) {
    const Bytes data = pattern(262'145);
    OutgoingTransfer transfer(offerOf(data.size()), std::make_unique<DataTransferSource>(data), 262'144);
    const auto messages = drain(transfer);
    expectComplete(messages, offerOf(data.size()), data, 262'144);
    for (const auto& message : messages) EXPECT_NO_THROW(message.packet());
}

TEST(OutgoingTransfer, ReportsSentBytesAfterEachChunk) {
    OutgoingTransfer transfer(offerOf(10), std::make_unique<DataTransferSource>(pattern(10)), 4);
    transfer.nextMessage();
    EXPECT_EQ(transfer.sentBytes(), 0u);
    transfer.nextMessage();
    EXPECT_EQ(transfer.sentBytes(), 4u);
    transfer.nextMessage();
    EXPECT_EQ(transfer.sentBytes(), 8u);
    transfer.nextMessage();
    EXPECT_EQ(transfer.sentBytes(), 10u);
    EXPECT_FALSE(transfer.isFinished()) << "the finish has not been handed out yet";
    transfer.nextMessage();
    EXPECT_TRUE(transfer.isFinished());
}

TEST(OutgoingTransfer, NeverSendsMoreThanTheOfferDeclares) {
    const Bytes data = pattern(20);
    auto log = std::make_shared<SourceLog>();
    OutgoingTransfer transfer(offerOf(10), std::make_unique<ScriptedSource>(data, log), 4);
    const Bytes declared(data.begin(), data.begin() + 10);
    expectComplete(drain(transfer), offerOf(10), declared, 4);
    EXPECT_EQ(log->requests, (std::vector<std::size_t>{4, 4, 2}));
    EXPECT_EQ(transfer.sentBytes(), 10u);
}

TEST(OutgoingTransfer, SourceEndingEarlyCancelsWithFailed) {
    auto log = std::make_shared<SourceLog>();
    OutgoingTransfer transfer(offerOf(8), std::make_unique<ScriptedSource>(pattern(5), log), 4);
    const auto messages = drain(transfer);
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[1], TransferMessage::chunk(42, 0, Bytes(pattern(4))));
    EXPECT_EQ(messages[2], TransferMessage::chunk(42, 4, Bytes{pattern(5)[4]}));
    EXPECT_EQ(messages[3], TransferMessage::cancel(42, TransferCancelReason::failed));
    EXPECT_TRUE(transfer.isFinished());
    EXPECT_TRUE(log->closed);
    EXPECT_EQ(transfer.sentBytes(), 5u);
}

TEST(OutgoingTransfer, FileThatShrankCancelsWithFailed) {
    const Testing::TemporaryDirectory folder;
    writeFile(folder / "file", pattern(10));
    auto source = std::make_unique<TessaloyNet::FileTransferSource>(folder / "file");
    const std::uint64_t measured = source->size();
    std::filesystem::resize_file(folder / "file", 3);
    OutgoingTransfer transfer(offerOf(measured), std::move(source), 4);
    const auto messages = drain(transfer);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1], TransferMessage::chunk(42, 0, pattern(3)));
    EXPECT_EQ(messages[2], TransferMessage::cancel(42, TransferCancelReason::failed));
}

TEST(OutgoingTransfer, FailingReadCancelsWithFailed) {
    auto log = std::make_shared<SourceLog>();
    OutgoingTransfer transfer(
        offerOf(8), std::make_unique<ScriptedSource>(pattern(8), log, ScriptedSource::Misbehaviour::throwsOnSecondRead),
        4);
    const auto messages = drain(transfer);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2], TransferMessage::cancel(42, TransferCancelReason::failed));
    EXPECT_TRUE(log->closed);
}

TEST(OutgoingTransfer, SourceBreakingItsLimitCancelsWithFailed) {
    auto log = std::make_shared<SourceLog>();
    OutgoingTransfer transfer(
        offerOf(8),
        std::make_unique<ScriptedSource>(pattern(9), log, ScriptedSource::Misbehaviour::returnsMoreThanAsked), 4);
    const auto messages = drain(transfer);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], TransferMessage::cancel(42, TransferCancelReason::failed));
    EXPECT_EQ(transfer.sentBytes(), 0u);
}

TEST(OutgoingTransfer, CancelBeforeTheOfferSendsNothing) {
    auto log = std::make_shared<SourceLog>();
    OutgoingTransfer transfer(offerOf(8), std::make_unique<ScriptedSource>(pattern(8), log), 4);
    EXPECT_EQ(transfer.cancel(TransferCancelReason::cancelled), std::nullopt);
    EXPECT_TRUE(transfer.isFinished());
    EXPECT_TRUE(log->closed);
    EXPECT_TRUE(log->requests.empty());
    EXPECT_EQ(transfer.nextMessage(), std::nullopt);
}

TEST(OutgoingTransfer, CancelAfterTheOfferTellsTheDevice) {
    for (const bool midway : {false, true}) {
        auto log = std::make_shared<SourceLog>();
        OutgoingTransfer transfer(offerOf(8), std::make_unique<ScriptedSource>(pattern(8), log), 4);
        transfer.nextMessage();
        if (midway) transfer.nextMessage();
        EXPECT_EQ(transfer.cancel(TransferCancelReason::notAllowed),
                  TransferMessage::cancel(42, TransferCancelReason::notAllowed));
        EXPECT_TRUE(transfer.isFinished());
        EXPECT_TRUE(log->closed);
        EXPECT_EQ(transfer.nextMessage(), std::nullopt);
        EXPECT_EQ(transfer.cancel(TransferCancelReason::failed), std::nullopt) << "only once";
    }
}

TEST(OutgoingTransfer, CancelAfterTheFinishDoesNothing) {
    OutgoingTransfer transfer(offerOf(2), std::make_unique<DataTransferSource>(pattern(2)), 4);
    drain(transfer);
    EXPECT_EQ(transfer.cancel(TransferCancelReason::cancelled), std::nullopt);
}

TEST(OutgoingTransfer, WhatItSendsIsReceivedAndVerified) {
    const Bytes data = pattern(1'000);
    OutgoingTransfer sender(offerOf(data.size()), std::make_unique<DataTransferSource>(data), 96);
    std::optional<IncomingTransfer> receiver;
    Bytes written;
    bool verified = false;
    while (auto message = sender.nextMessage()) {
        const TransferMessage received = TransferMessage::decode(message->packet());
        if (const auto* offer = std::get_if<TransferMessage::Offer>(&received.value)) {
            receiver.emplace(offer->offer);
        } else if (const auto* chunk = std::get_if<TransferMessage::Chunk>(&received.value)) {
            receiver->receive(chunk->offset, chunk->data,
                              [&](ByteView bytes) { written.insert(written.end(), bytes.begin(), bytes.end()); });
        } else if (const auto* finish = std::get_if<TransferMessage::Finish>(&received.value)) {
            receiver->verify(finish->digest);
            verified = true;
        }
    }
    EXPECT_TRUE(verified);
    EXPECT_EQ(written, data);
}

} // namespace
