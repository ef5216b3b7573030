#include "net/transfer/TransferInbox.h"

#include "base/SerialQueue.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/TestBytes.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace TessaloyCore;
using TessaloyNet::TransferInbox;
using Reason = TransferCancelReason;
using Testing::digestOf;
using Testing::pattern;

constexpr std::uint64_t gibibyte = 1'073'741'824;
constexpr std::uint64_t clipboardMaximum = 26'214'400;

TransferOffer offerOf(std::uint32_t id, std::uint64_t size, TransferPurpose purpose = TransferPurpose::file) {
    return {id, purpose, "photo.jpg", "public.jpeg", size};
}

TransferMessage chunk(std::uint32_t id, std::uint64_t offset, Bytes data) {
    return TransferMessage::chunk(id, offset, std::move(data));
}

Bytes contentsOf(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& directory) {
    std::vector<std::filesystem::path> files;
    if (!std::filesystem::exists(directory)) return files;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) files.push_back(entry.path());
    return files;
}

unsigned modeOf(const std::filesystem::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return status.st_mode & 07777;
}

struct Failure {
    std::uint32_t id;
    Reason reason;
    friend bool operator==(const Failure&, const Failure&) = default;
};
struct Progress {
    std::uint32_t id;
    std::uint64_t received;
    friend bool operator==(const Progress&, const Progress&) = default;
};
struct FileCall {
    std::string name;
    std::uint64_t offset = 0;
    std::uint64_t count = 0;
    friend bool operator==(const FileCall&, const FileCall&) = default;
};
struct Completion {
    TransferOffer offer;
    std::filesystem::path file;
};

class TransferInboxTest : public testing::Test {
protected:
    TransferInboxTest() : work(directory / "cache" / "TessaloyIncoming"), owned(std::make_shared<TransferInbox>(work)) {
        inbox.runOnWorker = [this](std::function<void()> job) { worker.async(std::move(job)); };
        inbox.runOnHasher = [this](std::function<void()> job) { hasher.async(std::move(job)); };
        inbox.runOnOwner = [this](std::function<void()> job) { clock.post(std::move(job)); };
        inbox.now = [this] { return clock.now(); };
        inbox.reply = [this](TransferMessage message) { replies.push_back(std::move(message)); };
        inbox.onStarted = [this](const TransferOffer& offer) { started.push_back(offer.id); };
        inbox.onProgress = [this](const TransferOffer& offer, std::uint64_t received) {
            progress.push_back({offer.id, received});
        };
        inbox.onComplete = [this](const TransferOffer& offer, const std::filesystem::path& file) {
            completed.push_back({offer, file});
        };
        inbox.onFailed = [this](const TransferOffer& offer, Reason reason) { failed.push_back({offer.id, reason}); };
    }
    // Nothing the worker still holds may post to the clock once it is gone.
    ~TransferInboxTest() override {
        worker.sync([] {});
        hasher.sync([] {});
    }

    // Waits for the worker and then the hasher, then runs what they handed back, until none has
    // anything left.
    void settle() {
        do {
            worker.sync([] {});
            hasher.sync([] {});
        } while (clock.runUntilIdle() > 0);
        EXPECT_EQ(inbox.pendingWork(), 0u);
    }

    void handle(const TransferMessage& message) {
        inbox.handle(message);
        settle();
    }
    void cancel(std::uint32_t id) {
        inbox.cancel(id);
        settle();
    }
    void cancelAll() {
        inbox.cancelAll();
        settle();
    }
    void expireIdle() {
        inbox.expireIdle();
        settle();
    }

    // Offers and sends `data` whole in chunks of `chunkSize`, without the finish. The chunks queue
    // up on the worker as they would behind a fast channel.
    void receive(std::uint32_t id, const Bytes& data, std::size_t chunkSize = 5) {
        inbox.handle(TransferMessage::offer(offerOf(id, data.size())));
        for (std::size_t offset = 0; offset < data.size(); offset += chunkSize) {
            const std::size_t end = std::min(data.size(), offset + chunkSize);
            inbox.handle(chunk(id, offset, Bytes(data.begin() + offset, data.begin() + end)));
        }
        settle();
    }

