#include "tests/net/transfer/TransferOutboxFixture.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using namespace TransferOutboxTesting;

TEST_F(TransferOutboxTest, EmptyOutboxGivesNothingAndReportsNothing) {
    EXPECT_TRUE(outbox.isIdle());
    EXPECT_EQ(outbox.nextPacket(), std::nullopt);
    EXPECT_TRUE(recorder.progress.empty());
    EXPECT_TRUE(recorder.finished.empty());
    EXPECT_EQ(recorder.work, 0);
}

TEST_F(TransferOutboxTest, TransferGoesOutAsOfferChunksAndFinishWithProgress) {
    const Bytes data = pattern(10);
    auto made = transferOf(7, data);
    const TransferOffer offer = made.transfer->offer();
    outbox.enqueue(std::move(made.transfer));
    EXPECT_EQ(recorder.work, 1);
    EXPECT_TRUE(outbox.contains(7));

    const auto messages = drain(outbox);
    const std::vector<TransferMessage> expected{
        TransferMessage::offer(offer),
        TransferMessage::chunk(7, 0, Bytes(data.begin(), data.begin() + 4)),
        TransferMessage::chunk(7, 4, Bytes(data.begin() + 4, data.begin() + 8)),
        TransferMessage::chunk(7, 8, Bytes(data.begin() + 8, data.end())),
        TransferMessage::finish(7, digestOf(data)),
    };
    EXPECT_EQ(messages, expected);
    EXPECT_EQ(recorder.progress, (std::vector<Recorder::Progress>{{7, 4, 10}, {7, 8, 10}, {7, 10, 10}}));
    EXPECT_EQ(recorder.finished, (std::vector<Recorder::Finished>{{7, std::nullopt}}));
    EXPECT_TRUE(*made.closed);
    EXPECT_TRUE(outbox.isIdle());
    EXPECT_FALSE(outbox.contains(7));
}

TEST_F(TransferOutboxTest, UrgentMessageGoesOutBeforeTheNextChunk) {
    const Bytes data = pattern(12);
    outbox.enqueue(transferOf(1, data).transfer);
    ASSERT_TRUE(std::holds_alternative<TransferMessage::Offer>(next(outbox)->value));
    ASSERT_EQ(next(outbox), TransferMessage::chunk(1, 0, Bytes(data.begin(), data.begin() + 4)));

    outbox.send(TransferMessage::cancel(99, Reason::tooLarge));
    outbox.send(TransferMessage::cancel(98, Reason::failed));
    EXPECT_EQ(recorder.work, 3);
    EXPECT_EQ(next(outbox), TransferMessage::cancel(99, Reason::tooLarge));
    EXPECT_EQ(next(outbox), TransferMessage::cancel(98, Reason::failed));
    EXPECT_EQ(next(outbox), TransferMessage::chunk(1, 4, Bytes(data.begin() + 4, data.begin() + 8)));
    EXPECT_EQ(recorder.progress.size(), 2u) << "urgent messages report no progress";
}

TEST_F(TransferOutboxTest, SecondTransferStartsOnlyAfterTheFirstFinish) {
    outbox.enqueue(transferOf(1, pattern(5)).transfer);
    outbox.enqueue(transferOf(2, pattern(3)).transfer);
    const auto messages = drain(outbox);
    ASSERT_EQ(messages.size(), 7u);
    EXPECT_TRUE(std::holds_alternative<TransferMessage::Finish>(messages[3].value));
    const auto* second = std::get_if<TransferMessage::Offer>(&messages[4].value);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->offer.id, 2u);
    EXPECT_EQ(recorder.finished, (std::vector<Recorder::Finished>{{1, std::nullopt}, {2, std::nullopt}}));
}

