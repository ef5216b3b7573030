#include "tests/app/transfers/HostTransfersFixture.h"

#include "app/trace/TraceLog.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <string>

namespace {

using namespace HostTransfersTesting;
using Write = Testing::FakePasteboard::Write;

const Bytes pngBytes = [] {
    Bytes bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    const Bytes rest = pattern(500);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}();

constexpr const char* receiveText = "Turn on Allow remote control in Plovander Settings to receive files.";

// The trace written while `work` runs.
template <typename Work>
std::string traceOf(const std::filesystem::path& file, Work work) {
    Plovander::TraceLog::configure({.enabled = true, .file = file, .toStandardError = false});
    work();
    Plovander::TraceLog::configure({});
    std::ifstream lines(file);
    return std::string((std::istreambuf_iterator<char>(lines)), std::istreambuf_iterator<char>());
}

// The quarantine value of a file, or why there is none.
std::optional<std::string> quarantineOf(const std::filesystem::path& file, int* error) {
    char value[128];
    const ssize_t length = ::getxattr(file.c_str(), "user.tessaloy.quarantine", value, sizeof value);
    if (length < 0) {
        *error = errno;
        return std::nullopt;
    }
    return std::string(value, static_cast<std::size_t>(length));
}

TEST_F(HostTransfersTest, AReceivedFileLandsInDownloadsMarkedAndListed) {
    EXPECT_FALSE(std::filesystem::exists(downloads())) << "made on the first receipt";
    const Bytes data = pattern(100'000);
    receive(11, "notes.txt", data, TransferPurpose::file, "public.plain-text", 30'000);

    const auto saved = downloads() / "notes.txt";
    EXPECT_EQ(filesIn(downloads()), std::vector{saved});
    EXPECT_EQ(contentsOf(saved), data);
    EXPECT_EQ(modeOf(saved), 0644u);
    EXPECT_EQ(transfers.lastReceived(), saved);
    EXPECT_TRUE(transfers.active().empty());
    ASSERT_EQ(transfers.finished().size(), 1u);
    const auto& row = transfers.finished()[0];
    EXPECT_EQ(row.name, "notes.txt");
    EXPECT_TRUE(row.isIncoming);
    EXPECT_EQ(row.outcome, Outcome::done());
    EXPECT_EQ(row.url, saved);
    EXPECT_TRUE(filesIn(work()).empty()) << "the work file was moved, not copied";
    EXPECT_TRUE(pull().empty()) << "nothing goes back for a saved file";

    int error = 0;
    const auto quarantine = quarantineOf(saved, &error);
    if (!quarantine && (error == ENOTSUP || error == EOPNOTSUPP)) {
        GTEST_SKIP() << "this file system refuses user extended attributes";
    }
    ASSERT_TRUE(quarantine) << "getxattr failed with errno " << error;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(actor.now().time_since_epoch()).count();
    char expected[64];
    std::snprintf(expected, sizeof expected, "0081;%08llx;Plovander;", static_cast<unsigned long long>(seconds));
    EXPECT_EQ(*quarantine, expected);
}

TEST_F(HostTransfersTest, ReceivedFilesTakeTheNextFreeNameAndNeverOverwrite) {
    std::filesystem::create_directories(downloads());
    writeFile(downloads() / "README", pattern(3, 1));
    const Bytes original = contentsOf(downloads() / "README");

    receive(1, "README", pattern(10, 2));
    receive(2, "notes.txt", pattern(10, 3));
    receive(3, "notes.txt", pattern(10, 4));
    receive(4, "notes.txt", pattern(10, 5));
    receive(5, "archive.tar.gz", pattern(10, 6));
    receive(6, "archive.tar.gz", pattern(10, 7));
    receive(7, "name.", pattern(10, 8));
    receive(8, "name.", pattern(10, 9));

    EXPECT_EQ(contentsOf(downloads() / "README"), original);
    EXPECT_EQ(contentsOf(downloads() / "README 2"), pattern(10, 2));
    EXPECT_EQ(contentsOf(downloads() / "notes 2.txt"), pattern(10, 4));
    EXPECT_EQ(contentsOf(downloads() / "notes 3.txt"), pattern(10, 5));
    EXPECT_EQ(contentsOf(downloads() / "archive.tar 2.gz"), pattern(10, 7));
    EXPECT_EQ(contentsOf(downloads() / "name. 2"), pattern(10, 9));
    EXPECT_EQ(filesIn(downloads()).size(), 9u);

    std::vector<std::string> names;
    for (const auto& row : transfers.finished()) names.push_back(row.name);
    EXPECT_EQ(names, (std::vector<std::string>{"name. 2", "name.", "archive.tar 2.gz", "archive.tar.gz", "notes 3.txt",
                                               "notes 2.txt", "notes.txt", "README 2"}));
    EXPECT_EQ(transfers.lastReceived(), downloads() / "name. 2");
}

TEST_F(HostTransfersTest, NamesFromTheDeviceStayInsideThePlovanderFolder) {
    const std::vector<std::pair<std::string, std::string>> names{
        {"../../escape.sh", "escape.sh"},
        {"/etc/passwd", "etcpasswd"},
        {"a\x01"
         "b\n.txt",
         "ab.txt"},
        {"", "Received file"},
        {"..", "Received file 2"},
        {"sub/dir\\file", "subdirfile"},
        {"-rf", "rf"},
    };
    std::uint32_t id = 100;
    for (const auto& [offered, saved] : names) {
        receive(++id, offered, pattern(5));
        EXPECT_EQ(transfers.finished().at(0).name, saved) << offered;
        EXPECT_EQ(transfers.lastReceived(), downloads() / saved) << offered;
    }
    EXPECT_EQ(filesIn(downloads()).size(), names.size());
    EXPECT_EQ(filesIn(directory.path()), (std::vector{directory / "Downloads", directory / "cache"}));
    EXPECT_EQ(filesIn(directory / "Downloads"), std::vector{downloads()});
    EXPECT_FALSE(std::filesystem::exists(directory / "escape.sh"));
}

TEST_F(HostTransfersTest, AFileCompletedAfterRemoteControlWentOffIsDiscarded) {
    offer(22, "later.txt", 10);
    sendChunks(22, pattern(10));
    // Permission holds when the finish arrives and is gone when the verified file is to be saved.
    transfers.isAllowed = [calls = 0]() mutable { return ++calls <= 1; };
    handle(TransferMessage::finish(22, digestOf(pattern(10))));

    EXPECT_FALSE(std::filesystem::exists(downloads()));
    EXPECT_TRUE(filesIn(work()).empty());
    EXPECT_EQ(transfers.lastProblem(), receiveText);
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_TRUE(transfers.finished().empty());
    EXPECT_FALSE(transfers.lastReceived());
    EXPECT_EQ(pull(), std::vector{cancelOf(22, Reason::notAllowed)}) << "the device believed it had arrived";
}

TEST_F(HostTransfersTest, AClipboardImageGoesOnThePasteboardAndIsPasted) {
    receive(31, "Image.png", pngBytes, TransferPurpose::clipboard, "public.png");
    EXPECT_EQ(pasteboard->writes(), (std::vector<Write>{{Write::Kind::clear, {}, {}},
                                                        {Write::Kind::image, {}, pngBytes},
                                                        {Write::Kind::data, "public.png", pngBytes}}));
    EXPECT_EQ(pastes, 1);
    EXPECT_TRUE(transfers.finished().empty());
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_FALSE(transfers.lastReceived());
    EXPECT_TRUE(filesIn(work()).empty());
    EXPECT_FALSE(std::filesystem::exists(downloads()));

    // Without a content type only the image is written.
    receive(32, "Image.png", pngBytes, TransferPurpose::clipboard, "");
    EXPECT_EQ(pasteboard->writes().size(), 5u);
    EXPECT_EQ(pasteboard->writes().back().kind, Write::Kind::image);
    EXPECT_EQ(pastes, 2);
}

TEST_F(HostTransfersTest, ClipboardBytesThatAreNoImageLeaveThePasteboardAlone) {
    receive(33, "Image.png", pattern(100), TransferPurpose::clipboard, "public.png");
    EXPECT_TRUE(pasteboard->writes().empty());
    EXPECT_EQ(pastes, 0);
    EXPECT_EQ(transfers.lastProblem(), "The copied image couldn't be read.");
    EXPECT_TRUE(filesIn(work()).empty());
    EXPECT_TRUE(transfers.finished().empty());
    EXPECT_EQ(pull(), std::vector{cancelOf(33, Reason::failed)}) << "the device learns that the Mac discarded it";
}

TEST_F(HostTransfersTest, AnOfferRefusedForLackOfPermissionNeverGetsARow) {
    allowed = false;
    int changes = 0;
    QObject::connect(&transfers, &HostTransfers::activeChanged, [&] { ++changes; });
    offer(41, "a.txt", 10);
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_EQ(transfers.lastProblem(), receiveText);
    EXPECT_EQ(pull(), std::vector{cancelOf(41, Reason::notAllowed)});
    EXPECT_TRUE(filesIn(work()).empty()) << "no work file for a refused offer";
}

TEST_F(HostTransfersTest, AFileThatCannotBeSavedIsAFailedRowAndTheDeviceIsTold) {
    std::filesystem::create_directories(directory / "Downloads");
    writeFile(directory / "Downloads" / "Plovander", pattern(1));
    receive(51, "report.pdf", pattern(10));

    ASSERT_EQ(transfers.finished().size(), 1u);
    const auto& row = transfers.finished()[0];
    EXPECT_EQ(row.name, "report.pdf");
    EXPECT_TRUE(row.isIncoming);
    EXPECT_EQ(row.outcome, Outcome::failed("Couldn't be saved"));
    EXPECT_FALSE(row.url);
    EXPECT_EQ(transfers.lastProblem(), "Couldn't save report.pdf to Downloads.");
    EXPECT_FALSE(transfers.lastReceived());
    EXPECT_TRUE(filesIn(work()).empty());
    EXPECT_EQ(pull(), std::vector{cancelOf(51, Reason::failed)});

    // The move itself failing ends the same way, under the safe name.
    std::filesystem::remove(directory / "Downloads" / "Plovander");
    files->moveFails = true;
    receive(52, "../x.txt", pattern(10));
    EXPECT_EQ(transfers.finished()[0].outcome, Outcome::failed("Couldn't be saved"));
    EXPECT_EQ(transfers.lastProblem(), "Couldn't save x.txt to Downloads.");
    EXPECT_TRUE(filesIn(work()).empty());
    EXPECT_TRUE(filesIn(downloads()).empty());
    EXPECT_EQ(pull(), std::vector{cancelOf(52, Reason::failed)});
}

TEST_F(HostTransfersTest, AFolderThatCannotBeMadeInDownloadsIsTraced) {
    std::filesystem::create_directories(directory / "Downloads");
    writeFile(downloads(), pattern(1));

    const std::string lines = traceOf(directory / "trace.log", [&] { receive(53, "report.pdf", pattern(10)); });
    EXPECT_EQ(transfers.lastProblem(), "Couldn't save report.pdf to Downloads.");
    EXPECT_NE(lines.find("could not save a received file: could not create " + downloads().string() + ": "),
              std::string::npos)
        << lines;
}

TEST_F(HostTransfersTest, ADigestMismatchIsDiscardedAndTheDeviceIsTold) {
    offer(61, "a.txt", 10);
    sendChunks(61, pattern(10));
    handle(TransferMessage::finish(61, digestOf(pattern(10, 99))));
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_TRUE(transfers.finished().empty());
    EXPECT_FALSE(std::filesystem::exists(downloads() / "a.txt"));
    EXPECT_TRUE(filesIn(work()).empty());
    EXPECT_EQ(pull(), std::vector{cancelOf(61, Reason::failed)});
}

TEST_F(HostTransfersTest, AReceivedFileThatDoesNotReachTheDiskFails) {
    transfers.inbox()->fileCalls.fsync = [](int) {
        errno = ENOSPC;
        return -1;
    };
    const std::string lines = traceOf(directory / "trace.log", [&] { receive(62, "a.txt", pattern(10)); });
    EXPECT_NE(lines.find("could not receive a file: could not flush " + work().string()), std::string::npos) << lines;
    EXPECT_NE(lines.find(": No space left on device\n"), std::string::npos) << lines;
    EXPECT_FALSE(std::filesystem::exists(downloads() / "a.txt"));
    EXPECT_TRUE(transfers.finished().empty());
    EXPECT_TRUE(filesIn(work()).empty());
    EXPECT_EQ(pull(), std::vector{cancelOf(62, Reason::failed)});

    transfers.inbox()->fileCalls = TessaloyNet::TransferInbox::FileCalls::system();
    transfers.inbox()->fileCalls.close = [](int descriptor) {
        ::close(descriptor);
        errno = EIO;
        return -1;
    };
    receive(63, "b.txt", pattern(10));
    EXPECT_FALSE(std::filesystem::exists(downloads() / "b.txt"));
    EXPECT_EQ(pull(), std::vector{cancelOf(63, Reason::failed)});
}

TEST_F(HostTransfersTest, ADiskThatFallsBehindPausesTheMediaChannelsReadingButNeverTheMainActor) {
    std::promise<void> diskReady;
    std::shared_future<void> disk = diskReady.get_future().share();
    transfers.inbox()->fileCalls.write = [disk](int descriptor, const std::uint8_t* data, std::size_t count) -> long {
        disk.wait();
        return ::write(descriptor, data, count);
    };
    constexpr std::size_t chunkSize = TransferMessage::maximumChunkBytes;
    // Far past the backlog: what the channel read before it paused is taken without waiting.
    const Bytes data = pattern(3 * TessaloyNet::TransferInbox::maximumBacklog);
    offer(64, "big.bin", data.size());
    for (std::size_t offset = 0; offset < data.size(); offset += chunkSize) {
        transfers.handle(
            TransferMessage::chunk(64, offset, Bytes(data.begin() + offset, data.begin() + offset + chunkSize)));
    }
    EXPECT_TRUE(channel->isReadingPaused());

    diskReady.set_value();
    settle();
    EXPECT_FALSE(channel->isReadingPaused());
    handle(TransferMessage::finish(64, digestOf(data)));
    EXPECT_EQ(contentsOf(downloads() / "big.bin"), data);
}

// A session ends while its files are still being checked, and the next session has begun a
// transfer of the same id by the time they are: each outcome stays in its own session, under the
// permission of that moment.
TEST_F(HostTransfersTest, AFileWhoseSessionEndsBeforeItIsCheckedStaysInItsSession) {
    struct Row {
        const char* name;
        bool intact;
        bool allowedAtSave;
        bool moveFails;
        std::optional<std::string> problem;
    };
    const Row rows[] = {
        {"saved", true, true, false, std::nullopt},
        {"a wrong digest", false, true, false, std::nullopt},
        {"the move fails", true, true, true, "Couldn't save flushing.bin to Downloads."},
        {"receiving turned off meanwhile", true, false, false, receiveText},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::mutex lock;
        std::vector<std::function<void()>> checks;
        transfers.inbox()->runOnHasher = [&](std::function<void()> work) {
            std::lock_guard guard(lock);
            checks.push_back(std::move(work));
        };
        bool onIoPool = false;
        transfers.inbox()->fileCalls.fsync = [&](int descriptor) {
            onIoPool = TessaloyBase::sharedIoContext().get_executor().running_in_this_thread();
            return ::fsync(descriptor);
        };
        offer(65, "flushing.bin", 100);
        sendChunks(65, pattern(100));
        offer(67, "Image.png", 3, TransferPurpose::clipboard, "public.png");
        sendChunks(67, pattern(3));
        handle(TransferMessage::finish(65, digestOf(pattern(100, row.intact ? 0 : 1))));
        handle(TransferMessage::finish(67, digestOf(pattern(3))));

        // Neither waits for the checks, and the next session's transfer comes in beside them.
        transfers.detach();
        transfers.attach(sender);
        offer(65, "next.bin", 10);
        allowed = row.allowedAtSave;
        files->moveFails = row.moveFails;
        for (const auto& check : checks) check();
        settle();
        EXPECT_FALSE(onIoPool);
        EXPECT_EQ(std::filesystem::exists(downloads() / "flushing.bin"), !row.problem && row.intact);
        EXPECT_EQ(transfers.lastProblem(), row.problem);
        EXPECT_EQ(pastes, 0) << "an image is pasted only while its session lasts";
        EXPECT_NE(this->row(true, 65), nullptr) << "the next session's transfer of that id runs on";
        EXPECT_TRUE(pull().empty()) << "nothing of the ended session reaches the next device";
        EXPECT_EQ(filesIn(work()).size(), 1u);

        handle(cancelOf(65, Reason::cancelled));
        std::filesystem::remove(downloads() / "flushing.bin");
        transfers.setLastProblem(std::nullopt);
        allowed = true;
        files->moveFails = false;
    }
}

TEST_F(HostTransfersTest, ACancelledTransferLeavesNoPartialFile) {
    offer(71, "big.bin", 1'000'000);
    sendChunks(71, pattern(300'000));
    ASSERT_EQ(filesIn(work()).size(), 1u);
    handle(cancelOf(71, Reason::cancelled));
    EXPECT_TRUE(filesIn(work()).empty());
    EXPECT_FALSE(std::filesystem::exists(downloads()));
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_FALSE(transfers.lastProblem());
    EXPECT_TRUE(pull().empty()) << "the device's own cancel is not answered";
}

TEST_F(HostTransfersTest, TheWorkFolderIsPrivate) {
    EXPECT_EQ(transfers.inbox()->directory(), work());
    offer(81, "a.txt", 10);
    EXPECT_EQ(modeOf(work()), 0700u);
    ASSERT_EQ(filesIn(work()).size(), 1u);
    EXPECT_EQ(modeOf(filesIn(work())[0]), 0600u);

    // A folder left wider by someone is narrowed at the next offer.
    std::filesystem::permissions(work(), std::filesystem::perms::all);
    offer(84, "b.txt", 10);
    EXPECT_EQ(modeOf(work()), 0700u);
}

TEST_F(HostTransfersTest, WorkFilesLeftByARunThatWasCutOffGoWhenTheNextRunStarts) {
    // What a crash in the middle of a transfer leaves behind.
    const auto stale = work() / "3F2504E0-4F89-11D3-9A0C-0305E82C3301";
    writeFile(stale, pattern(100));

    // While the inbox runs, its files and the stale one alike stay.
    offer(82, "a.txt", 20);
    sendChunks(82, pattern(20, 1), 10);
    EXPECT_EQ(filesIn(work()).size(), 2u);
    handle(TransferMessage::finish(82, digestOf(pattern(20, 1))));
    EXPECT_EQ(contentsOf(downloads() / "a.txt"), pattern(20, 1));
    EXPECT_EQ(filesIn(work()), std::vector{stale});

    HostTransfers nextRun(actor, pasteboard, files);
    nextRun.waitForReceiving();
    EXPECT_TRUE(filesIn(work()).empty());
}

TEST_F(HostTransfersTest, AWorkFolderOfAnotherUserRefusesOffers) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
    transfers.detach();
    std::filesystem::create_directories(work());
    ASSERT_EQ(::chown(work().c_str(), 65534, 65534), 0);
    transfers.attach(sender);

    offer(91, "a.txt", 10);
    EXPECT_TRUE(filesIn(work()).empty());
    EXPECT_TRUE(transfers.active().empty());
    EXPECT_EQ(pull(), std::vector{cancelOf(91, Reason::failed)});

    // Given back, the next offer passes.
    ASSERT_EQ(::chown(work().c_str(), 0, 0), 0);
    offer(92, "a.txt", 10);
    EXPECT_NE(row(true, 92), nullptr);
}

TEST_F(HostTransfersTest, AWorkFolderThatIsALinkRefusesOffers) {
    transfers.detach();
    std::filesystem::remove(work());
    std::filesystem::create_directories(directory / "elsewhere");
    std::filesystem::create_directory_symlink(directory / "elsewhere", work());
    transfers.attach(sender);

    offer(93, "a.txt", 10);
    EXPECT_TRUE(filesIn(directory / "elsewhere").empty());
    EXPECT_EQ(pull(), std::vector{cancelOf(93, Reason::failed)});
}

} // namespace
