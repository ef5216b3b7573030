#include "net/transfer/TransferInbox.h"

#include "base/Hop.h"
#include "net/channel/RandomBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace TessaloyNet {
namespace {

using TessaloyCore::TransferCancelReason;
using TessaloyCore::TransferMessage;
using TessaloyCore::TransferOffer;

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& path, int code) {
    throw std::system_error(code, std::generic_category(), what + " " + path.string());
}

// Missing folders are made private to this user: they hold what the device sends.
void ensureDirectory(const std::filesystem::path& directory) {
    if (directory.empty()) return;
    struct stat status {};
    if (::stat(directory.c_str(), &status) == 0) {
        if (!S_ISDIR(status.st_mode)) fail("not a folder:", directory, ENOTDIR);
        return;
    }
    if (directory.has_parent_path() && directory.parent_path() != directory) ensureDirectory(directory.parent_path());
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) fail("could not create", directory, errno);
}

// A random (version 4) UUID in its canonical upper-case form.
std::string randomUuid() {
    TessaloyCore::Bytes bytes = randomBytes(16);
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        text += digits;
    }
    return text;
}

} // namespace

struct TransferInbox::Active {
    Active(TessaloyCore::IncomingTransfer incoming, std::filesystem::path path, FileCalls fileCalls, Date now)
        : offer(incoming.offer()),
          file(std::move(path)),
          calls(std::move(fileCalls)),
          lastActivity(now),
          transfer(std::move(incoming)) {}

    // Fixed at the offer.
    const TransferOffer offer;
    const std::filesystem::path file;
    const FileCalls calls;
    // Set by the owner when it gives the transfer up: the worker skips what is still queued for it.
    std::atomic<bool> dropped{false};

    // Owner only.
    Date lastActivity;
    bool ended = false;

    // Worker only; the hasher hashes its chunks and, after the flush, checks its digest.
    TessaloyCore::IncomingTransfer transfer;
    // Open once the worker has created the file.
    int descriptor = -1;
    // Where the bytes the disk was not yet asked to write begin.
    std::uint64_t writebackFrom = 0;
    // The file could not be made, or a chunk was refused or not written: nothing more is written, and
    // the finish fails.
    bool broken = false;
    // What the disk said when it refused the file: set once on the worker, read by the owner in the
    // outcome that follows.
    std::optional<std::string> diskProblem;
};

// The chunk bytes queued for the worker and the hasher. Past maximumBacklog the sender is held back,
// until half of it is left. The owner never waits here: what the channel had read before it paused
// is taken, and sits here rather than in the owner's queue.
struct TransferInbox::Backlog {
    void add(std::uint64_t count) {
        std::lock_guard guard(lock);
        bytes += count;
        if (bytes >= maximumBacklog) behind = true;
    }
    // Whether this caught the worker up.
    bool remove(std::uint64_t count) {
        std::lock_guard guard(lock);
        bytes -= count;
        const bool caughtUp = behind && bytes <= maximumBacklog / 2;
        if (caughtUp) behind = false;
        return caughtUp;
    }
    bool isBehind() {
        std::lock_guard guard(lock);
        return behind;
    }

    std::mutex lock;
    std::uint64_t bytes = 0;
    bool behind = false;
};

namespace {

template <typename Entry>
void writeAll(const Entry& entry, TessaloyCore::ByteView data) {
    while (!data.empty()) {
        const long written = entry.calls.write(entry.descriptor, data.data(), data.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) fail("could not write", entry.file, written < 0 ? errno : EIO);
        data = data.subspan(static_cast<std::size_t>(written));
    }
}

// Creates the private, empty work file; throws std::system_error.
int createWorkFile(const TransferInbox::FileCalls& calls, const std::filesystem::path& file) {
    const int descriptor = calls.open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0) fail("could not create", file, errno);
    // The creation mode is narrowed by the umask; the file is meant to be exactly owner read-write.
    ::fchmod(descriptor, 0600);
    return descriptor;
}