TEST_F(TransferOutboxTest, EmptyTransferIsOfferThenFinishWithTheDigestOfNothing) {
    outbox.enqueue(transferOf(3, Bytes{}).transfer);
    const auto messages = drain(outbox);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(std::holds_alternative<TransferMessage::Offer>(messages[0].value));
    EXPECT_EQ(messages[1], TransferMessage::finish(3, digestOf(Bytes{})));
    EXPECT_TRUE(recorder.progress.empty());
    EXPECT_EQ(recorder.finished, (std::vector<Recorder::Finished>{{3, std::nullopt}}));
}

TEST_F(TransferOutboxTest, SourceShorterThanDeclaredEndsWithCancelFailed) {
    auto made = transferOf(4, pattern(5), 9);
    outbox.enqueue(std::move(made.transfer));
    const auto messages = drain(outbox);
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages.back(), TransferMessage::cancel(4, Reason::failed));
    EXPECT_EQ(recorder.finished, (std::vector<Recorder::Finished>{{4, Reason::failed}}));
    EXPECT_TRUE(*made.closed);
    EXPECT_TRUE(outbox.isIdle());
}

TEST_F(TransferOutboxTest, CancelBeforeTheOfferTellsTheDeviceNothing) {
    auto made = transferOf(5, pattern(8));
    outbox.enqueue(std::move(made.transfer));
    outbox.cancel(5, Reason::cancelled);
    EXPECT_EQ(recorder.finished, (std::vector<Recorder::Finished>{{5, Reason::cancelled}}));
    EXPECT_EQ(recorder.work, 2) << "the cancel resumes the channel even with nothing to send";
    EXPECT_TRUE(*made.closed);
    EXPECT_EQ(outbox.nextPacket(), std::nullopt);
    EXPECT_TRUE(outbox.isIdle());
}

TEST_F(TransferOutboxTest, CancelAfterTheOfferQueuesBehindUrgentAndAheadOfOtherTransfers) {
    outbox.enqueue(transferOf(5, pattern(8)).transfer);
    outbox.enqueue(transferOf(6, pattern(2)).transfer);
    ASSERT_TRUE(next(outbox));
    ASSERT_TRUE(next(outbox));
    outbox.send(TransferMessage::cancel(40, Reason::failed));
    outbox.cancel(5, Reason::notAllowed);
    EXPECT_EQ(recorder.finished, (std::vector<Recorder::Finished>{{5, Reason::notAllowed}}));

    EXPECT_EQ(next(outbox), TransferMessage::cancel(40, Reason::failed));
    EXPECT_EQ(next(outbox), TransferMessage::cancel(5, Reason::notAllowed));
    const auto following = next(outbox);
    ASSERT_TRUE(following);
    const auto* offer = std::get_if<TransferMessage::Offer>(&following->value);
    ASSERT_NE(offer, nullptr);
    EXPECT_EQ(offer->offer.id, 6u);
}

TEST_F(TransferOutboxTest, CancelOrRefusalOfAnUnknownIdDoesNothing) {
    outbox.enqueue(transferOf(1, pattern(2)).transfer);
    drain(outbox);
    recorder = {};
    recorder.attach(outbox);

    outbox.cancel(1, Reason::cancelled);
    outbox.refused(1, Reason::tooLarge);
    outbox.cancel(77, Reason::cancelled);
    EXPECT_TRUE(recorder.finished.empty());
    EXPECT_EQ(recorder.work, 0);
    EXPECT_EQ(outbox.nextPacket(), std::nullopt);
}

TEST_F(TransferOutboxTest, RefusalClosesTheSourceAndSendsNothing) {
    auto made = transferOf(8, pattern(8));
    outbox.enqueue(std::move(made.transfer));
    ASSERT_TRUE(next(outbox));
    outbox.refused(8, Reason::tooLarge);
    EXPECT_EQ(recorder.finished, (std::vector<Recorder::Finished>{{8, Reason::tooLarge}}));
    EXPECT_EQ(recorder.work, 1) << "a refusal does not resume the channel";
    EXPECT_TRUE(*made.closed);
    EXPECT_EQ(outbox.nextPacket(), std::nullopt);
}

