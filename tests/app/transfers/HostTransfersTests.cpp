#include "tests/app/transfers/HostTransfersFixture.h"

#include <thread>

namespace {

using namespace HostTransfersTesting;

TEST(HostTransfersStartTest, ANewObjectHasEmptyListsAndRefusesEverything) {
    Testing::TemporaryDirectory directory;
    Testing::ManualMainActor actor;
    auto files = std::make_shared<TestTransferFiles>(directory / "Downloads", directory / "work");
    auto channel = std::make_shared<Testing::FakePacketChannel>();
    auto sender = std::make_shared<TessaloyNet::VideoSender>(
        channel, std::make_shared<TessaloyNet::VideoSendQueue>(16, 1'000'000));
    sender->attach();
    HostTransfers transfers(actor, std::make_shared<Testing::FakePasteboard>(), files);

    EXPECT_TRUE(transfers.active().empty());
    EXPECT_TRUE(transfers.finished().empty());
    EXPECT_FALSE(transfers.lastProblem());
    EXPECT_FALSE(transfers.lastReceived());
    EXPECT_EQ(transfers.inbox(), nullptr);
    EXPECT_EQ(transfers.sender(), nullptr);

    // isAllowed is false until the controller sets it.
    transfers.attach(sender);
    transfers.handle(TransferMessage::offer({5, TransferPurpose::file, "a.txt", "", 3}));
    std::vector<TransferMessage> replies;
    for (const auto& packet : channel->pull(10)) replies.push_back(TransferMessage::decode(packet));
    EXPECT_EQ(replies, std::vector{cancelOf(5, Reason::notAllowed)});
    EXPECT_EQ(transfers.lastProblem(), "Turn on Allow remote control in Plovander Settings to receive files.");
    EXPECT_TRUE(transfers.active().empty());
}

TEST_F(HostTransfersTest, AnOutgoingFileHandedOutCompletelyEndsAsADoneRow) {
    Bytes data = pattern(150'000);
    const std::string magic = "%PDF-1.4\n";
    std::copy(magic.begin(), magic.end(), data.begin());
    transfers.send(makeFile("report.pdf", data));
    const std::uint32_t id = outgoingID();

    const auto messages = pull(2);
    ASSERT_EQ(messages.size(), 2u);
    const auto& offer = std::get<TransferMessage::Offer>(messages[0].value).offer;
    EXPECT_EQ(offer, (TransferOffer{id, TransferPurpose::file, "report.pdf", "com.adobe.pdf", 150'000}));
    ASSERT_NE(row(false, id), nullptr);
    EXPECT_DOUBLE_EQ(row(false, id)->fraction, 65'536.0 / 150'000.0);

    const auto rest = pull();
    ASSERT_EQ(rest.size(), 3u);
    EXPECT_EQ(rest[1], TransferMessage::chunk(id, 131'072, Bytes(data.begin() + 131'072, data.end())));
    EXPECT_EQ(rest[2], TransferMessage::finish(id, digestOf(data)));

    EXPECT_TRUE(transfers.active().empty());
    ASSERT_EQ(transfers.finished().size(), 1u);
    const auto& finished = transfers.finished()[0];
    EXPECT_EQ(finished.name, "report.pdf");
    EXPECT_FALSE(finished.isIncoming);
    EXPECT_EQ(finished.outcome, Outcome::done());
    EXPECT_FALSE(finished.url);
    EXPECT_EQ(finished.date, actor.now());
}

TEST_F(HostTransfersTest, ARefusalOfADeliveredFileReplacesItsRowInPlace) {
    transfers.send(makeFile("first.bin", pattern(10)));
    const std::uint32_t first = outgoingID();
    pull();
    transfers.send(makeFile("second.bin", pattern(10)));
    pull();
    const auto delivered = transfers.finished()[1];
    ASSERT_EQ(delivered.name, "first.bin");

    handle(cancelOf(first, Reason::tooLarge));
    ASSERT_EQ(transfers.finished().size(), 2u);
    const auto& replaced = transfers.finished()[1];
    EXPECT_NE(replaced.id, delivered.id);
    EXPECT_EQ(replaced.name, "first.bin");
    EXPECT_FALSE(replaced.isIncoming);
    EXPECT_EQ(replaced.outcome, Outcome::failed("Not received"));
    EXPECT_FALSE(replaced.url);
    EXPECT_EQ(transfers.finished()[0].name, "second.bin");
    EXPECT_EQ(transfers.lastProblem(), "That was too large for your device to accept.");

    // Only once: the entry is gone, so a second refusal changes nothing.
    const auto before = transfers.finished();
    handle(cancelOf(first, Reason::failed));
    EXPECT_EQ(transfers.finished(), before);
}

TEST_F(HostTransfersTest, TheDevicesRefusalOfAQueuedTransferEndsItWithItsReason) {
    const std::vector<std::pair<Reason, Outcome>> table{
        {Reason::cancelled, Outcome::cancelled()},
        {Reason::notAllowed, Outcome::failed("Allow remote control is off")},
        {Reason::tooLarge, Outcome::failed("Too large for your device")},
        {Reason::failed, Outcome::failed("Couldn't be sent")},
    };
    for (const auto& [reason, outcome] : table) {
        transfers.setLastProblem(std::nullopt);
        transfers.send(makeFile("queued.bin", pattern(200'000)));
        const std::uint32_t id = outgoingID();
        pull(2);
        handle(cancelOf(id, reason));
        actor.runUntilIdle();

        EXPECT_TRUE(transfers.active().empty());
        EXPECT_EQ(transfers.finished()[0].outcome, outcome);
        EXPECT_EQ(transfers.lastProblem().has_value(), reason == Reason::tooLarge);
        EXPECT_TRUE(pull().empty()) << "nothing more of a refused transfer, and no answer to the refusal";
    }
}

TEST_F(HostTransfersTest, AnOutgoingClipboardImageNeverLeavesAFinishedRow) {
    pasteboard->contents.types = {"public.png"};
    pasteboard->contents.pngImage = pattern(1'000);
    ASSERT_EQ(transfers.sendPasteboard(), HostTransfers::PasteboardResult::queued());
    pull();
    EXPECT_TRUE(transfers.active().empty());

    ASSERT_EQ(transfers.sendPasteboard(), HostTransfers::PasteboardResult::queued());
    transfers.cancel(outgoingID());
    actor.runUntilIdle();
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_TRUE(transfers.finished().empty());
}

TEST_F(HostTransfersTest, FinishedKeepsThirtyRowsAndRecentlySentItsThirtyNewest) {
    std::vector<std::uint32_t> ids;
    for (int i = 0; i < 31; ++i) {
        transfers.send(makeFile("file" + std::to_string(i) + ".bin", pattern(4)));
        ids.push_back(outgoingID());
        pull();
    }
    ASSERT_EQ(transfers.finished().size(), 30u);
    EXPECT_EQ(transfers.finished().front().name, "file30.bin");
    EXPECT_EQ(transfers.finished().back().name, "file1.bin");

    // The oldest entry was evicted: its refusal goes to the inbox and changes no row.
    const auto before = transfers.finished();
    handle(cancelOf(ids[0], Reason::tooLarge));
    EXPECT_EQ(transfers.finished(), before);
    EXPECT_FALSE(transfers.lastProblem());

    // The newest and the second oldest are still known.
    handle(cancelOf(ids[30], Reason::cancelled));
    EXPECT_EQ(transfers.finished().front().outcome, Outcome::failed("Not received"));
    handle(cancelOf(ids[1], Reason::cancelled));
    EXPECT_EQ(transfers.finished().back().outcome, Outcome::failed("Not received"));
    EXPECT_EQ(transfers.finished().back().name, "file1.bin");
}

TEST_F(HostTransfersTest, AReportForATransferWithoutARowChangesNothing) {
    transfers.send(makeFile("a.bin", pattern(10)));
    const std::uint32_t id = outgoingID();
    pull();
    const auto finished = transfers.finished();

    // A progress report that arrives after the finish of the same transfer.
    sender->transfers().onProgress(id, 5, 10);
    sender->transfers().onFinished(id, Reason::failed);
    actor.runUntilIdle();
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_EQ(transfers.finished(), finished);
}

TEST_F(HostTransfersTest, AFractionAgainstADeclaredTotalOfZeroIsOne) {
    offer(3, "empty.txt", 0);
    ASSERT_NE(row(true, 3), nullptr);
    EXPECT_EQ(row(true, 3)->fraction, 0.0);
    handle(TransferMessage::chunk(3, 0, {}));
    EXPECT_EQ(row(true, 3)->fraction, 1.0);
}

TEST_F(HostTransfersTest, IncomingProgressMovesItsRowFraction) {
    offer(4, "photo.jpg", 200'000);
    sendChunks(4, pattern(100'000), 50'000);
    ASSERT_NE(row(true, 4), nullptr);
    EXPECT_EQ(*row(true, 4), (Activity{4, "photo.jpg", true, 0.5}));
}

TEST_F(HostTransfersTest, CancelAllStopsEveryTransferAndTellsTheDevice) {
    transfers.send(makeFile("one.bin", pattern(200'000)));
    const std::uint32_t one = outgoingID();
    pull(2);
    transfers.send(makeFile("two.bin", pattern(200'000)));
    offer(77, "in.txt", 100);
    sendChunks(77, pattern(50));
    transfers.setLastProblem("kept");
    ASSERT_EQ(transfers.active().size(), 3u);

    transfers.cancelAll();
    EXPECT_TRUE(transfers.active().empty());
    settle();
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_TRUE(transfers.finished().empty()) << "transfers stopped by cancelAll leave no finished row";
    EXPECT_EQ(transfers.lastProblem(), "kept");
    EXPECT_TRUE(filesIn(work()).empty()) << "the partial incoming file is deleted";

    // The second file's offer never went out, so only the first is cancelled on the wire; the
    // incoming transfer is refused because remote control went off.
    const auto messages = pull();
    EXPECT_EQ(messages, (std::vector{cancelOf(one, Reason::notAllowed), cancelOf(77, Reason::notAllowed)}));
}

TEST_F(HostTransfersTest, CancelEndsOneTransferOnEitherSide) {
    transfers.send(makeFile("queued.bin", pattern(10)));
    const std::uint32_t queuedID = outgoingID();
    transfers.cancel(queuedID);
    actor.runUntilIdle();
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_EQ(transfers.finished().at(0).outcome, Outcome::cancelled());
    EXPECT_TRUE(pull().empty()) << "the device is not told of a transfer whose offer never went out";

    transfers.send(makeFile("started.bin", pattern(200'000)));
    const std::uint32_t startedID = outgoingID();
    pull(2);
    transfers.cancel(startedID);
    actor.runUntilIdle();
    EXPECT_EQ(transfers.finished().at(0).outcome, Outcome::cancelled());
    EXPECT_EQ(pull(), std::vector{cancelOf(startedID, Reason::cancelled)});

    offer(9, "in.txt", 100);
    sendChunks(9, pattern(40));
    transfers.cancel(9);
    EXPECT_TRUE(transfers.active().empty());
    settle();
    EXPECT_EQ(transfers.finished().size(), 2u);
    EXPECT_EQ(pull(), std::vector{cancelOf(9, Reason::cancelled)});
    EXPECT_TRUE(filesIn(work()).empty());
}

TEST_F(HostTransfersTest, RowsOfBothDirectionsWithOneIDStayApart) {
    transfers.send(makeFile("out.bin", pattern(200'000)));
    const std::uint32_t id = outgoingID();
    offer(id, "in.bin", 1'000);
    ASSERT_EQ(transfers.active().size(), 2u);

    sendChunks(id, pattern(500));
    pull(2);
    EXPECT_DOUBLE_EQ(row(true, id)->fraction, 0.5);
    EXPECT_DOUBLE_EQ(row(false, id)->fraction, 65'536.0 / 200'000.0);

    // Cancelling the incoming row leaves the outgoing transfer running.
    transfers.cancel(Activity::Key{true, id});
    EXPECT_EQ(row(true, id), nullptr);
    ASSERT_NE(row(false, id), nullptr);
    EXPECT_TRUE(sender->transfers().contains(id));

    offer(id, "again.bin", 10);
    pull();
    EXPECT_EQ(row(false, id), nullptr);
    EXPECT_NE(row(true, id), nullptr) << "the outgoing finish does not take the incoming row";
    EXPECT_EQ(transfers.finished().at(0).outcome, Outcome::done());

    transfers.send(makeFile("out2.bin", pattern(10)));
    transfers.cancel(Activity::Key{false, outgoingID()});
    actor.runUntilIdle();
    EXPECT_NE(row(true, id), nullptr);
    EXPECT_EQ(transfers.finished().at(0).outcome, Outcome::cancelled());
}

TEST_F(HostTransfersTest, WithoutPermissionAChunkAbortsEveryIncomingTransferAndTellsTheDevice) {
    transfers.send(makeFile("out.bin", pattern(200'000)));
    const std::uint32_t out = outgoingID();
    offer(1, "a.txt", 100);
    offer(2, "b.txt", 100);
    sendChunks(1, pattern(10));

    allowed = false;
    handle(TransferMessage::chunk(2, 0, pattern(10)));
    ASSERT_EQ(transfers.active().size(), 1u);
    EXPECT_EQ(transfers.active()[0].key(), (Activity::Key{false, out}));
    EXPECT_TRUE(filesIn(work()).empty());
    const auto replies = cancels(pull());
    EXPECT_EQ(replies, (std::vector{cancelOf(1, Reason::notAllowed), cancelOf(2, Reason::notAllowed)}));

    // The device's own cancel is not answered.
    allowed = true;
    offer(3, "c.txt", 100);
    allowed = false;
    handle(cancelOf(3, Reason::cancelled));
    EXPECT_EQ(row(true, 3), nullptr);
    EXPECT_TRUE(cancels(pull()).empty());
}

TEST_F(HostTransfersTest, DetachIsSilentKeepsWhatEndedAndListsTheFileBeingSentAsFailed) {
    transfers.send(makeFile("done.bin", pattern(10)));
    pull();
    receive(5, "notes.txt", pattern(10));
    transfers.setLastProblem("a problem");
    offer(6, "partial.txt", 100);
    sendChunks(6, pattern(10));
    transfers.send(makeFile("queued.bin", pattern(10)));
    pasteboard->contents.types = {"public.png"};
    pasteboard->contents.pngImage = pattern(1'000);
    ASSERT_EQ(transfers.sendPasteboard(), HostTransfers::PasteboardResult::queued());
    const auto finished = transfers.finished();
    const auto received = transfers.lastReceived();
    ASSERT_TRUE(received);

    int activeChanges = 0;
    int finishedChanges = 0;
    QObject::connect(&transfers, &HostTransfers::activeChanged, [&] { ++activeChanges; });
    QObject::connect(&transfers, &HostTransfers::finishedChanged, [&] { ++finishedChanges; });
    transfers.detach();
    EXPECT_EQ(transfers.inbox(), nullptr);
    EXPECT_EQ(transfers.sender(), nullptr);
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_GE(activeChanges, 1);
    settle();
    EXPECT_TRUE(filesIn(work()).empty());

    // The controller stops the sender in the same step; its reports find no rows.
    sender->stop();
    actor.runUntilIdle();
    // The file being sent stays listed as failed; the image being sent and the file being received
    // leave no row.
    ASSERT_EQ(transfers.finished().size(), finished.size() + 1);
    EXPECT_EQ(transfers.finished()[0].name, "queued.bin");
    EXPECT_EQ(transfers.finished()[0].outcome, Outcome::failed("Couldn't be sent"));
    EXPECT_TRUE(std::equal(finished.begin(), finished.end(), transfers.finished().begin() + 1));
    EXPECT_EQ(finishedChanges, 1);
    EXPECT_EQ(transfers.lastReceived(), received);
    EXPECT_EQ(transfers.lastProblem(), "a problem");
    EXPECT_TRUE(channel->pull(10).empty()) << "the device is not told anything";

    // A later session starts empty, with a new inbox.
    auto nextChannel = std::make_shared<Testing::FakePacketChannel>();
    auto nextSender = std::make_shared<TessaloyNet::VideoSender>(nextChannel, queue);
    nextSender->attach();
    transfers.attach(nextSender);
    ASSERT_NE(transfers.inbox(), nullptr);
    EXPECT_TRUE(transfers.active().empty());
    offer(6, "partial.txt", 100);
    EXPECT_NE(row(true, 6), nullptr);
}

TEST_F(HostTransfersTest, ReportsFromAnEarlierSessionAreIgnored) {
    transfers.send(makeFile("old.bin", pattern(10)));
    auto nextChannel = std::make_shared<Testing::FakePacketChannel>();
    auto nextSender = std::make_shared<TessaloyNet::VideoSender>(nextChannel, queue);
    nextSender->attach();
    transfers.attach(nextSender);

    // The same id queued in the new session, then the old outbox finishes its own transfer.
    transfers.send(makeFile("new.bin", pattern(200'000)));
    const std::uint32_t newID = outgoingID();
    sender->transfers().onFinished(newID, std::nullopt);
    sender->transfers().onProgress(newID, 200'000, 200'000);
    pull();
    EXPECT_NE(row(false, newID), nullptr);
    EXPECT_EQ(row(false, newID)->fraction, 0.0);
    ASSERT_EQ(transfers.finished().size(), 1u) << "only the transfer that the new session cut off";
    EXPECT_EQ(transfers.finished()[0].name, "old.bin");
}

TEST_F(HostTransfersTest, ChangeSignalsFollowRealChangesOnly) {
    int problems = 0;
    int finishedChanges = 0;
    QObject::connect(&transfers, &HostTransfers::lastProblemChanged, [&] { ++problems; });
    QObject::connect(&transfers, &HostTransfers::finishedChanged, [&] { ++finishedChanges; });
    transfers.setLastProblem("x");
    transfers.setLastProblem("x");
    transfers.setLastProblem(std::nullopt);
    EXPECT_EQ(problems, 2);
    transfers.setFinished({});
    EXPECT_EQ(finishedChanges, 0);

    transfers.send(makeFile("a.bin", pattern(10)));
    pull();
    ASSERT_EQ(finishedChanges, 1);
    transfers.setFinished({});
    EXPECT_EQ(finishedChanges, 2);
    EXPECT_TRUE(transfers.finished().empty());
}

TEST_F(HostTransfersTest, DrivingItOffTheMainActorAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(std::thread([&] { transfers.cancelAll(); }).join(), "called off the main actor");
}

} // namespace
