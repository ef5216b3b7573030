#pragma once

#include "core/Bytes.h"
#include "core/IncomingTransfer.h"
#include "core/TransferCancelReason.h"
#include "core/TransferMessage.h"
#include "core/TransferOffer.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace TessaloyNet {

// Receives the paired device's transfers: admits or refuses each offer, writes its chunks in order
// into a private work file while hashing them, checks the digest at the finish and hands the
// complete file over. Every other end of a transfer deletes its partial file.
//
// The owner drives it from one thread (the main actor), which makes every decision: admission,
// limits, expiry and cancels; it never waits for the disk. Creating the work file, writing and the
// final flush run on `runOnWorker` in the order the messages came, and each written chunk is hashed
// on `runOnHasher` beside it, where the digest is checked once the flush is done; their outcomes
// come back through `runOnOwner`, so the start, progress, completion and failures of the disk reach
// the callbacks on the owner's thread, never under the lock, which guards only the active
// transfers. All three run their work in place by default.
// When the worker falls `maximumBacklog` bytes behind, onBacklog asks the owner to hold the device
// back until it has caught up; chunks already on their way are still taken.
// now() may be called under the lock and must not call into the inbox.
// Made with std::make_shared: the disk's outcomes reach the inbox only while it lives, but for a
// transfer whose finish has arrived, which holds the inbox until its file is checked and handed over,
// so the file is completed even when the owner lets go of the inbox meanwhile. Otherwise, destroying
// the inbox runs no callback and leaves partial files in place: the owner calls cancelAll() first.
class TransferInbox : public std::enable_shared_from_this<TransferInbox> {
public:
    using Date = std::chrono::system_clock::time_point;

    // Every this many bytes written, the disk starts on them, so that the flush at the finish does
    // not wait for the whole file and the writes are not throttled behind a pile of dirty pages.
    static constexpr std::uint64_t writebackStride = 8 * 1024 * 1024;
    // Chunk bytes handed to the worker and not yet written and hashed, past which the device is held
    // back until half of it is left.
    static constexpr std::uint64_t maximumBacklog = 8 * 1024 * 1024;

    struct Limits {
        // An offer is refused while at least this many other transfers are active.
        std::int64_t maximumActive = 8;
        // Cap on the declared sizes of all active transfers together, the new offer included.
        std::uint64_t maximumDeclaredBytes = 2'147'483'648;
        // A transfer without an accepted chunk for longer is expired at the next accepted offer.
        std::chrono::duration<double> idleTimeout{60.0};

        friend bool operator==(const Limits&, const Limits&) = default;
    };

    // The system calls behind the work files, so that a failing disk can be simulated. Each returns
    // as its POSIX namesake does, with errno set on failure.
    struct FileCalls {
        std::function<int(const char* path, int flags, unsigned mode)> open;
        std::function<long(int descriptor, const std::uint8_t* data, std::size_t count)> write;
        std::function<int(int descriptor)> fsync;
        std::function<int(int descriptor)> close;
        // Starts writing the range to disk without waiting (sync_file_range with only
        // SYNC_FILE_RANGE_WRITE). Optional.
        std::function<int(int descriptor, std::uint64_t offset, std::uint64_t count)> startWriteback;

        static FileCalls system();
    };