    std::vector<TransferMessage> cancels(std::initializer_list<std::pair<std::uint32_t, Reason>> list) {
        std::vector<TransferMessage> messages;
        for (const auto& [id, reason] : list) messages.push_back(TransferMessage::cancel(id, reason));
        return messages;
    }

    Testing::TemporaryDirectory directory;
    Testing::ManualMainActor clock;
    TessaloyBase::SerialQueue worker{"test.inbox.worker"};
    TessaloyBase::SerialQueue hasher{"test.inbox.hasher"};
    std::filesystem::path work;
    const std::shared_ptr<TransferInbox> owned;
    TransferInbox& inbox = *owned;
    std::vector<TransferMessage> replies;
    std::vector<std::uint32_t> started;
    std::vector<Progress> progress;
    std::vector<Completion> completed;
    std::vector<Failure> failed;
};

TEST_F(TransferInboxTest, AcceptedOfferOpensAPrivateWorkFileNamedByAUuid) {
    ASSERT_FALSE(std::filesystem::exists(work));
    handle(TransferMessage::offer(offerOf(1, 10)));
    EXPECT_EQ(started, std::vector<std::uint32_t>{1});
    EXPECT_TRUE(replies.empty());
    EXPECT_EQ(modeOf(work), 0700u);

    const auto files = filesIn(work);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0].filename().string(),
                                 std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
        << files[0];
    EXPECT_EQ(modeOf(files[0]), 0600u);
    EXPECT_EQ(std::filesystem::file_size(files[0]), 0u);

    handle(TransferMessage::offer(offerOf(2, 10)));
    const auto both = filesIn(work);
    ASSERT_EQ(both.size(), 2u);
    EXPECT_NE(both[0].filename(), both[1].filename());
}

TEST_F(TransferInboxTest, CompleteTransferIsHandedOverWithItsFile) {
    const Bytes data = pattern(23);
    receive(4, data);
    EXPECT_EQ(progress, (std::vector<Progress>{{4, 5}, {4, 10}, {4, 15}, {4, 20}, {4, 23}}));
    handle(TransferMessage::finish(4, digestOf(data)));

    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0].offer, offerOf(4, 23));
    EXPECT_EQ(contentsOf(completed[0].file), data);
    EXPECT_EQ(completed[0].file.parent_path(), work);
    EXPECT_TRUE(failed.empty());
    EXPECT_TRUE(replies.empty());

    // Finished: later messages for the id are ignored and the file stays with its new owner.
    handle(chunk(4, 23, {}));
    handle(TransferMessage::cancel(4, Reason::cancelled));
    cancelAll();
    EXPECT_TRUE(failed.empty());
    EXPECT_TRUE(std::filesystem::exists(completed[0].file));
}

TEST_F(TransferInboxTest, DigestIsCheckedOnlyOnceEveryChunkIsHashed) {
    std::vector<std::function<void()>> held;
    inbox.runOnHasher = [&held](std::function<void()> job) { held.push_back(std::move(job)); };
    const Bytes data = pattern(12);
    inbox.handle(TransferMessage::offer(offerOf(3, data.size())));
    inbox.handle(chunk(3, 0, Bytes(data.begin(), data.begin() + 7)));
    inbox.handle(chunk(3, 7, Bytes(data.begin() + 7, data.end())));
    worker.sync([] {});
    clock.runUntilIdle();
    EXPECT_EQ(progress, (std::vector<Progress>{{3, 7}, {3, 12}})) << "written, not yet hashed";
    inbox.handle(TransferMessage::finish(3, digestOf(data)));
    worker.sync([] {});
    clock.runUntilIdle();
    EXPECT_TRUE(completed.empty());

    ASSERT_EQ(held.size(), 3u);
    for (const auto& job : held) job();
    settle();
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(contentsOf(completed[0].file), data);
    EXPECT_TRUE(failed.empty());
}

