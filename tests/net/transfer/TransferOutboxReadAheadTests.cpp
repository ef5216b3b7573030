#include "tests/net/transfer/TransferOutboxFixture.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

using namespace TransferOutboxTesting;
using namespace std::chrono_literals;

// What a test sees of a source that workers read: bytes read, closure, and a gate that holds reads.
class Watch {
public:
    std::atomic<std::size_t> bytesRead{0};
    std::atomic<bool> closed{false};

    void shut() {
        change([this] { open_ = false; });
    }
    void open() {
        change([this] { open_ = true; });
    }
    // Called by the source before each read.
    void pass() {
        std::unique_lock guard(lock_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(guard, [this] { return open_; });
        --waiting_;
    }
    void waitForReader() {
        std::unique_lock guard(lock_);
        changed_.wait(guard, [this] { return waiting_ > 0; });
    }
    // Called by the source when it is closed.
    void close() {
        change([this] { closed = true; });
    }
    bool waitForClose() {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, 10s, [this] { return closed.load(); });
    }

private:
    template <typename Change>
    void change(Change&& made) {
        {
            std::lock_guard guard(lock_);
            made();
        }
        changed_.notify_all();
    }

    std::mutex lock_;
    std::condition_variable changed_;
    bool open_ = true;
    int waiting_ = 0;
};

class WatchedSource final : public TransferSource {
public:
    WatchedSource(Bytes data, std::shared_ptr<Watch> watch) : inner_(std::move(data)), watch_(std::move(watch)) {}
    Bytes read(std::size_t maximumBytes) override {
        watch_->pass();
        Bytes bytes = inner_.read(maximumBytes);
        watch_->bytesRead += bytes.size();
        return bytes;
    }
    std::uint64_t size() const override { return inner_.size(); }
    void close() noexcept override { watch_->close(); }

private:
    DataTransferSource inner_;
    std::shared_ptr<Watch> watch_;
};

std::unique_ptr<OutgoingTransfer> watched(std::uint32_t id, const Bytes& data, std::shared_ptr<Watch> watch,
                                          std::size_t chunkSize = 4) {
    const TransferOffer offer{id, TransferPurpose::file, "file.bin", "", data.size()};
    return std::make_unique<OutgoingTransfer>(offer, std::make_unique<WatchedSource>(data, std::move(watch)),
                                              chunkSize);
}

Bytes slice(const Bytes& data, std::size_t from, std::size_t count) {
    return Bytes(data.begin() + static_cast<std::ptrdiff_t>(from),
                 data.begin() + static_cast<std::ptrdiff_t>(from + count));
}

class TransferOutboxReadAheadTest : public testing::Test {
protected:
    void SetUp() override { recorder.attach(outbox); }

    // The current transfer with its offer out and one read-ahead job held, its reads gated.
    void startGated(std::uint32_t id, const Bytes& data) {
        watch->shut();
        outbox.enqueue(watched(id, data, watch));
        ASSERT_TRUE(std::holds_alternative<TransferMessage::Offer>(next(outbox)->value));
        worker = std::thread(held.take());
        watch->waitForReader();
    }
    void finishWorker() {
        watch->open();
        if (worker.joinable()) worker.join();
    }
    void TearDown() override { finishWorker(); }

    HeldJobs held;
    TransferOutbox outbox{held.worker()};
    Recorder recorder;
    std::shared_ptr<Watch> watch = std::make_shared<Watch>();
    std::thread worker;
};

