#include "net/transfer/TransferInbox.h"
#include "tests/integration/TransfersFixture.h"

#include <atomic>
#include <future>

namespace TransfersTesting {
namespace {

using Sending = TransferPeer::Outgoing::State;
using Receiving = TransferPeer::Incoming::State;

constexpr std::uint64_t fileSize = 16 * mebibyte;
constexpr std::uint64_t pausedAt = 4 * mebibyte;
// Far more than the loopback connection holds in flight (send and receive buffers of a few tens of
// mebibytes at most), so a cancel reaches the device before the last chunk could.
constexpr std::uint64_t longFile = 256 * mebibyte;

class CancelledTransfers : public TransfersTest {
protected:
    // The device starts sending a file and stops after a quarter of it; the Mac holds that quarter in
    // its work file.
    TessaloyCore::TransferOffer sendAQuarter() {
        const auto source = sourceFolder() / "draft.mov";
        writePatternFile(source, fileSize, 3);
        TransferPeer::Offer options;
        options.pauseAt = pausedAt;
        const auto offer = peer->sendFile(source, options);
        const bool arrived = until([&] {
            const auto& rows = transfers().active();
            return rows.size() == 1 && rows.front().isIncoming && rows.front().id == offer.id &&
                   rows.front().fraction == 0.25;
        });
        EXPECT_TRUE(arrived);
        EXPECT_EQ(peer->outgoing(offer.id)->state, Sending::paused);
        const auto work = filesIn(workFolder());
        EXPECT_EQ(work.size(), 1u);
        if (work.size() == 1) {
            EXPECT_EQ(std::filesystem::file_size(work.front()), pausedAt);
        }
        return offer;
    }

    // Neither Downloads nor the work folder holds anything of the transfer, and nothing was recorded.
    void expectNothingLeft() {
        EXPECT_TRUE(transfers().active().empty());
        // The received files' worker deletes a cancelled work file after the cancel.
        EXPECT_TRUE(until([&] { return filesIn(workFolder()).empty(); }));
        EXPECT_TRUE(filesIn(receivedFolder()).empty());
        EXPECT_TRUE(transfers().finished().empty());
        EXPECT_FALSE(transfers().lastReceived());
        EXPECT_FALSE(transfers().lastProblem());
        EXPECT_TRUE(session->isSharing());
    }
};

TEST_F(CancelledTransfers, ADeviceThatCancelsMidwayLeavesNoPartialFile) {
    startStreaming();
    const auto offer = sendAQuarter();

    peer->cancel(offer.id);
    ASSERT_TRUE(until([&] { return transfers().active().empty(); }));
    expectNothingLeft();
    EXPECT_EQ(peer->outgoing(offer.id)->state, Sending::cancelled);
    EXPECT_EQ(peer->outgoing(offer.id)->sentBytes, pausedAt);
    // The Mac does not answer a device's own cancel.
    actor().runUntilIdle();
    EXPECT_TRUE(peer->problems().empty());
}

TEST_F(CancelledTransfers, TheMacCancelsAnIncomingFileAndTellsTheDevice) {
    startStreaming();
    const auto offer = sendAQuarter();

    transfers().cancel(offer.id);
    expectNothingLeft();
    ASSERT_TRUE(until([&] { return peer->outgoing(offer.id)->state == Sending::refused; }));
    EXPECT_EQ(peer->outgoing(offer.id)->reason, Reason::cancelled);
    EXPECT_EQ(peer->outgoing(offer.id)->sentBytes, pausedAt);
    EXPECT_TRUE(peer->problems().empty());
}

TEST_F(CancelledTransfers, ADeviceThatGoesAwayMidwayLeavesNoPartialFile) {
    startStreaming();
    sendAQuarter();

    disconnectDevice();
    ASSERT_TRUE(until([&] { return !session->isSharing(); }));
    EXPECT_EQ(session->phaseDescription(), "The device disconnected.");
    EXPECT_TRUE(transfers().active().empty());
    EXPECT_TRUE(until([&] { return filesIn(workFolder()).empty(); }));
    EXPECT_TRUE(filesIn(receivedFolder()).empty());
    EXPECT_TRUE(transfers().finished().empty());
    EXPECT_FALSE(transfers().lastProblem());
    // The Mac stays available to the device it paired with and listens again after a second.
    actor().advance(1s);
    EXPECT_TRUE(until([&] { return session->phaseDescription() == "Waiting for a paired device."; }));
}

TEST_F(CancelledTransfers, AFileWhoseFinishArrivedIsSavedThoughTheDeviceGoesAwayDuringItsFlush) {
    startStreaming();
    std::promise<void> diskReady;
    std::atomic<bool> flushing = false;
    transfers().inbox()->fileCalls.fsync = [&, disk = diskReady.get_future().share()](int descriptor) {
        flushing = true;
        disk.wait();
        return ::fsync(descriptor);
    };
    const auto source = sourceFolder() / "finished.mov";
    writePatternFile(source, 4 * mebibyte, 5);
    peer->sendFile(source);
    EXPECT_TRUE(until([&] { return flushing.load(); }));
    disconnectDevice();
    EXPECT_TRUE(until([&] { return !session->isSharing(); }));
    diskReady.set_value();
    EXPECT_TRUE(until([&] { return !transfers().finished().empty(); }, 10s));
    EXPECT_EQ(sha256Of(receivedFolder() / "finished.mov"), sha256Of(source));
    EXPECT_TRUE(filesIn(workFolder()).empty());
}

TEST_F(CancelledTransfers, TheMacCancelsAnOutgoingFileAndTheDeviceIsTold) {
    startStreaming();
    const auto source = sourceFolder() / "disk.img";
    std::ofstream(source).close();
    std::filesystem::resize_file(source, longFile);
    // The device stops reading after its first mebibyte, so the Mac's writes back up mid-file.
    peer->holdReceivingAt(mebibyte);

    transfers().send(source);
    ASSERT_EQ(transfers().active().size(), 1u);
    const std::uint32_t id = transfers().active().front().id;
    ASSERT_TRUE(until([&] { return peer->isHoldingReceiving(); }));
    transfers().cancel(id);
    peer->releaseReceiving();

    ASSERT_TRUE(until([&] {
        const auto received = peer->incoming(id);
        return received && received->state != Receiving::receiving && !transfers().finished().empty();
    }));
    const auto received = peer->incoming(id);
    EXPECT_EQ(received->state, Receiving::cancelled) << received->problem;
    EXPECT_EQ(received->reason, Reason::cancelled);
    EXPECT_GE(received->receivedBytes, mebibyte);
    EXPECT_LT(received->receivedBytes, longFile);
    EXPECT_FALSE(std::filesystem::exists(received->file));
    EXPECT_TRUE(filesIn(deviceFolder()).empty());

    ASSERT_EQ(transfers().finished().size(), 1u);
    const auto& row = transfers().finished().front();
    EXPECT_EQ(row.name, "disk.img");
    EXPECT_FALSE(row.isIncoming);
    EXPECT_EQ(row.outcome, Outcome::cancelled());
    EXPECT_FALSE(row.url);
    EXPECT_TRUE(transfers().active().empty());
    EXPECT_FALSE(transfers().lastProblem());
    EXPECT_TRUE(peer->problems().empty());
    EXPECT_TRUE(session->isSharing());
}

} // namespace
} // namespace TransfersTesting
