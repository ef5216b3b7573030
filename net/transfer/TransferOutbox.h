#pragma once

#include "core/OutgoingTransfer.h"
#include "core/TransferCancelReason.h"
#include "core/TransferMessage.h"
#include "core/WirePacket.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace TessaloyNet {

// Everything sent on behalf of transfers, pulled one packet at a time by the media sender: whole
// outgoing transfers, strictly one after another (offer, chunks, finish), and urgent single
// messages (cancel replies), which go out before the next message of any transfer.
//
// Every operation is safe from any thread and holds the one lock once, briefly; nextPacket() holds
// it while the current transfer reads and hashes its next chunk. No callback runs under the lock:
// callbacks run on the calling thread afterwards and may call back into the outbox. The callback
// fields are set by the owners before work is queued and are read without the lock.
class TransferOutbox {
public:
    using Progress = std::function<void(std::uint32_t id, std::uint64_t sentBytes, std::uint64_t totalBytes)>;
    // No reason: the transfer's finish went out with all its bytes; a reason: it ended early.
    using Finished = std::function<void(std::uint32_t id, std::optional<TessaloyCore::TransferCancelReason> reason)>;

    // There is new work to pull.
    std::function<void()> onWork;
    Progress onProgress;
    Finished onFinished;

    TransferOutbox() = default;
    TransferOutbox(const TransferOutbox&) = delete;
    TransferOutbox& operator=(const TransferOutbox&) = delete;

    // Takes ownership of the transfer and queues it behind the others; then calls onWork. Throws
    // std::invalid_argument for no transfer.
    void enqueue(std::unique_ptr<TessaloyCore::OutgoingTransfer> transfer);
    // Queues a message to go out before any further transfer message; then calls onWork.
    void send(TessaloyCore::TransferMessage message);

    // The next `transfer` packet; nothing only when nothing is queued. A message that cannot be
    // encoded is lost and the next one is returned in its place; a transfer whose offer cannot be
    // encoded ends there as failed, since its device would not know its chunks.
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
    using Transfers = std::deque<std::unique_ptr<TessaloyCore::OutgoingTransfer>>;

    // Under the lock: the first queued transfer with the id, taken out of the queue.
    std::unique_ptr<TessaloyCore::OutgoingTransfer> takeOut(std::uint32_t id);
    void reportFinished(std::uint32_t id, std::optional<TessaloyCore::TransferCancelReason> reason) const;
    void reportWork() const;

    mutable std::mutex lock_;
    Transfers transfers_;
    std::deque<TessaloyCore::TransferMessage> urgent_;
};

} // namespace TessaloyNet
