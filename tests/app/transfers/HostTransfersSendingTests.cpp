#include "tests/app/transfers/HostTransfersFixture.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace HostTransfersTesting;
using Result = HostTransfers::PasteboardResult;
using Refusal = SessionMessage::ClipboardRefusal;

constexpr const char* sendNotAllowed = "Turn on Allow remote control to send files.";

// A file of `size` bytes that takes no room on disk.
std::filesystem::path sparseFile(const std::filesystem::path& path, std::uint64_t size) {
    std::filesystem::create_directories(path.parent_path());
    { std::ofstream create(path); }
    std::filesystem::resize_file(path, size);
    return path;
}

TEST_F(HostTransfersTest, AFolderIsRefusedWhateverThePermission) {
    std::filesystem::create_directories(directory / "Photos");
    allowed = false;
    transfers.send(directory / "Photos");
    EXPECT_EQ(transfers.lastProblem(), "Photos is a folder. Compress it first, then send the .zip.");
    transfers.send(directory.path() / "Photos" / "");
    EXPECT_EQ(transfers.lastProblem(), "Photos is a folder. Compress it first, then send the .zip.");
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_TRUE(sender->transfers().isIdle());
}

TEST_F(HostTransfersTest, FilesUpToOneGibibyteAreQueued) {
    transfers.send(sparseFile(directory / "big" / "too big.iso", HostTransfers::largestFile + 1));
    EXPECT_EQ(transfers.lastProblem(), "too big.iso is larger than 1 GB.");
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_TRUE(sender->transfers().isIdle());

    transfers.setLastProblem(std::nullopt);
    transfers.send(sparseFile(directory / "big" / "exact.iso", HostTransfers::largestFile));
    EXPECT_FALSE(transfers.lastProblem());
    const std::uint32_t id = outgoingID();
    const auto offer = pull(1);
    ASSERT_EQ(offer.size(), 1u);
    EXPECT_EQ(std::get<TransferMessage::Offer>(offer[0].value).offer.size, HostTransfers::largestFile);
    EXPECT_EQ(std::get<TransferMessage::Offer>(offer[0].value).offer.id, id);
}

TEST_F(HostTransfersTest, AFileThatCannotBeReadIsNamedInTheProblem) {
    std::filesystem::create_directories(directory / "odd");
    std::filesystem::create_symlink(directory / "nowhere", directory / "odd" / "gone.txt");
    transfers.send(directory / "odd" / "gone.txt");
    EXPECT_EQ(transfers.lastProblem(), "Couldn't read gone.txt.");

    ASSERT_EQ(::mkfifo((directory / "odd" / "pipe").c_str(), 0600), 0);
    transfers.send(directory / "odd" / "pipe");
    EXPECT_EQ(transfers.lastProblem(), "Couldn't read pipe.");
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_TRUE(sender->transfers().isIdle());
}