TEST_F(TransferInboxTest, EmptyTransferCompletesWithAnEmptyFile) {
    handle(TransferMessage::offer(offerOf(5, 0)));
    handle(TransferMessage::finish(5, digestOf({})));
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(std::filesystem::file_size(completed[0].file), 0u);
}

TEST_F(TransferInboxTest, DecideRefusesWithItsReasonAndLeavesNothing) {
    std::vector<std::uint32_t> asked;
    inbox.decide = [&](const TransferOffer& offer) -> std::optional<Reason> {
        asked.push_back(offer.id);
        return Reason::notAllowed;
    };
    handle(TransferMessage::offer(offerOf(6, 3)));
    EXPECT_EQ(asked, std::vector<std::uint32_t>{6});
    EXPECT_EQ(replies, cancels({{6, Reason::notAllowed}}));
    EXPECT_EQ(failed, (std::vector<Failure>{{6, Reason::notAllowed}}));
    EXPECT_TRUE(started.empty());
    EXPECT_TRUE(filesIn(work).empty());

    handle(chunk(6, 0, pattern(3)));
    EXPECT_EQ(replies.size(), 1u) << "a refused offer leaves no state behind";
}

TEST_F(TransferInboxTest, PurposeMaximumsAreInclusive) {
    handle(TransferMessage::offer(offerOf(1, clipboardMaximum, TransferPurpose::clipboard)));
    handle(TransferMessage::offer(offerOf(2, clipboardMaximum + 1, TransferPurpose::clipboard)));
    handle(TransferMessage::offer(offerOf(3, gibibyte, TransferPurpose::file)));
    handle(TransferMessage::offer(offerOf(4, gibibyte + 1, TransferPurpose::file)));
    EXPECT_EQ(started, (std::vector<std::uint32_t>{1, 3}));
    EXPECT_EQ(replies, cancels({{2, Reason::tooLarge}, {4, Reason::tooLarge}}));
    EXPECT_EQ(failed, (std::vector<Failure>{{2, Reason::tooLarge}, {4, Reason::tooLarge}}));
    EXPECT_EQ(filesIn(work).size(), 2u);
}

TEST_F(TransferInboxTest, DeclaredBytesMayFillTheCapExactly) {
    handle(TransferMessage::offer(offerOf(1, gibibyte)));
    handle(TransferMessage::offer(offerOf(2, gibibyte)));
    handle(TransferMessage::offer(offerOf(3, 1)));
    handle(TransferMessage::offer(offerOf(4, 0)));
    EXPECT_EQ(started, (std::vector<std::uint32_t>{1, 2, 4}));
    EXPECT_EQ(replies, cancels({{3, Reason::tooLarge}}));
    EXPECT_EQ(failed, (std::vector<Failure>{{3, Reason::tooLarge}}));

    // A replacement does not count the transfer it replaces.
    handle(TransferMessage::offer(offerOf(2, gibibyte)));
    EXPECT_EQ(started.back(), 2u);
}

TEST_F(TransferInboxTest, NinthActiveTransferIsRefusedButAnActiveIdMayBeReplaced) {
    for (std::uint32_t id = 1; id <= 8; ++id) receive(id, pattern(4), 2);
    ASSERT_EQ(started.size(), 8u);
    const auto before = filesIn(work);
    ASSERT_EQ(before.size(), 8u);

    handle(TransferMessage::offer(offerOf(9, 0)));
    EXPECT_EQ(replies, cancels({{9, Reason::failed}}));
    EXPECT_EQ(failed, (std::vector<Failure>{{9, Reason::failed}}));

    // Offer 3 again: it does not count itself, replaces the old transfer and deletes its file silently.
    handle(TransferMessage::offer(offerOf(3, 2)));
    EXPECT_EQ(started.back(), 3u);
    EXPECT_EQ(failed.size(), 1u);
    EXPECT_EQ(replies.size(), 1u);
    const auto after = filesIn(work);
    EXPECT_EQ(after.size(), 8u);
    std::size_t kept = 0;
    for (const auto& file : after) kept += std::count(before.begin(), before.end(), file);
    EXPECT_EQ(kept, 7u);

    // The new transfer under id 3 starts from offset 0.
    handle(chunk(3, 0, {7, 8}));
    handle(TransferMessage::finish(3, digestOf(Bytes{7, 8})));
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(contentsOf(completed[0].file), (Bytes{7, 8}));
}