// Flushes and closes the file; the system's words when it did not reach the disk whole.
template <typename Entry>
std::optional<std::string> flushAndClose(Entry& entry) {
    std::optional<std::string> problem;
    const auto failed = [&](const char* what) {
        const std::string reason = std::generic_category().message(errno);
        if (!problem) problem = std::string(what) + " " + entry.file.string() + ": " + reason;
    };
    if (entry.calls.fsync(entry.descriptor) != 0) failed("could not flush");
    if (entry.calls.close(entry.descriptor) != 0) failed("could not close");
    entry.descriptor = -1;
    return problem;
}

// Closes the handle and deletes the file, ignoring failures of either.
template <typename Entry>
void discard(Entry& entry) noexcept {
    if (entry.descriptor >= 0) entry.calls.close(entry.descriptor);
    entry.descriptor = -1;
    std::error_code ignored;
    std::filesystem::remove(entry.file, ignored);
}

} // namespace

TransferInbox::FileCalls TransferInbox::FileCalls::system() {
    return FileCalls{
        [](const char* path, int flags, unsigned mode) { return ::open(path, flags, static_cast<mode_t>(mode)); },
        [](int descriptor, const std::uint8_t* data, std::size_t count) -> long {
            return ::write(descriptor, data, count);
        },
        [](int descriptor) { return ::fsync(descriptor); },
        [](int descriptor) { return ::close(descriptor); },
        [](int descriptor, std::uint64_t offset, std::uint64_t count) {
            return ::sync_file_range(descriptor, static_cast<off64_t>(offset), static_cast<off64_t>(count),
                                     SYNC_FILE_RANGE_WRITE);
        },
    };
}

TransferInbox::TransferInbox(std::filesystem::path directory)
    : prepareDirectory(ensureDirectory), directory_(std::move(directory)), backlog_(std::make_shared<Backlog>()) {}

TransferInbox::~TransferInbox() {
    for (auto& [id, entry] : active_) {
        runOnWorker([entry = entry] {
            if (entry->descriptor >= 0 && entry->calls.close) entry->calls.close(entry->descriptor);
            entry->descriptor = -1;
        });
    }
}

template <typename Work, typename Outcome>
void TransferInbox::onWorkerThen(Work work, Outcome outcome) {
    ++pendingWork_;
    // Reaches the inbox on the owner's thread, where it is destroyed.
    auto reach = TessaloyBase::hop(*this, [outcome = std::move(outcome)](TransferInbox& inbox, auto result) mutable {
        --inbox.pendingWork_;
        outcome(std::move(result));
    });
    runOnWorker([work = std::move(work), reach = std::move(reach), owner = runOnOwner]() mutable {
        work([reach = std::move(reach), owner](auto result) mutable {
            owner([reach = std::move(reach), result = std::move(result)]() mutable { reach(std::move(result)); });
        });
    });
}

template <typename Work, typename Outcome>
void TransferInbox::onWorker(Work work, Outcome outcome) {
    onWorkerThen([work = std::move(work)](auto deliver) mutable { deliver(work()); }, std::move(outcome));
}

void TransferInbox::handle(TransferMessage message) {
    std::visit(
        [this](auto& value) {
            using Case = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Case, TransferMessage::Offer>) {
                begin(value.offer);
            } else if constexpr (std::is_same_v<Case, TransferMessage::Chunk>) {
                append(std::move(value));
            } else if constexpr (std::is_same_v<Case, TransferMessage::Finish>) {
                finish(value);
            } else {
                abort(value.id, value.reason, false);
            }
        },
        message.value);
}

void TransferInbox::cancel(std::uint32_t id) { abort(id, TransferCancelReason::cancelled, true); }

void TransferInbox::cancelAll() {
    std::vector<std::uint32_t> ids;
    {
        std::lock_guard guard(lock_);
        for (const auto& [id, entry] : active_) ids.push_back(id);
    }
    for (const std::uint32_t id : ids) {
        const auto entry = takeOut(id);
        if (!entry) continue;
        drop(entry);
        reportFailed(entry->offer, TransferCancelReason::failed);
    }
}

