#pragma once

#include "core/OutgoingTransfer.h"
#include "core/TransferCancelReason.h"
#include "core/TransferMessage.h"
#include "core/WirePacket.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace TessaloyNet {

// Everything sent on behalf of transfers, pulled one packet at a time by the media sender: whole
// outgoing transfers, strictly one after another (offer, chunks, finish), and urgent single
// messages (cancel replies), which go out before the next message of any transfer.
//
// Read-ahead: once its offer went out, the current transfer reads, hashes and frames up to
// `readAheadBytes` ahead on a worker, so that the channel encrypts one chunk while the next is
// read. nextPacket() only takes prepared packets: when the next one is still being read it gives
// nothing, and the worker calls onWork once it is ready, so the channel's queue never waits for a
// disk. A transfer being read when it is cancelled, refused or removed is only marked: its reader
// closes its source and drops what it read, so no caller waits for a disk either.
//
// Every operation is safe from any thread and holds the one lock briefly; nothing reads a source
// under it. No callback runs under the lock: callbacks run on the calling thread afterwards and may
// call back into the outbox. The callback fields are set by the owners before work is queued and
// are read without the lock.
class TransferOutbox {
public:
    using Progress = std::function<void(std::uint32_t id, std::uint64_t sentBytes, std::uint64_t totalBytes)>;
    // No reason: the transfer's finish went out with all its bytes; a reason: it ended early.
    using Finished = std::function<void(std::uint32_t id, std::optional<TessaloyCore::TransferCancelReason> reason)>;
    // Runs a read-ahead job later on some other thread.
    using Worker = std::function<void(std::function<void()> job)>;

    // Prepared packets of the current transfer wait up to this many payload bytes; the packet that
    // reaches it is the last read ahead. Small chunks get a deeper pipeline, large ones no more memory.
    static constexpr std::size_t readAheadBytes = 512 * 1024;

    // There is new work to pull; also called by a worker, on its thread, once a packet that
    // nextPacket() found still being read is ready.
    std::function<void()> onWork;
    Progress onProgress;
    Finished onFinished;

    // Reads ahead on the blocking worker pool.
    TransferOutbox();
    explicit TransferOutbox(Worker worker);
    TransferOutbox(const TransferOutbox&) = delete;
    TransferOutbox& operator=(const TransferOutbox&) = delete;

    // Takes ownership of the transfer and queues it behind the others; then calls onWork. Throws
    // std::invalid_argument for no transfer.
    void enqueue(std::unique_ptr<TessaloyCore::OutgoingTransfer> transfer);
    // Queues a message to go out before any further transfer message; then calls onWork.
    void send(TessaloyCore::TransferMessage message);

    // The next `transfer` packet; nothing when nothing is queued, or when the current transfer's next
    // packet is still being read (onWork follows once it is ready). An urgent message that cannot
    // be encoded is lost and the next one is returned in its place; a transfer whose offer cannot be
    // encoded ends there as failed, since its device would not know its chunks. A transfer whose
    // next chunk or finish cannot be read, hashed or framed (whatever is thrown on its worker)
    // ends as failed, the device told with a cancel as for a failing read.
    std::optional<TessaloyCore::WirePacket> nextPacket();

    // The Mac gives up one of its transfers: reports onFinished(id, reason) and calls onWork; the
    // device is told when the offer had gone out. Nothing at all for an id that is not queued.
    void cancel(std::uint32_t id, TessaloyCore::TransferCancelReason reason);
    // The device refused or cancelled one of the Mac's transfers: reports onFinished(id, reason);
    // nothing is sent. Nothing at all for an id that is not queued.
    void refused(std::uint32_t id, TessaloyCore::TransferCancelReason reason);
    // Whether a transfer with this id is queued; urgent messages do not count.
    bool contains(std::uint32_t id) const;
    // Drops every urgent message silently and ends every queued transfer, reporting each as failed,
    // oldest first.
    void removeAll();
    bool isIdle() const;

private:
    struct Queued;
    struct Turn;
    struct Shared;
    using Entry = std::shared_ptr<Queued>;

    // With the lock released: closes a broken source, starts the read-ahead and reports.
    void settle(Turn& turn);
    void reportFinished(std::uint32_t id, std::optional<TessaloyCore::TransferCancelReason> reason) const;
    void reportWork() const;

    // Shared with the workers, which may outlive the outbox.
    const std::shared_ptr<Shared> shared_;
};

} // namespace TessaloyNet