TEST_F(TransferInboxTest, ActiveLimitIsReadAtEachOffer) {
    inbox.limits.maximumActive = 1;
    handle(TransferMessage::offer(offerOf(1, 1)));
    handle(TransferMessage::offer(offerOf(2, 1)));
    inbox.limits.maximumActive = 2;
    handle(TransferMessage::offer(offerOf(3, 1)));
    EXPECT_EQ(started, (std::vector<std::uint32_t>{1, 3}));
    EXPECT_EQ(failed, (std::vector<Failure>{{2, Reason::failed}}));
}

TEST_F(TransferInboxTest, ChunkOutOfOrderEndsTheTransfer) {
    handle(TransferMessage::offer(offerOf(7, 10)));
    handle(chunk(7, 0, pattern(4)));
    handle(chunk(7, 5, pattern(4)));
    EXPECT_EQ(replies, cancels({{7, Reason::failed}}));
    EXPECT_EQ(failed, (std::vector<Failure>{{7, Reason::failed}}));
    EXPECT_TRUE(filesIn(work).empty());

    handle(chunk(7, 4, pattern(4)));
    EXPECT_EQ(replies.size(), 1u) << "the id is no longer active";
}

TEST_F(TransferInboxTest, ChunkLongerThanWhatRemainsEndsTheTransfer) {
    handle(TransferMessage::offer(offerOf(8, 6)));
    handle(chunk(8, 0, pattern(6)));
    handle(chunk(8, 6, pattern(1)));
    EXPECT_EQ(replies, cancels({{8, Reason::failed}}));
    EXPECT_EQ(failed, (std::vector<Failure>{{8, Reason::failed}}));
    EXPECT_TRUE(filesIn(work).empty());
}

TEST_F(TransferInboxTest, EmptyChunkRefreshesActivityAndRepeatsTheCount) {
    handle(TransferMessage::offer(offerOf(1, 10)));
    handle(chunk(1, 0, pattern(3)));
    clock.advance(50s);
    handle(chunk(1, 3, {}));
    EXPECT_EQ(progress, (std::vector<Progress>{{1, 3}, {1, 3}}));
    clock.advance(50s);
    handle(TransferMessage::offer(offerOf(2, 1)));
    EXPECT_TRUE(failed.empty()) << "idle for 50 s only";
}

TEST_F(TransferInboxTest, EarlyFinishIsDiscardedAndTheDeviceIsTold) {
    handle(TransferMessage::offer(offerOf(2, 10)));
    handle(chunk(2, 0, pattern(9)));
    handle(TransferMessage::finish(2, digestOf(pattern(9))));
    EXPECT_EQ(failed, (std::vector<Failure>{{2, Reason::failed}}));
    EXPECT_EQ(replies, cancels({{2, Reason::failed}}));
    EXPECT_TRUE(completed.empty());
    EXPECT_TRUE(filesIn(work).empty());
}

TEST_F(TransferInboxTest, DigestMismatchIsDiscardedAndTheDeviceIsTold) {
    const Bytes data = pattern(10);
    receive(3, data);
    Bytes wrong = digestOf(data);
    wrong[31] ^= 1;
    handle(TransferMessage::finish(3, wrong));
    EXPECT_EQ(failed, (std::vector<Failure>{{3, Reason::failed}}));
    EXPECT_EQ(replies, cancels({{3, Reason::failed}}));
    EXPECT_TRUE(completed.empty());
    EXPECT_TRUE(filesIn(work).empty());
}