void TransferInbox::expireIdle() {
    const Date current = now();
    const std::chrono::duration<double> timeout = limits.idleTimeout;
    std::vector<std::uint32_t> ids;
    {
        std::lock_guard guard(lock_);
        for (const auto& [id, entry] : active_) {
            // Compared in seconds, so that an infinite or NaN time-out simply never expires.
            if (std::chrono::duration<double>(current - entry->lastActivity) > timeout) ids.push_back(id);
        }
    }
    for (const std::uint32_t id : ids) {
        const auto entry = takeOut(id);
        if (!entry) continue;
        drop(entry);
        tell(TransferMessage::cancel(id, TransferCancelReason::failed));
        reportFailed(entry->offer, TransferCancelReason::failed);
    }
}

void TransferInbox::begin(const TransferOffer& offer) {
    if (decide) {
        if (const auto reason = decide(offer)) return refuse(offer, *reason);
    }
    expireIdle();

    std::int64_t others = 0;
    std::uint64_t declared = 0;
    bool declaredOverflows = false;
    {
        std::lock_guard guard(lock_);
        for (const auto& [id, entry] : active_) {
            if (id == offer.id) continue;
            ++others;
            const std::uint64_t size = entry->offer.size;
            if (declared > UINT64_MAX - size) declaredOverflows = true;
            declared += size;
        }
    }
    if (others >= limits.maximumActive) return refuse(offer, TransferCancelReason::failed);
    if (declaredOverflows || declared > UINT64_MAX - offer.size ||
        declared + offer.size > limits.maximumDeclaredBytes) {
        return refuse(offer, TransferCancelReason::tooLarge);
    }

    std::optional<TessaloyCore::IncomingTransfer> transfer;
    try {
        transfer.emplace(offer);
    } catch (const TessaloyCore::IncomingTransfer::ReceiveError&) {
        return refuse(offer, TransferCancelReason::tooLarge);
    }
    // The file is made on the worker, ahead of the chunks that will follow the offer there.
    const auto entry = std::make_shared<Active>(std::move(*transfer), directory_ / randomUuid(), fileCalls, now());
    std::shared_ptr<Active> replaced;
    {
        std::lock_guard guard(lock_);
        auto& slot = active_[offer.id];
        replaced = std::exchange(slot, entry);
    }
    // The device reused the id: its earlier transfer ends silently.
    if (replaced) drop(replaced);
    onWorker(
        [entry, prepare = prepareDirectory, directory = directory_] {
            if (entry->dropped) return false;
            try {
                if (prepare) prepare(directory);
                entry->descriptor = createWorkFile(entry->calls, entry->file);
                return true;
            } catch (const std::exception& failure) {
                entry->broken = true;
                entry->diskProblem = failure.what();
                return false;
            }
        },
        [this, entry](bool open) {
            if (entry->ended) return;
            if (!open) return abort(entry->offer.id, TransferCancelReason::failed, true, entry->diskProblem);
            if (onStarted) onStarted(entry->offer);
        });
}

void TransferInbox::append(TransferMessage::Chunk chunk) {
    std::shared_ptr<Active> entry;
    {
        std::lock_guard guard(lock_);
        const auto found = active_.find(chunk.id);
        if (found == active_.end()) return;
        entry = found->second;
    }
    const std::uint64_t size = chunk.data.size();
    backlog_->add(size);
    reportBacklog();
    const auto caughtUp = TessaloyBase::hop(*this, [](TransferInbox& inbox) { inbox.reportBacklog(); });
    const auto release = [backlog = backlog_, owner = runOnOwner, caughtUp](std::uint64_t count) {
        if (backlog->remove(count)) owner(caughtUp);
    };
    // The chunk moves on to the worker, then to the hasher: its bytes are not copied again.
    onWorker(
        [entry, chunk = std::move(chunk), size, release,
         hasher = runOnHasher]() mutable -> std::optional<std::uint64_t> {
            std::optional<std::uint64_t> received;
            if (!entry->broken && !entry->dropped) {
                try {
                    entry->transfer.store(chunk.offset, chunk.data,
                                          [&](TessaloyCore::ByteView data) { writeAll(*entry, data); });
                    const std::uint64_t written = entry->transfer.receivedBytes();
                    if (entry->calls.startWriteback && written - entry->writebackFrom >= writebackStride) {
                        // Only a head start: a failure shows at the flush, which decides.
                        entry->calls.startWriteback(entry->descriptor, entry->writebackFrom,
                                                    written - entry->writebackFrom);
                        entry->writebackFrom = written;
                    }
                    received = written;
                } catch (const std::system_error& failure) {
                    entry->broken = true;
                    entry->diskProblem = failure.what();
                } catch (const std::exception&) {
                    // Out of order, or longer than declared.
                    entry->broken = true;
                }
            }
            if (!received) {
                release(size);
                return received;
            }
            // Hashed while the worker writes the next chunk.
            hasher([entry, data = std::move(chunk.data), size, release] {
                // A dropped transfer is never checked.
                if (!entry->dropped) entry->transfer.hash(data);
                release(size);
            });
            return received;
        },
        [this, entry](std::optional<std::uint64_t> received) {
            if (entry->ended) return;
            if (!received) return abort(entry->offer.id, TransferCancelReason::failed, true, entry->diskProblem);
            {
                std::lock_guard guard(lock_);
                entry->lastActivity = now();
            }
            if (onProgress) onProgress(entry->offer, *received);
        });
}