TEST_F(TransferOutboxTest, RemoveAllReportsEveryTransferFailedOldestFirstAndDropsUrgent) {
    std::vector<std::shared_ptr<bool>> closed;
    for (std::uint32_t id : {10u, 11u, 12u}) {
        auto made = transferOf(id, pattern(6));
        closed.push_back(made.closed);
        outbox.enqueue(std::move(made.transfer));
    }
    ASSERT_TRUE(next(outbox));
    outbox.send(TransferMessage::cancel(50, Reason::failed));
    const int workBefore = recorder.work;

    outbox.removeAll();
    EXPECT_EQ(recorder.finished,
              (std::vector<Recorder::Finished>{{10, Reason::failed}, {11, Reason::failed}, {12, Reason::failed}}));
    EXPECT_EQ(recorder.work, workBefore);
    EXPECT_TRUE(outbox.isIdle());
    EXPECT_EQ(outbox.nextPacket(), std::nullopt);
    for (const auto& flag : closed) EXPECT_TRUE(*flag);
}

TEST_F(TransferOutboxTest, UrgentMessagesDoNotCountAsQueuedTransfers) {
    outbox.send(TransferMessage::cancel(9, Reason::failed));
    EXPECT_FALSE(outbox.contains(9));
    EXPECT_FALSE(outbox.isIdle());
}

TEST_F(TransferOutboxTest, OfferThatCannotBeEncodedEndsItsTransferAsFailedWithoutSendingIt) {
    auto overlongName = transferOf(20, pattern(8), std::nullopt, 4, std::string(256, 'n'));
    auto overlongType = transferOf(21, pattern(8), std::nullopt, 4, "ok.bin", std::string(129, 't'));
    outbox.enqueue(std::move(overlongName.transfer));
    outbox.enqueue(std::move(overlongType.transfer));
    outbox.enqueue(transferOf(22, pattern(2)).transfer);

    // The broken transfers are skipped within the same call: the channel is not left waiting.
    const auto messages = drain(outbox);
    ASSERT_EQ(messages.size(), 3u);
    for (const auto& message : messages) {
        std::visit(
            [](const auto& value) {
                if constexpr (requires { value.offer; }) {
                    EXPECT_EQ(value.offer.id, 22u);
                } else {
                    EXPECT_EQ(value.id, 22u);
                }
            },
            message.value);
    }
    EXPECT_EQ(recorder.finished,
              (std::vector<Recorder::Finished>{{20, Reason::failed}, {21, Reason::failed}, {22, std::nullopt}}));
    EXPECT_TRUE(*overlongName.closed);
    EXPECT_TRUE(*overlongType.closed);
}

TEST_F(TransferOutboxTest, OfferAtTheTextLimitsIsSent) {
    outbox.enqueue(transferOf(23, pattern(1), std::nullopt, 4, std::string(255, 'n'), std::string(128, 't')).transfer);
    const auto messages = drain(outbox);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(recorder.finished, (std::vector<Recorder::Finished>{{23, std::nullopt}}));
}

TEST_F(TransferOutboxTest, UnencodableUrgentMessageIsSkippedForTheNextPacket) {
    outbox.send(TransferMessage::finish(1, Bytes(31)));
    outbox.send(TransferMessage::cancel(2, Reason::cancelled));
    EXPECT_EQ(next(outbox), TransferMessage::cancel(2, Reason::cancelled));
    EXPECT_EQ(outbox.nextPacket(), std::nullopt);
}