TEST_F(TransferInboxTest, IdleExpiryIsStrictlyLongerThanTheTimeout) {
    handle(TransferMessage::offer(offerOf(1, 10)));
    handle(chunk(1, 0, pattern(2)));
    clock.advance(60s);
    handle(TransferMessage::offer(offerOf(2, 10)));
    EXPECT_TRUE(failed.empty()) << "exactly 60 s idle stays active";

    clock.advance(1ms);
    handle(TransferMessage::offer(offerOf(3, 10)));
    EXPECT_EQ(failed, (std::vector<Failure>{{1, Reason::failed}}));
    EXPECT_EQ(replies, cancels({{1, Reason::failed}}));
    EXPECT_EQ(started, (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(filesIn(work).size(), 2u);

    // Expired before the limits are applied: the freed room counts for the new offer.
    clock.advance(61s);
    inbox.limits.maximumActive = 1;
    handle(TransferMessage::offer(offerOf(4, 10)));
    EXPECT_EQ(started.back(), 4u);
    EXPECT_EQ(failed.size(), 3u);
}

TEST_F(TransferInboxTest, RefusedOfferDoesNotExpireIdleTransfers) {
    handle(TransferMessage::offer(offerOf(1, 10)));
    clock.advance(120s);
    inbox.decide = [](const TransferOffer&) -> std::optional<Reason> { return Reason::notAllowed; };
    handle(TransferMessage::offer(offerOf(2, 10)));
    EXPECT_EQ(failed, (std::vector<Failure>{{2, Reason::notAllowed}}));

    expireIdle();
    EXPECT_EQ(failed, (std::vector<Failure>{{2, Reason::notAllowed}, {1, Reason::failed}}));
}

TEST_F(TransferInboxTest, DeviceCancelReportsItsReasonWithoutAReply) {
    receive(1, pattern(4));
    handle(TransferMessage::cancel(1, Reason::tooLarge));
    EXPECT_EQ(failed, (std::vector<Failure>{{1, Reason::tooLarge}}));
    EXPECT_TRUE(replies.empty());
    EXPECT_TRUE(filesIn(work).empty());
}

TEST_F(TransferInboxTest, MacCancelTellsTheDevice) {
    receive(1, pattern(4));
    cancel(1);
    cancel(1);
    EXPECT_EQ(failed, (std::vector<Failure>{{1, Reason::cancelled}}));
    EXPECT_EQ(replies, cancels({{1, Reason::cancelled}}));
    EXPECT_TRUE(filesIn(work).empty());
}

TEST_F(TransferInboxTest, CancelAllEndsEveryTransferSilently) {
    for (std::uint32_t id = 1; id <= 3; ++id) receive(id, pattern(3));
    cancelAll();
    EXPECT_EQ(failed, (std::vector<Failure>{{1, Reason::failed}, {2, Reason::failed}, {3, Reason::failed}}));
    EXPECT_TRUE(replies.empty());
    EXPECT_TRUE(filesIn(work).empty());
}

TEST_F(TransferInboxTest, MessagesForUnknownIdsAreIgnored) {
    handle(chunk(9, 0, pattern(2)));
    handle(TransferMessage::finish(9, digestOf({})));
    handle(TransferMessage::cancel(9, Reason::cancelled));
    cancel(9);
    EXPECT_TRUE(replies.empty());
    EXPECT_TRUE(failed.empty());
    EXPECT_TRUE(progress.empty());
}

TEST_F(TransferInboxTest, WorkDirectoryThatCannotBeMadeRefusesTheOffer) {
    std::filesystem::create_directories(work.parent_path());
    std::ofstream(work) << "in the way";
    handle(TransferMessage::offer(offerOf(1, 3)));
    EXPECT_EQ(replies, cancels({{1, Reason::failed}}));
    EXPECT_EQ(failed, (std::vector<Failure>{{1, Reason::failed}}));
    EXPECT_TRUE(started.empty());
}

TEST_F(TransferInboxTest, WorkFileThatCannotBeCreatedRefusesTheOffer) {
    inbox.fileCalls.open = [](const char*, int, unsigned) {
        errno = ENOSPC;
        return -1;
    };
    handle(TransferMessage::offer(offerOf(1, 3)));
    EXPECT_EQ(replies, cancels({{1, Reason::failed}}));
    EXPECT_EQ(failed, (std::vector<Failure>{{1, Reason::failed}}));
    EXPECT_TRUE(filesIn(work).empty());
}

TEST_F(TransferInboxTest, ChunkThatCannotBeWrittenEndsTheTransfer) {
    int writes = 0;
    inbox.fileCalls.write = [&](int descriptor, const std::uint8_t* data, std::size_t count) -> long {
        if (++writes == 2) {
            errno = ENOSPC;
            return -1;
        }
        return ::write(descriptor, data, count);
    };
    handle(TransferMessage::offer(offerOf(1, 10)));
    handle(chunk(1, 0, pattern(5)));
    handle(chunk(1, 5, pattern(5)));
    EXPECT_EQ(progress, (std::vector<Progress>{{1, 5}}));
    EXPECT_EQ(replies, cancels({{1, Reason::failed}}));
    EXPECT_EQ(failed, (std::vector<Failure>{{1, Reason::failed}}));
    EXPECT_TRUE(filesIn(work).empty());
}

TEST_F(TransferInboxTest, ShortAndInterruptedWritesAreCompleted) {
    bool interrupted = false;
    inbox.fileCalls.write = [&](int descriptor, const std::uint8_t* data, std::size_t count) -> long {
        if (!interrupted) {
            interrupted = true;
            errno = EINTR;
            return -1;
        }
        return ::write(descriptor, data, std::min<std::size_t>(count, 3));
    };
    const Bytes data = pattern(17);
    receive(1, data, 8);
    handle(TransferMessage::finish(1, digestOf(data)));
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(contentsOf(completed[0].file), data);
}

TEST_F(TransferInboxTest, WriteThatTakesNothingEndsTheTransfer) {
    inbox.fileCalls.write = [](int, const std::uint8_t*, std::size_t) -> long { return 0; };
    handle(TransferMessage::offer(offerOf(1, 4)));
    handle(chunk(1, 0, pattern(4)));
    EXPECT_EQ(failed, (std::vector<Failure>{{1, Reason::failed}}));
}

TEST_F(TransferInboxTest, FlushFailureAtTheFinishIsAFailedTransfer) {
    inbox.fileCalls.fsync = [](int) {
        errno = EIO;
        return -1;
    };
    const Bytes data = pattern(10);
    receive(1, data);
    handle(TransferMessage::finish(1, digestOf(data)));
    EXPECT_TRUE(completed.empty());
    EXPECT_EQ(failed, (std::vector<Failure>{{1, Reason::failed}}));
    EXPECT_EQ(replies, cancels({{1, Reason::failed}}));
    EXPECT_TRUE(filesIn(work).empty());
}

TEST_F(TransferInboxTest, DiskStartsOnEachStrideWrittenBeforeTheFlushAtTheFinish) {
    std::vector<FileCall> calls;
    const auto system = TransferInbox::FileCalls::system();
    inbox.fileCalls.startWriteback = [&](int descriptor, std::uint64_t offset, std::uint64_t count) {
        calls.push_back({"writeback", offset, count});
        return system.startWriteback(descriptor, offset, count);
    };
    inbox.fileCalls.fsync = [&](int descriptor) {
        calls.push_back({"fsync"});
        return system.fsync(descriptor);
    };
    constexpr std::uint64_t stride = TransferInbox::writebackStride;
    const Bytes data = pattern(2 * stride + 1000);
    receive(1, data, 262'144);
    handle(TransferMessage::finish(1, digestOf(data)));
    EXPECT_EQ(calls, (std::vector<FileCall>{{"writeback", 0, stride}, {"writeback", stride, stride}, {"fsync"}}));
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(contentsOf(completed[0].file), data);
}

TEST_F(TransferInboxTest, FailedWritebackStartLeavesTheVerdictToTheFlush) {
    int starts = 0;
    inbox.fileCalls.startWriteback = [&](int, std::uint64_t, std::uint64_t) {
        ++starts;
        errno = EIO;
        return -1;
    };
    const Bytes data = pattern(TransferInbox::writebackStride + 10);
    receive(1, data, 262'144);
    handle(TransferMessage::finish(1, digestOf(data)));
    EXPECT_EQ(starts, 1);
    EXPECT_TRUE(failed.empty());
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(contentsOf(completed[0].file), data);
}

TEST_F(TransferInboxTest, CloseFailureAtTheFinishIsAFailedTransfer) {
    int closes = 0;
    inbox.fileCalls.close = [&](int descriptor) {
        ++closes;
        ::close(descriptor); // the descriptor is released even when close reports an error
        errno = EIO;
        return -1;
    };
    const Bytes data = pattern(10);
    receive(1, data);
    handle(TransferMessage::finish(1, digestOf(data)));
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(completed.empty());
    EXPECT_EQ(failed, (std::vector<Failure>{{1, Reason::failed}}));
    EXPECT_EQ(replies, cancels({{1, Reason::failed}}));
    EXPECT_TRUE(filesIn(work).empty());
}

TEST_F(TransferInboxTest, DestroyingTheInboxRunsNoCallbackAndLeavesPartialFiles) {
    int calls = 0;
    {
        TransferInbox other(work);
        other.onFailed = [&](const TransferOffer&, Reason) { ++calls; };
        other.reply = [&](TransferMessage) { ++calls; };
        other.handle(TransferMessage::offer(offerOf(1, 4)));
        other.handle(chunk(1, 0, pattern(2)));
    }
    EXPECT_EQ(calls, 0);
    const auto files = filesIn(work);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(std::filesystem::file_size(files[0]), 2u);
}

TEST_F(TransferInboxTest, AFileStillBeingFlushedWhenItsOwnerLetsGoIsStillCompleted) {
    std::promise<void> flushing;
    std::promise<void> diskReady;
    {
        const auto owner = std::make_shared<TransferInbox>(work);
        TransferInbox& other = *owner;
        other.runOnWorker = inbox.runOnWorker;
        other.runOnHasher = inbox.runOnHasher;
        other.runOnOwner = inbox.runOnOwner;
        other.onComplete = inbox.onComplete;
        other.fileCalls.fsync = [&, disk = diskReady.get_future().share()](int descriptor) {
            flushing.set_value();
            disk.wait();
            return ::fsync(descriptor);
        };
        other.handle(TransferMessage::offer(offerOf(1, 3)));
        other.handle(chunk(1, 0, pattern(3)));
        other.handle(TransferMessage::finish(1, digestOf(pattern(3))));
        flushing.get_future().wait();
    }
    diskReady.set_value();
    settle();
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(contentsOf(completed[0].file), pattern(3));
}

TEST_F(TransferInboxTest, CallbacksMayCallBackIntoTheInbox) {
    inbox.onProgress = [this](const TransferOffer& offer, std::uint64_t) { inbox.cancel(offer.id); };
    inbox.onFailed = [this](const TransferOffer& offer, Reason reason) {
        failed.push_back({offer.id, reason});
        inbox.cancelAll();
    };
    receive(1, pattern(2));
    handle(TransferMessage::offer(offerOf(2, 2)));
    handle(chunk(2, 0, pattern(1)));
    EXPECT_EQ(failed, (std::vector<Failure>{{1, Reason::cancelled}, {2, Reason::cancelled}}));
    EXPECT_TRUE(filesIn(work).empty());
}

} // namespace
