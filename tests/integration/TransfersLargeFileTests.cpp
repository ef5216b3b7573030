#include "core/TransferMessage.h"
#include "net/channel/PairedDeviceStore.h"
#include "tests/integration/TransfersFixture.h"

#include <atomic>
#include <future>

namespace TransfersTesting {
namespace {

constexpr std::uint64_t largeFile = 100 * mebibyte;
// Pictures reach the device every 20 ms; a transfer that held the video back for its whole length
// would let hardly any through.
constexpr std::uint64_t framesWhileTransferring = 5;

using LargeFileTransfers = TransfersTest;

TEST_F(LargeFileTransfers, AHundredMebibytesFromTheDeviceLandInDownloadsWhileVideoFlows) {
    startStreaming();
    const auto source = sourceFolder() / "holiday.mov";
    writePatternFile(source, largeFile, 1);

    TransferPeer::Offer options;
    options.contentType = "com.apple.quicktime-movie";
    const auto offer = peer->sendFile(source, options);
    ASSERT_TRUE(until([&] { return !transfers().finished().empty() || transfers().lastProblem(); }, 100s));

    const auto sent = peer->outgoing(offer.id);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->state, TransferPeer::Outgoing::State::finished);
    EXPECT_GE(sent->videoFramesDuring, framesWhileTransferring);
    const auto saved = receivedFolder() / "holiday.mov";
    ASSERT_EQ(transfers().finished().size(), 1u);
    const auto& row = transfers().finished().front();
    EXPECT_EQ(row.name, "holiday.mov");
    EXPECT_TRUE(row.isIncoming);
    EXPECT_EQ(row.outcome, Outcome::done());
    EXPECT_EQ(row.url, saved);
    EXPECT_EQ(row.date, actor().now());
    EXPECT_EQ(transfers().lastReceived(), saved);
    EXPECT_FALSE(transfers().lastProblem());
    EXPECT_TRUE(transfers().active().empty());
    EXPECT_TRUE(showedProgress(activity.fractions(true, offer.id)));

    EXPECT_EQ(std::filesystem::file_size(saved), largeFile);
    EXPECT_EQ(sha256Of(saved), sha256Of(source));
    EXPECT_EQ(std::filesystem::status(saved).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read | std::filesystem::perms::others_read);
    // 2026-01-01T00:00:00Z, the main actor's time, is 0x6955b900 seconds after 1970.
    EXPECT_EQ(attributeOf(saved, "user.tessaloy.quarantine"), "0081;6955b900;Plovander;");
    EXPECT_EQ(filesIn(receivedFolder()), std::vector<std::filesystem::path>{saved});
    EXPECT_TRUE(filesIn(workFolder()).empty()) << "the work file was moved, not copied";
    EXPECT_TRUE(traced("received a file from the device, 104857600 bytes"));
    EXPECT_TRUE(peer->problems().empty());
    EXPECT_TRUE(session->isSharing());
}

// The device comes back while the disk is slow to take the note of when it was last seen: it streams
// at once, and a file it sends meanwhile lands in Downloads.
TEST_F(LargeFileTransfers, ADeviceThatComesBackWhileTheDiskIsSlowStreamsAndSendsAtOnce) {
    environment.fake.disk = TessaloyBase::DiskQueue();
    std::atomic<bool> diskHeld = false;
    std::promise<void> diskFree;
    environment.fake.keychainItems.whileWriting = [&diskHeld, free = diskFree.get_future().share()] {
        if (diskHeld) free.wait_for(20s);
    };
    startStreaming();
    disconnectDevice();
    ASSERT_TRUE(until([&] { return !session->isSharing(); }));
    environment.fake.disk.drain();
    diskHeld = true;

    comeBack();
    ASSERT_TRUE(until([&] { return session->isSharing() && transfers().sender() != nullptr; }));
    const auto source = sourceFolder() / "notes.txt";
    writePatternFile(source, mebibyte, 2);
    peer->sendFile(source);
    ASSERT_TRUE(until([&] { return std::filesystem::exists(receivedFolder() / "notes.txt"); }));
    const auto stored = [&] { return TessaloyNet::PairedDeviceStore(environment.fake.keychainItems).all().at(0); };
    EXPECT_FALSE(stored().lastSeenAt) << "the disk has not taken it yet";
    diskFree.set_value();
    environment.fake.disk.drain();
    EXPECT_TRUE(stored().lastSeenAt);
}

TEST_F(LargeFileTransfers, ChunksOfTheLargestSizeFromTheDeviceAreTakenAsTheyCome) {
    startStreaming();
    const auto source = sourceFolder() / "scan.tiff";
    // Not a whole number of chunks: the last one is short.
    writePatternFile(source, 32 * mebibyte + 12'345, 7);

    TransferPeer::Offer options;
    options.chunkSize = TessaloyCore::TransferMessage::maximumChunkBytes;
    const auto offer = peer->sendFile(source, options);
    ASSERT_TRUE(until([&] { return !transfers().finished().empty() || transfers().lastProblem(); }));

    EXPECT_EQ(peer->outgoing(offer.id)->state, TransferPeer::Outgoing::State::finished);
    ASSERT_EQ(transfers().finished().size(), 1u);
    EXPECT_EQ(transfers().finished().front().outcome, Outcome::done());
    const auto saved = receivedFolder() / "scan.tiff";
    EXPECT_EQ(transfers().lastReceived(), saved);
    EXPECT_EQ(sha256Of(saved), sha256Of(source));
    EXPECT_TRUE(showedProgress(activity.fractions(true, offer.id)));
}

TEST_F(LargeFileTransfers, AHundredMebibytesFromTheMacArriveIntactWhileVideoFlows) {
    startStreaming();
    const auto source = sourceFolder() / "measurements.bin";
    writePatternFile(source, largeFile, 2);

    transfers().send(source);
    ASSERT_EQ(transfers().active().size(), 1u);
    const auto queued = transfers().active().front();
    EXPECT_EQ(queued.name, "measurements.bin");
    EXPECT_FALSE(queued.isIncoming);
    EXPECT_EQ(queued.fraction, 0.0);

    ASSERT_TRUE(until(
        [&] {
            const auto received = peer->incoming(queued.id);
            return received && received->state != TransferPeer::Incoming::State::receiving &&
                   !transfers().finished().empty();
        },
        100s));
    const auto received = peer->incoming(queued.id);
    EXPECT_EQ(received->state, TransferPeer::Incoming::State::complete) << received->problem;
    EXPECT_EQ(received->offer.name, "measurements.bin");
    EXPECT_EQ(received->offer.purpose, TransferPurpose::file);
    EXPECT_EQ(received->offer.size, largeFile);
    EXPECT_EQ(sha256Of(received->file), sha256Of(source));
    EXPECT_GE(received->videoFramesDuring, framesWhileTransferring);

    ASSERT_EQ(transfers().finished().size(), 1u);
    const auto& row = transfers().finished().front();
    EXPECT_EQ(row.name, "measurements.bin");
    EXPECT_FALSE(row.isIncoming);
    EXPECT_EQ(row.outcome, Outcome::done());
    EXPECT_FALSE(row.url);
    EXPECT_TRUE(transfers().active().empty());
    EXPECT_FALSE(transfers().lastProblem());
    EXPECT_TRUE(showedProgress(activity.fractions(false, queued.id)));
    EXPECT_TRUE(peer->problems().empty());
    EXPECT_TRUE(session->isSharing());
}

} // namespace
} // namespace TransfersTesting