    // Makes the work directory ready for a new work file, on the worker; throws std::system_error to
    // refuse the offer. Read at each offer. By default, missing folders are made private to this user.
    std::function<void(const std::filesystem::path& directory)> prepareDirectory;
    // Nothing accepts the offer; a reason refuses it.
    std::function<std::optional<TessaloyCore::TransferCancelReason>(const TessaloyCore::TransferOffer&)> decide =
        [](const TessaloyCore::TransferOffer&) { return std::nullopt; };
    // The offer was accepted and its work file is open.
    std::function<void(const TessaloyCore::TransferOffer&)> onStarted;
    std::function<void(const TessaloyCore::TransferOffer&, std::uint64_t receivedBytes)> onProgress;
    // The complete, verified and flushed work file; from then on it belongs to the callee.
    std::function<void(const TessaloyCore::TransferOffer&, const std::filesystem::path& file)> onComplete;
    std::function<void(const TessaloyCore::TransferOffer&, TessaloyCore::TransferCancelReason)> onFailed;
    // The disk refused the work file (it could not be made, written or flushed), in the system's
    // words; onFailed follows.
    std::function<void(const TessaloyCore::TransferOffer&, const std::string& problem)> onDiskFailure;
    // The worker fell behind (true): stop reading the device's messages until it has caught up
    // (false). Each change once, in order.
    std::function<void(bool behind)> onBacklog;
    // A message for the device; only ever a cancel.
    std::function<void(TessaloyCore::TransferMessage)> reply;
    // Read at each offer.
    Limits limits;
    std::function<Date()> now = [] { return std::chrono::system_clock::now(); };
    // Read at each offer.
    FileCalls fileCalls = FileCalls::system();
    using Executor = std::function<void(std::function<void()>)>;
    // Runs work in order, one item at a time, off the owner's thread; set before the first offer.
    Executor runOnWorker = [](std::function<void()> work) { work(); };
    // Runs work in order, one item at a time, beside the worker; set before the first offer. Only the
    // worker posts to it.
    Executor runOnHasher = [](std::function<void()> work) { work(); };
    // Runs work on the owner's thread; safe from the worker.
    Executor runOnOwner = [](std::function<void()> work) { work(); };

    // The directory need not exist yet; it is made, private to this user, at the first offer.
    explicit TransferInbox(std::filesystem::path directory);
    ~TransferInbox();
    TransferInbox(const TransferInbox&) = delete;
    TransferInbox& operator=(const TransferInbox&) = delete;

    const std::filesystem::path& directory() const noexcept { return directory_; }

    // The one entry for the device's transfer messages.
    void handle(TessaloyCore::TransferMessage message);
    // The Mac gives up one incoming transfer; the device is told.
    void cancel(std::uint32_t id);
    // Ends every active transfer as failed without telling the device.
    void cancelAll();
    // Ends, telling the device, every transfer idle for longer than limits.idleTimeout.
    void expireIdle();
    // Work handed to the worker whose outcome has not reached the owner yet.
    std::size_t pendingWork() const noexcept { return pendingWork_; }

private:
    struct Active;
    struct Backlog;

    void begin(const TessaloyCore::TransferOffer& offer);
    void append(TessaloyCore::TransferMessage::Chunk chunk);
    void finish(const TessaloyCore::TransferMessage::Finish& finish);
    // The worker's outcomes pass what the disk said, once it has said it.
    void abort(std::uint32_t id, TessaloyCore::TransferCancelReason reason, bool tellDevice,
               const std::optional<std::string>& diskProblem = std::nullopt);
    // Ends a transfer the owner gave up: its file goes once the worker is done with it.
    void drop(const std::shared_ptr<Active>& entry);
    void refuse(const TessaloyCore::TransferOffer& offer, TessaloyCore::TransferCancelReason reason);
    // Under the lock: the entry for `id`, taken out of `active_`.
    std::shared_ptr<Active> takeOut(std::uint32_t id);
    // Runs `work` on the worker, then `outcome` with its result on the owner while the inbox lives.
    template <typename Work, typename Outcome>
    void onWorker(Work work, Outcome outcome);
    // Runs `work` on the worker; it hands its result to the function it is given, on any thread,
    // which runs `outcome` with it on the owner while the inbox lives.
    template <typename Work, typename Outcome>
    void onWorkerThen(Work work, Outcome outcome);
    void tell(TessaloyCore::TransferMessage message);
    // With what the disk said, for a transfer it refused.
    void reportFailed(const TessaloyCore::TransferOffer& offer, TessaloyCore::TransferCancelReason reason,
                      const std::optional<std::string>& diskProblem = std::nullopt);
    // Tells the owner when the backlog's state differs from what it was last told.
    void reportBacklog();

    const std::filesystem::path directory_;
    std::mutex lock_;
    std::map<std::uint32_t, std::shared_ptr<Active>> active_;
    const std::shared_ptr<Backlog> backlog_;
    std::size_t pendingWork_ = 0;
    bool reportedBehind_ = false;
};

} // namespace TessaloyNet