TEST_F(TransferOutboxReadAheadTest, WorkersReadAheadWithinTheBudgetAndKeepTheOrder) {
    constexpr std::size_t chunkSize = 65'536;
    constexpr std::size_t budget = TransferOutbox::readAheadBytes;
    const Bytes data = pattern(2 * budget + 1000);
    outbox.enqueue(watched(1, data, watch, chunkSize));
    outbox.enqueue(transferOf(2, pattern(8)).transfer);
    ASSERT_TRUE(std::holds_alternative<TransferMessage::Offer>(next(outbox)->value));
    EXPECT_EQ(watch->bytesRead.load(), 0u) << "the offer reads nothing";

    std::size_t chunks = 0;
    for (std::size_t offset = 0; offset < data.size(); offset += chunkSize) {
        held.runAll();
        const std::size_t ahead = watch->bytesRead.load() - offset;
        EXPECT_GE(ahead, std::min(budget, data.size() - offset)) << "at " << offset;
        EXPECT_LE(ahead, budget + chunkSize) << "at " << offset;
        const std::size_t size = std::min(chunkSize, data.size() - offset);
        EXPECT_EQ(next(outbox), TransferMessage::chunk(1, offset, slice(data, offset, size)));
        ++chunks;
    }
    EXPECT_TRUE(recorder.finished.empty()) << "the finish is reported when it goes out, not when read";
    EXPECT_EQ(next(outbox), TransferMessage::finish(1, digestOf(data)));
    EXPECT_EQ(recorder.finished, (std::vector<Recorder::Finished>{{1, std::nullopt}}));
    EXPECT_EQ(recorder.progress.size(), chunks);
    EXPECT_EQ(recorder.progress.back(), (Recorder::Progress{1, data.size(), data.size()}));
    EXPECT_TRUE(watch->closed);
    const auto following = next(outbox);
    ASSERT_TRUE(following);
    EXPECT_TRUE(std::holds_alternative<TransferMessage::Offer>(following->value));
}

TEST_F(TransferOutboxReadAheadTest, CancelDuringAReadTellsTheDeviceAtOnceAndDropsTheChunk) {
    startGated(5, pattern(12));
    outbox.cancel(5, Reason::cancelled);
    EXPECT_EQ(recorder.finished, (std::vector<Recorder::Finished>{{5, Reason::cancelled}}));
    EXPECT_FALSE(outbox.contains(5));
    EXPECT_FALSE(watch->closed) << "the worker still reads it; it closes the source";
    EXPECT_EQ(next(outbox), TransferMessage::cancel(5, Reason::cancelled));
    EXPECT_EQ(outbox.nextPacket(), std::nullopt);

    finishWorker();
    EXPECT_TRUE(watch->closed);
    EXPECT_EQ(watch->bytesRead.load(), 4u) << "no read after the cancel";
    EXPECT_EQ(outbox.nextPacket(), std::nullopt);
    EXPECT_TRUE(recorder.progress.empty());
    EXPECT_TRUE(outbox.isIdle());
}

TEST_F(TransferOutboxReadAheadTest, RefusalDuringAReadSendsNothingAndClosesTheSourceAfterIt) {
    startGated(8, pattern(12));
    const int workBefore = recorder.work;
    outbox.refused(8, Reason::tooLarge);
    EXPECT_EQ(recorder.finished, (std::vector<Recorder::Finished>{{8, Reason::tooLarge}}));
    EXPECT_EQ(recorder.work, workBefore);
    finishWorker();
    EXPECT_TRUE(watch->closed);
    EXPECT_EQ(outbox.nextPacket(), std::nullopt);
}

TEST_F(TransferOutboxReadAheadTest, RemoveAllDuringAReadEndsEveryTransferAndSendsNothing) {
    auto waiting = transferOf(11, pattern(6));
    startGated(10, pattern(12));
    outbox.enqueue(std::move(waiting.transfer));
    outbox.send(TransferMessage::cancel(50, Reason::failed));

    outbox.removeAll();
    EXPECT_EQ(recorder.finished, (std::vector<Recorder::Finished>{{10, Reason::failed}, {11, Reason::failed}}));
    EXPECT_TRUE(*waiting.closed) << "a transfer nobody reads is closed at once";
    EXPECT_TRUE(outbox.isIdle());
    EXPECT_EQ(outbox.nextPacket(), std::nullopt);
    finishWorker();
    EXPECT_TRUE(watch->closed);
    EXPECT_EQ(outbox.nextPacket(), std::nullopt);
    EXPECT_TRUE(recorder.progress.empty());
}

