#include "tests/app/transfers/HostTransfersFixture.h"

namespace {

using namespace HostTransfersTesting;
using namespace std::chrono_literals;

constexpr std::uint64_t gibibyte = 1'073'741'824;
constexpr std::uint64_t clipboardMaximum = 26'214'400;

TEST_F(HostTransfersTest, OfferedSizesAreCappedPerPurpose) {
    offer(1, "Image.png", clipboardMaximum, TransferPurpose::clipboard);
    offer(2, "Image.png", clipboardMaximum + 1, TransferPurpose::clipboard);
    offer(3, "disk.img", gibibyte);
    handle(cancelOf(3, Reason::cancelled));
    offer(4, "disk.img", gibibyte + 1);

    EXPECT_NE(row(true, 1), nullptr);
    EXPECT_EQ(row(true, 2), nullptr);
    EXPECT_EQ(row(true, 4), nullptr);
    EXPECT_EQ(pull(), (std::vector{cancelOf(2, Reason::tooLarge), cancelOf(4, Reason::tooLarge)}));
    EXPECT_FALSE(transfers.lastProblem()) << "a size refusal shows no text";
}

TEST_F(HostTransfersTest, EightIncomingTransfersRunAtOnce) {
    for (std::uint32_t id = 1; id <= 8; ++id) offer(id, 'f' + std::to_string(id), 10);
    EXPECT_EQ(transfers.active().size(), 8u);

    offer(9, "ninth", 1);
    EXPECT_EQ(row(true, 9), nullptr);
    EXPECT_EQ(pull(), std::vector{cancelOf(9, Reason::failed)});

    // An offer under an active id replaces that transfer instead of counting as a ninth.
    offer(8, "replacement", 10);
    EXPECT_EQ(transfers.active().size(), 8u);
    EXPECT_EQ(row(true, 8)->name, "replacement");
    EXPECT_EQ(filesIn(work()).size(), 8u);
}

TEST_F(HostTransfersTest, DeclaredSizesShareTwoGibibytes) {
    offer(1, "a.img", gibibyte);
    offer(2, "b.img", gibibyte);
    offer(3, "one byte", 1);
    offer(4, "empty", 0);
    EXPECT_NE(row(true, 1), nullptr);
    EXPECT_NE(row(true, 2), nullptr);
    EXPECT_EQ(row(true, 3), nullptr);
    EXPECT_NE(row(true, 4), nullptr);
    EXPECT_EQ(pull(), std::vector{cancelOf(3, Reason::tooLarge)});
}

TEST_F(HostTransfersTest, AnIdleTransferExpiresAfterSixtySecondsAtTheNextOffer) {
    offer(1, "slow", 100);
    offer(2, "slower", 100);
    actor.advance(30s);
    sendChunks(1, pattern(10));
    actor.advance(30s);

    // Transfer 2 was last active exactly 60 s ago: it stays.
    offer(3, "new", 10);
    EXPECT_NE(row(true, 2), nullptr);
    EXPECT_TRUE(pull().empty());

    actor.advance(1ms);
    offer(4, "newer", 10);
    EXPECT_EQ(row(true, 2), nullptr);
    EXPECT_NE(row(true, 1), nullptr);
    EXPECT_EQ(pull(), std::vector{cancelOf(2, Reason::failed)});
    EXPECT_EQ(filesIn(work()).size(), 3u);
    EXPECT_FALSE(transfers.lastProblem());
}

TEST_F(HostTransfersTest, ChunksOutOfPlaceEndTheirTransfer) {
    offer(1, "a", 100);
    sendChunks(1, pattern(10));
    handle(TransferMessage::chunk(1, 20, pattern(10)));
    EXPECT_EQ(row(true, 1), nullptr);

    offer(2, "b", 100);
    sendChunks(2, pattern(90));
    handle(TransferMessage::chunk(2, 90, pattern(11)));
    EXPECT_EQ(row(true, 2), nullptr);

    offer(3, "c", 100);
    handle(TransferMessage::chunk(3, 0, pattern(100)));
    handle(TransferMessage::chunk(3, 100, pattern(1)));
    EXPECT_EQ(row(true, 3), nullptr);

    EXPECT_EQ(pull(),
              (std::vector{cancelOf(1, Reason::failed), cancelOf(2, Reason::failed), cancelOf(3, Reason::failed)}));
    EXPECT_TRUE(filesIn(work()).empty());
    EXPECT_TRUE(transfers.finished().empty());
    EXPECT_FALSE(std::filesystem::exists(downloads()));
}

TEST_F(HostTransfersTest, MessagesWithoutASessionAreDropped) {
    transfers.detach();
    offer(1, "a", 10);
    handle(TransferMessage::chunk(1, 0, pattern(10)));
    handle(cancelOf(1, Reason::cancelled));
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_FALSE(transfers.lastProblem());
    EXPECT_TRUE(channel->pull(10).empty());
    EXPECT_TRUE(filesIn(work()).empty());
}

TEST_F(HostTransfersTest, AHundredMebibyteFileArrivesByteForByte) {
    constexpr std::size_t size = 100 * 1024 * 1024;
    const Bytes data = pattern(size, 13);
    offer(500, "large.bin", size);
    sendChunks(500, data, 262'144);
    EXPECT_DOUBLE_EQ(row(true, 500)->fraction, 1.0);
    handle(TransferMessage::finish(500, digestOf(data)));

    const auto saved = downloads() / "large.bin";
    ASSERT_EQ(transfers.lastReceived(), saved);
    EXPECT_EQ(std::filesystem::file_size(saved), size);
    EXPECT_EQ(digestOf(contentsOf(saved)), digestOf(data));
    EXPECT_TRUE(filesIn(work()).empty());
}

} // namespace