void TransferInbox::reportBacklog() {
    const bool behind = backlog_->isBehind();
    if (behind == reportedBehind_) return;
    reportedBehind_ = behind;
    if (onBacklog) onBacklog(behind);
}

void TransferInbox::finish(const TransferMessage::Finish& finish) {
    const auto entry = takeOut(finish.id);
    if (!entry) return;
    entry->ended = true;
    onWorkerThen(
        [entry, digest = finish.digest, hasher = runOnHasher](auto deliver) {
            if (entry->broken) {
                discard(*entry);
                return deliver(false);
            }
            // A file that did not reach the disk whole is not delivered as if it had.
            entry->diskProblem = flushAndClose(*entry);
            // Behind every chunk of the transfer; the worker is done with the entry. Handed on, not
            // copied: what the outcome holds goes on the owner's thread.
            hasher([entry, digest, deliver = std::move(deliver)]() mutable {
                bool verified = true;
                try {
                    entry->transfer.verify(digest);
                } catch (const TessaloyCore::IncomingTransfer::ReceiveError&) {
                    verified = false;
                }
                if (!entry->diskProblem && verified) return deliver(true);
                discard(*entry);
                deliver(false);
            });
        },
        // The device's finish has arrived: whatever the owner does meanwhile, its file is completed.
        [this, entry, keep = shared_from_this()](bool complete) {
            if (complete) {
                if (onComplete) onComplete(entry->offer, entry->file);
                return;
            }
            // The device believes it delivered the transfer; it learns that the Mac discarded it.
            tell(TransferMessage::cancel(entry->offer.id, TransferCancelReason::failed));
            reportFailed(entry->offer, TransferCancelReason::failed, entry->diskProblem);
        });
}

void TransferInbox::abort(std::uint32_t id, TransferCancelReason reason, bool tellDevice,
                          const std::optional<std::string>& diskProblem) {
    const auto entry = takeOut(id);
    if (!entry) return;
    drop(entry);
    if (tellDevice) tell(TransferMessage::cancel(id, reason));
    reportFailed(entry->offer, reason, diskProblem);
}

void TransferInbox::drop(const std::shared_ptr<Active>& entry) {
    entry->ended = true;
    entry->dropped = true;
    onWorker(
        [entry] {
            discard(*entry);
            return true;
        },
        [](bool) {});
}

void TransferInbox::refuse(const TransferOffer& offer, TransferCancelReason reason) {
    tell(TransferMessage::cancel(offer.id, reason));
    reportFailed(offer, reason);
}

std::shared_ptr<TransferInbox::Active> TransferInbox::takeOut(std::uint32_t id) {
    std::lock_guard guard(lock_);
    const auto found = active_.find(id);
    if (found == active_.end()) return nullptr;
    auto entry = std::move(found->second);
    active_.erase(found);
    return entry;
}

void TransferInbox::tell(TransferMessage message) {
    if (reply) reply(std::move(message));
}

void TransferInbox::reportFailed(const TransferOffer& offer, TransferCancelReason reason,
                                 const std::optional<std::string>& diskProblem) {
    if (diskProblem && onDiskFailure) onDiskFailure(offer, *diskProblem);
    if (onFailed) onFailed(offer, reason);
}

} // namespace TessaloyNet