TEST_F(TransferOutboxReadAheadTest, TheChannelNeverWaitsForAChunkBeingReadAndIsResumedOnceItIsReady) {
    const Bytes data = pattern(8);
    startGated(6, data);
    const int workBefore = recorder.work;
    auto pending = std::async(std::launch::async, [this] { return outbox.nextPacket(); });
    const auto status = pending.wait_for(10s);
    finishWorker();
    ASSERT_EQ(status, std::future_status::ready) << "the channel waited for the disk";
    EXPECT_EQ(pending.get(), std::nullopt);
    EXPECT_EQ(recorder.work, workBefore + 1) << "the reader resumes the channel once the chunk is ready";
    EXPECT_EQ(drain(outbox), (std::vector<TransferMessage>{TransferMessage::chunk(6, 0, slice(data, 0, 4)),
                                                           TransferMessage::chunk(6, 4, slice(data, 4, 4)),
                                                           TransferMessage::finish(6, digestOf(data))}));
}

// Reads its data normally `goodReads` times, then throws whatever `fail` throws.
class ThrowingSource final : public TransferSource {
public:
    ThrowingSource(Bytes data, int goodReads, std::function<void()> fail, std::shared_ptr<bool> closed)
        : inner_(std::move(data)), goodReads_(goodReads), fail_(std::move(fail)), closed_(std::move(closed)) {}
    Bytes read(std::size_t maximumBytes) override {
        if (goodReads_-- == 0) fail_();
        return inner_.read(maximumBytes);
    }
    std::uint64_t size() const override { return inner_.size(); }
    void close() noexcept override { *closed_ = true; }

private:
    DataTransferSource inner_;
    int goodReads_;
    std::function<void()> fail_;
    std::shared_ptr<bool> closed_;
};

TEST(TransferOutboxWorkers, WhateverASourceThrowsEndsItsTransferAsFailedAndTheRestGoesOn) {
    struct Case {
        const char* name;
        std::function<void()> fail;
    };
    const std::vector<Case> cases{
        {"out of memory", [] { throw std::bad_alloc(); }},
        {"a runtime error", [] { throw std::runtime_error("the disk went away"); }},
        {"no standard exception", [] { throw 42; }},
    };
    const Bytes data = pattern(12);
    for (const Case& failure : cases) {
        SCOPED_TRACE(failure.name);
        TransferOutbox outbox{readAtOnce};
        Recorder recorder;
        recorder.attach(outbox);
        const auto closed = std::make_shared<bool>(false);
        const TransferOffer offer{1, TransferPurpose::file, "file.bin", "", data.size()};
        outbox.enqueue(std::make_unique<OutgoingTransfer>(
            offer, std::make_unique<ThrowingSource>(data, 1, failure.fail, closed), 4));
        outbox.enqueue(transferOf(2, pattern(3)).transfer);

        ASSERT_TRUE(std::holds_alternative<TransferMessage::Offer>(next(outbox)->value));
        EXPECT_EQ(next(outbox), TransferMessage::chunk(1, 0, Bytes(data.begin(), data.begin() + 4)));
        EXPECT_EQ(next(outbox), TransferMessage::cancel(1, Reason::failed));
        EXPECT_TRUE(*closed);
        EXPECT_EQ(recorder.finished, (std::vector<Recorder::Finished>{{1, Reason::failed}}));

        const auto rest = drain(outbox);
        ASSERT_EQ(rest.size(), 3u);
        EXPECT_EQ(rest.back(), TransferMessage::finish(2, digestOf(pattern(3))));
        EXPECT_TRUE(outbox.isIdle());
    }
}

TEST(TransferOutboxWorkers, NoChunkOfACancelledTransferFollowsItsCancel) {
    TransferOutbox outbox{readAtOnce};
    const auto watch = std::make_shared<Watch>();
    const Bytes data = pattern(1 << 20);
    outbox.enqueue(watched(1, data, watch, 1024));
    outbox.enqueue(transferOf(2, pattern(5)).transfer);
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(next(outbox));
    outbox.cancel(1, Reason::cancelled);

    const auto messages = drain(outbox);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), TransferMessage::cancel(1, Reason::cancelled));
    for (const auto& message : messages) {
        if (const auto* chunk = std::get_if<TransferMessage::Chunk>(&message.value)) {
            EXPECT_EQ(chunk->id, 2u);
        }
    }
    EXPECT_TRUE(std::holds_alternative<TransferMessage::Finish>(messages.back().value));
    EXPECT_TRUE(watch->waitForClose());
    EXPECT_LT(watch->bytesRead.load(), data.size());
}

} // namespace