TEST_F(HostTransfersTest, AFileWithoutAContentTypeIsOfferedWithAnEmptyOne) {
    files->reportedContentType = "";
    transfers.send(makeFile("mystery", pattern(10)));
    const auto messages = pull(1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(std::get<TransferMessage::Offer>(messages[0].value).offer.contentType, "");
}

TEST_F(HostTransfersTest, WithoutASessionOrPermissionNothingIsQueued) {
    allowed = false;
    transfers.send(makeFile("a.txt", pattern(10)));
    EXPECT_EQ(transfers.lastProblem(), sendNotAllowed);
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_TRUE(sender->transfers().isIdle());

    allowed = true;
    transfers.setLastProblem(std::nullopt);
    transfers.detach();
    transfers.send(makeFile("b.txt", pattern(10)));
    EXPECT_EQ(transfers.lastProblem(), sendNotAllowed);
    EXPECT_TRUE(transfers.active().empty());

    transfers.setLastProblem(std::nullopt);
    pasteboard->contents.types = {"public.png"};
    pasteboard->contents.pngImage = pattern(10);
    EXPECT_EQ(transfers.sendPasteboard(), Result::queued());
    EXPECT_EQ(transfers.lastProblem(), sendNotAllowed);
    EXPECT_TRUE(transfers.active().empty());
}

TEST_F(HostTransfersTest, AQueuedFileHasARowAtOnce) {
    int changes = 0;
    QObject::connect(&transfers, &HostTransfers::activeChanged, [&] { ++changes; });
    transfers.send(makeFile("photo.jpg", pattern(10)));
    ASSERT_EQ(transfers.active().size(), 1u);
    EXPECT_EQ(transfers.active()[0], (Activity{transfers.active()[0].id, "photo.jpg", false, 0.0}));
    EXPECT_NE(transfers.active()[0].id, 0u);
    EXPECT_EQ(changes, 1);
}

TEST_F(HostTransfersTest, APasteboardFileListWithAFolderSendsNothing) {
    std::filesystem::create_directories(directory / "folder");
    pasteboard->contents.fileURLs = {makeFile("a.txt", pattern(1)), makeFile("b.txt", pattern(2)),
                                     directory / "folder"};
    EXPECT_EQ(transfers.sendPasteboard(), Result::refused(Refusal::folder));
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_TRUE(sender->transfers().isIdle());
}

TEST_F(HostTransfersTest, PasteboardFilesAreQueuedInOrder) {
    pasteboard->contents.fileURLs = {makeFile("b.txt", pattern(2)), makeFile("a.txt", pattern(1))};
    pasteboard->contents.types = {"public.png"};
    pasteboard->contents.pngImage = pattern(10);
    EXPECT_EQ(transfers.sendPasteboard(), Result::queued());
    ASSERT_EQ(transfers.active().size(), 2u);
    EXPECT_EQ(transfers.active()[0].name, "b.txt");
    EXPECT_EQ(transfers.active()[1].name, "a.txt");
    EXPECT_NE(transfers.active()[0].id, transfers.active()[1].id);

    std::vector<std::string> offered;
    for (const auto& message : pull()) {
        if (const auto* offer = std::get_if<TransferMessage::Offer>(&message.value))
            offered.push_back(offer->offer.name);
    }
    EXPECT_EQ(offered, (std::vector<std::string>{"b.txt", "a.txt"})) << "the image is not sent with the files";
}

TEST_F(HostTransfersTest, APasteboardWithoutFilesOrAnImageGivesNothing) {
    pasteboard->contents.string = "some text";
    pasteboard->contents.types = {"public.utf8-plain-text"};
    EXPECT_EQ(transfers.sendPasteboard(), Result::nothing());

    // An image that the pasteboard does not offer as PNG or TIFF.
    pasteboard->contents.types = {"public.jpeg"};
    pasteboard->contents.pngImage = pattern(10);
    EXPECT_EQ(transfers.sendPasteboard(), Result::nothing());

    // Offered, but not convertible.
    pasteboard->contents.types = {"public.png"};
    pasteboard->contents.pngImage = std::nullopt;
    EXPECT_EQ(transfers.sendPasteboard(), Result::nothing());
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_FALSE(transfers.lastProblem());
}

TEST_F(HostTransfersTest, APasteboardImageIsOfferedUpToItsLimit) {
    pasteboard->contents.types = {"public.tiff"};
    pasteboard->contents.pngImage = pattern(HostTransfers::largestClipboardImage + 1);
    EXPECT_EQ(transfers.sendPasteboard(), Result::refused(Refusal::tooLarge));
    EXPECT_TRUE(transfers.active().empty());

    pasteboard->contents.pngImage = pattern(HostTransfers::largestClipboardImage);
    EXPECT_EQ(transfers.sendPasteboard(), Result::queued());
    const std::uint32_t id = outgoingID();
    const auto messages = pull(2);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(std::get<TransferMessage::Offer>(messages[0].value).offer,
              (TransferOffer{id, TransferPurpose::clipboard, "Image.png", "public.png",
                             HostTransfers::largestClipboardImage}));
    EXPECT_EQ(std::get<TransferMessage::Chunk>(messages[1].value).data.size(), HostTransfers::chunkSize);
    ASSERT_NE(row(false, id), nullptr);
    EXPECT_EQ(row(false, id)->name, "Image.png");

    const auto rest = pull();
    EXPECT_EQ(rest.back(), TransferMessage::finish(id, digestOf(pattern(HostTransfers::largestClipboardImage))));
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_TRUE(transfers.finished().empty());
}

TEST_F(HostTransfersTest, AHundredMebibyteFileLeavesByteForByte) {
    constexpr std::size_t size = 100 * 1024 * 1024;
    const Bytes data = pattern(size, 41);
    transfers.send(makeFile("large.bin", data));
    const std::uint32_t id = outgoingID();

    Sha256 received;
    std::uint64_t next = 0;
    std::optional<Bytes> finish;
    while (!finish) {
        const auto messages = pull(256);
        ASSERT_FALSE(messages.empty()) << "the transfer stalled at " << next;
        for (const auto& message : messages) {
            if (const auto* chunk = std::get_if<TransferMessage::Chunk>(&message.value)) {
                ASSERT_EQ(chunk->offset, next);
                received.update(chunk->data);
                next += chunk->data.size();
            } else if (const auto* done = std::get_if<TransferMessage::Finish>(&message.value)) {
                finish = done->digest;
            }
        }
        if (!finish) {
            EXPECT_DOUBLE_EQ(row(false, id)->fraction, static_cast<double>(next) / size);
        }
    }
    const auto digest = received.digest();
    EXPECT_EQ(next, size);
    EXPECT_EQ(Bytes(digest.begin(), digest.end()), digestOf(data));
    EXPECT_EQ(*finish, digestOf(data));
    EXPECT_EQ(transfers.finished().at(0).outcome, Outcome::done());
}

} // namespace