TEST_F(TransferOutboxTest, UrgentMessagesGoOutAsGivenWhateverTheirCase) {
    const TransferOffer offer{4, TransferPurpose::clipboard, "Image.png", "public.png", 9};
    outbox.send(TransferMessage::offer(offer));
    outbox.send(TransferMessage::offer({5, TransferPurpose::file, std::string(256, 'x'), "", 1}));
    outbox.send(TransferMessage::finish(4, digestOf({})));
    EXPECT_EQ(next(outbox), TransferMessage::offer(offer));
    EXPECT_EQ(next(outbox), TransferMessage::finish(4, digestOf({})));
    EXPECT_TRUE(recorder.finished.empty());
}

TEST_F(TransferOutboxTest, CallbacksMayCallBackIntoTheOutbox) {
    std::vector<bool> containsAtFinish;
    outbox.onFinished = [&](std::uint32_t id, std::optional<Reason>) {
        containsAtFinish.push_back(outbox.contains(id));
        if (id == 1) outbox.enqueue(transferOf(2, pattern(1)).transfer);
    };
    outbox.onProgress = [&](std::uint32_t, std::uint64_t, std::uint64_t) { EXPECT_FALSE(outbox.isIdle()); };
    outbox.enqueue(transferOf(1, pattern(3)).transfer);
    const auto messages = drain(outbox);
    EXPECT_EQ(messages.size(), 6u);
    EXPECT_EQ(containsAtFinish, (std::vector<bool>{false, false}));

    outbox.enqueue(transferOf(3, pattern(3)).transfer);
    outbox.onFinished = [&](std::uint32_t, std::optional<Reason>) { outbox.removeAll(); };
    outbox.cancel(3, Reason::cancelled);
    EXPECT_TRUE(outbox.isIdle());
}

TEST(TransferOutbox, TransfersQueuedFromAnotherThreadArriveWholeAndInOrder) {
    TransferOutbox outbox;
    constexpr std::uint32_t count = 40;
    std::atomic<std::uint32_t> finished{0};
    std::mutex lock;
    std::condition_variable worked;
    std::uint64_t works = 0;
    outbox.onWork = [&] {
        {
            std::lock_guard guard(lock);
            ++works;
        }
        worked.notify_all();
    };
    outbox.onFinished = [&](std::uint32_t, std::optional<Reason> reason) {
        EXPECT_EQ(reason, std::nullopt);
        ++finished;
    };
    std::thread producer([&] {
        for (std::uint32_t id = 1; id <= count; ++id) {
            outbox.enqueue(transferOf(id, pattern(id, static_cast<std::uint8_t>(id)), std::nullopt, 16).transfer);
            if (id % 5 == 0) outbox.send(TransferMessage::cancel(1000 + id, Reason::failed));
        }
    });

    std::uint32_t current = 0;
    std::uint64_t offset = 0;
    std::size_t urgent = 0;
    const auto check = [&](const TransferMessage& message) {
        if (const auto* offer = std::get_if<TransferMessage::Offer>(&message.value)) {
            EXPECT_EQ(offer->offer.id, current + 1);
            current = offer->offer.id;
            offset = 0;
        } else if (const auto* chunk = std::get_if<TransferMessage::Chunk>(&message.value)) {
            EXPECT_EQ(chunk->id, current);
            EXPECT_EQ(chunk->offset, offset);
            offset += chunk->data.size();
        } else if (const auto* finish = std::get_if<TransferMessage::Finish>(&message.value)) {
            EXPECT_EQ(finish->id, current);
            EXPECT_EQ(offset, current);
        } else {
            ++urgent;
        }
    };
    while (finished.load() < count) {
        std::unique_lock guard(lock);
        const std::uint64_t seen = works;
        guard.unlock();
        if (const auto message = next(outbox)) {
            check(*message);
            continue;
        }
        // Nothing queued yet: wait for the producer's next piece of work.
        guard.lock();
        ASSERT_TRUE(worked.wait_for(guard, std::chrono::seconds(10), [&] { return works != seen; }));
    }
    producer.join();
    for (const auto& message : drain(outbox)) check(message);
    EXPECT_EQ(current, count);
    EXPECT_EQ(urgent, count / 5);
}

} // namespace
