#include "tests/integration/TransfersFixture.h"
#include "tests/support/FakePasteboard.h"

namespace TransfersTesting {
namespace {

using Sending = TransferPeer::Outgoing::State;
using Receiving = TransferPeer::Incoming::State;

constexpr const char* receiveRefused = "Turn on Allow remote control in Plovander Settings to receive files.";
constexpr const char* sendRefused = "Turn on Allow remote control to send files.";

class TransfersWithoutRemoteControl : public TransfersTest {
protected:
    // The device offers a file and waits for the Mac's answer before sending any of it.
    TessaloyCore::TransferOffer offerAFile(const std::string& name, TransferPurpose purpose = TransferPurpose::file) {
        const auto source = sourceFolder() / name;
        writePatternFile(source, mebibyte, 5);
        TransferPeer::Offer options;
        options.purpose = purpose;
        options.pauseAt = 0;
        return peer->sendFile(source, options);
    }

    bool refusedAsNotAllowed(std::uint32_t id) {
        const bool refused = until([&] { return peer->outgoing(id)->state == Sending::refused; });
        return refused && peer->outgoing(id)->reason == Reason::notAllowed;
    }

    void expectNoFilesNorRows() {
        EXPECT_TRUE(transfers().active().empty());
        EXPECT_TRUE(transfers().finished().empty());
        EXPECT_TRUE(until([&] { return filesIn(workFolder()).empty(); }));
        EXPECT_TRUE(filesIn(receivedFolder()).empty());
        EXPECT_TRUE(session->isSharing());
    }
};

TEST_F(TransfersWithoutRemoteControl, AreRefusedBothWaysAndTheDeviceIsTold) {
    startStreaming(false);
    ASSERT_FALSE(session->allowsRemoteControl());

    const auto file = offerAFile("notes.txt");
    EXPECT_TRUE(refusedAsNotAllowed(file.id));
    EXPECT_EQ(transfers().lastProblem(), receiveRefused);
    expectNoFilesNorRows();

    // A copied image is refused the same way and never reaches the pasteboard.
    transfers().setLastProblem(std::nullopt);
    const auto image = offerAFile("Image.png", TransferPurpose::clipboard);
    EXPECT_TRUE(refusedAsNotAllowed(image.id));
    EXPECT_EQ(transfers().lastProblem(), receiveRefused);
    EXPECT_TRUE(dynamic_cast<Testing::FakePasteboard&>(*environment.fake.pasteboard()).writes().empty());
    EXPECT_TRUE(environment.posted->posted().empty());

    // Nothing leaves the Mac either.
    transfers().setLastProblem(std::nullopt);
    transfers().send(sourceFolder() / "notes.txt");
    EXPECT_EQ(transfers().lastProblem(), sendRefused);
    EXPECT_TRUE(transfers().sender()->transfers().isIdle());
    expectNoFilesNorRows();
    EXPECT_TRUE(peer->incomings().empty());
    EXPECT_TRUE(peer->problems().empty());
}

TEST_F(TransfersWithoutRemoteControl, SwitchingItOffStopsRunningTransfersAndTellsTheDevice) {
    startStreaming();
    // From the device: a quarter of a file has arrived, the rest waits.
    const auto draft = sourceFolder() / "draft.mov";
    writePatternFile(draft, 16 * mebibyte, 6);
    TransferPeer::Offer options;
    options.pauseAt = 4 * mebibyte;
    const auto incoming = peer->sendFile(draft, options);
    ASSERT_TRUE(until([&] {
        const auto& rows = transfers().active();
        return rows.size() == 1 && rows.front().fraction == 0.25;
    }));
    // To the device: it stops reading after a mebibyte, mid-file.
    const auto image = sourceFolder() / "disk.img";
    std::ofstream(image).close();
    std::filesystem::resize_file(image, 256 * mebibyte);
    peer->holdReceivingAt(mebibyte);
    transfers().send(image);
    ASSERT_EQ(transfers().active().size(), 2u);
    const std::uint32_t outgoing = transfers().active().back().id;
    ASSERT_TRUE(until([&] { return peer->isHoldingReceiving(); }));

    session->setAllowsRemoteControl(false);
    EXPECT_TRUE(transfers().active().empty());
    EXPECT_TRUE(until([&] { return filesIn(workFolder()).empty(); })) << "the partial work file went";
    peer->releaseReceiving();

    EXPECT_TRUE(refusedAsNotAllowed(incoming.id));
    ASSERT_TRUE(until([&] {
        const auto received = peer->incoming(outgoing);
        return received && received->state != Receiving::receiving;
    }));
    const auto received = peer->incoming(outgoing);
    EXPECT_EQ(received->state, Receiving::cancelled) << received->problem;
    EXPECT_EQ(received->reason, Reason::notAllowed);
    EXPECT_FALSE(std::filesystem::exists(received->file));
    actor().runUntilIdle();
    // Transfers stopped this way leave no finished rows and no problem to show.
    expectNoFilesNorRows();
    EXPECT_FALSE(transfers().lastProblem());

    // Later offers are refused with the sentence.
    const auto later = offerAFile("later.txt");
    EXPECT_TRUE(refusedAsNotAllowed(later.id));
    EXPECT_EQ(transfers().lastProblem(), receiveRefused);
    expectNoFilesNorRows();
    EXPECT_TRUE(peer->problems().empty());
}

} // namespace
} // namespace TransfersTesting
