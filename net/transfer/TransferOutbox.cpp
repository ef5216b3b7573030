#include "net/transfer/TransferOutbox.h"

#include "base/SerialQueue.h"

#include <algorithm>
#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <variant>
#include <vector>

namespace TessaloyNet {
namespace {

using TessaloyCore::OutgoingTransfer;
using TessaloyCore::TransferCancelReason;
using TessaloyCore::TransferMessage;
using TessaloyCore::WirePacket;

std::optional<WirePacket> framed(const TransferMessage& message) {
    try {
        return message.packet();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// What to report once the lock is released.
struct Report {
    enum class Kind { none, progress, finished };
    Kind kind = Kind::none;
    std::uint32_t id = 0;
    std::uint64_t sentBytes = 0;
    std::uint64_t totalBytes = 0;
    std::optional<TransferCancelReason> reason;

    static Report finished(std::uint32_t id, std::optional<TransferCancelReason> reason) {
        return {Kind::finished, id, 0, 0, reason};
    }
};

// A transfer message read, hashed and framed ahead of its turn, with what to report when it goes.
struct Prepared {
    std::optional<WirePacket> packet;
    Report report;
    // The transfer has nothing after it.
    bool last = false;
};

// The next message after the offer, of a transfer that has not finished. Throws whatever reading,
// hashing or framing throws.
Prepared prepare(OutgoingTransfer& transfer) {
    const std::uint32_t id = transfer.offer().id;
    const std::optional<TransferMessage> message = transfer.nextMessage();
    Prepared item{.packet = std::nullopt, .report = {}, .last = transfer.isFinished()};
    if (!message) return item;
    if (std::holds_alternative<TransferMessage::Chunk>(message->value)) {
        item.report = {Report::Kind::progress, id, transfer.sentBytes(), transfer.offer().size, std::nullopt};
    } else if (const auto* cancel = std::get_if<TransferMessage::Cancel>(&message->value)) {
        item.report = Report::finished(id, cancel->reason);
    } else {
        item.report = Report::finished(id, std::nullopt);
    }
    // A chunk or finish that is lost would leave the device with a gap it cannot fill, so a failure
    // here ends the transfer instead.
    item.packet = message->packet();
    return item;
}

} // namespace

struct TransferOutbox::Queued {
    std::uint32_t id = 0;
    // Null while lent to whoever prepares its next packet without the lock.
    std::unique_ptr<OutgoingTransfer> transfer;
    bool offerOut = false;
    // A worker job is queued or running for it.
    bool workerBusy = false;
    // Set when it leaves the queue early; a borrower then closes it instead of giving it back.
    std::optional<TransferCancelReason> ended;
    // Preparing its next packet threw; it ends as failed once the packets before it went out.
    bool broken = false;
    std::deque<Prepared> prepared;
    std::size_t preparedBytes = 0;

    void push(Prepared item) {
        const std::size_t bytes = item.packet ? item.packet->payload().size() : 0;
        prepared.push_back(std::move(item));
        preparedBytes += bytes;
    }
    Prepared pop() {
        Prepared item = std::move(prepared.front());
        prepared.pop_front();
        preparedBytes -= item.packet ? item.packet->payload().size() : 0;
        return item;
    }
};

// One message that nextPacket takes under the lock, and what it does with the lock released.
struct TransferOutbox::Turn {
    // An urgent or cancel message, framed with the lock released, or a packet framed already.
    std::optional<TransferMessage> message{};
    std::optional<WirePacket> packet{};
    Report report{};
    // The current transfer, when a worker should read ahead for it.
    Entry readAhead{};
    // The source of a transfer that broke, to close.
    std::unique_ptr<OutgoingTransfer> broken{};
    // Nothing to send yet: the current transfer's next packet is still being read.
    bool pending = false;
};

struct TransferOutbox::Shared {
    // Taken out of the queue and ended: the transfer to close now, or null when a borrower will.
    struct Taken {
        std::unique_ptr<OutgoingTransfer> transfer;
        bool offerOut = false;
    };

    Worker worker;
    std::mutex lock;
    std::deque<Entry> transfers;
    std::deque<TransferMessage> urgent;
    // The channel found the current transfer's next packet still being read: its reader resumes it.
    bool channelWaiting = false;

    // Under the lock.
    bool hasRoom(const Queued& entry) const {
        return entry.offerOut && entry.transfer && !entry.ended && !entry.broken && !entry.transfer->isFinished() &&
               entry.preparedBytes < readAheadBytes;
    }

    // Under the lock: the current transfer when a worker should read ahead for it, marked busy.
    Entry claimForWorker() {
        if (transfers.empty()) return nullptr;
        const Entry& entry = transfers.front();
        if (entry->workerBusy || !hasRoom(*entry)) return nullptr;
        entry->workerBusy = true;
        return entry;
    }

    // Under the lock, with the entry's transfer at hand: prepares its next packet without the lock.
    // False when the entry was ended meanwhile (its source is closed and the packet dropped), or
    // broke. Never throws: the channel learns of a failure as of a packet.
    bool prepareNext(std::unique_lock<std::mutex>& guard, Queued& entry) {
        std::unique_ptr<OutgoingTransfer> transfer = std::move(entry.transfer);
        guard.unlock();
        std::optional<Prepared> item;
        try {
            item = prepare(*transfer);
        } catch (...) {
            // Whatever it was (a source's own exception, memory), the transfer cannot go on.
        }
        guard.lock();
        if (entry.ended) {
            const TransferCancelReason reason = *entry.ended;
            guard.unlock();
            transfer->cancel(reason);
            guard.lock();
            return false;
        }
        entry.transfer = std::move(transfer);
        try {
            if (item) entry.push(std::move(*item));
        } catch (...) {
            item.reset();
        }
        entry.broken = !item;
        return item.has_value();
    }

    // Whatever ends its reading, the reader resumes a channel that found nothing ready.
    static void readAhead(const std::shared_ptr<Shared>& shared, Queued& entry, const std::function<void()>& onWork) {
        std::unique_lock guard(shared->lock);
        while (shared->hasRoom(entry) && shared->prepareNext(guard, entry)) shared->resumeChannel(guard, onWork);
        entry.workerBusy = false;
        shared->resumeChannel(guard, onWork);
    }

    // Under the lock, which it releases while it calls onWork.
    void resumeChannel(std::unique_lock<std::mutex>& guard, const std::function<void()>& onWork) {
        if (!std::exchange(channelWaiting, false) || !onWork) return;
        guard.unlock();
        onWork();
        guard.lock();
    }

    // Under the lock: the next urgent message, else the current transfer's next packet; nothing when
    // nothing is queued. Never waits for a read: while the packet is being read, the turn is pending.
    std::optional<Turn> nextTurn() {
        for (;;) {
            if (!urgent.empty()) {
                Turn turn{.message = std::move(urgent.front())};
                urgent.pop_front();
                return turn;
            }
            if (transfers.empty()) return std::nullopt;
            const Entry entry = transfers.front();
            std::optional<Turn> turn;
            if (!entry->offerOut) {
                turn = offer(*entry);
            } else if (!entry->prepared.empty()) {
                turn = preparedPacket(*entry);
            } else if (entry->broken) {
                turn = brokenOff(*entry);
            } else {
                // Still being read: its reader resumes the channel.
                channelWaiting = true;
                turn = Turn{.pending = true};
            }
            if (!turn) continue;
            turn->readAhead = claimForWorker();
            return turn;
        }
    }

    // Under the lock: the current transfer's offer, framed here to know at once whether the transfer
    // can go on (it is never lent before its offer went out). Nothing when it had finished before
    // it became current: it leaves the queue.
    std::optional<Turn> offer(Queued& entry) {
        OutgoingTransfer& transfer = *entry.transfer;
        const auto message = transfer.nextMessage();
        if (!message) {
            transfers.pop_front();
            return std::nullopt;
        }
        entry.offerOut = true;
        Turn turn{.packet = framed(*message)};
        if (!turn.packet) {
            // The device never learns of this transfer, so none of its chunks may follow.
            transfer.cancel(TransferCancelReason::failed);
            transfers.pop_front();
            turn.report = Report::finished(entry.id, TransferCancelReason::failed);
        }
        return turn;
    }

    // Under the lock: the current transfer's next prepared packet; after its last it leaves the queue.
    Turn preparedPacket(Queued& entry) {
        Prepared item = entry.pop();
        if (item.last) transfers.pop_front();
        return Turn{.packet = std::move(item.packet), .report = item.report};
    }

    // Under the lock: a transfer whose next packet could not be prepared ends as for a failing
    // read: the device is told, and its source closed once the lock is released.
    Turn brokenOff(Queued& entry) {
        transfers.pop_front();
        return Turn{.message = TransferMessage::cancel(entry.id, TransferCancelReason::failed),
                    .report = Report::finished(entry.id, TransferCancelReason::failed),
                    .broken = std::move(entry.transfer)};
    }

    // Under the lock, for an entry already out of the queue.
    Taken end(Queued& entry, TransferCancelReason reason) {
        entry.ended = reason;
        entry.prepared.clear();
        entry.preparedBytes = 0;
        return Taken{std::move(entry.transfer), entry.offerOut};
    }

    // Under the lock: the first queued transfer with the id, taken out of the queue and ended.
    std::optional<Taken> takeOut(std::uint32_t id, TransferCancelReason reason) {
        const auto found =
            std::find_if(transfers.begin(), transfers.end(), [id](const Entry& entry) { return entry->id == id; });
        if (found == transfers.end()) return std::nullopt;
        const Entry entry = *found;
        transfers.erase(found);
        return end(*entry, reason);
    }
};

TransferOutbox::TransferOutbox() : TransferOutbox(TessaloyBase::runBlocking) {}

TransferOutbox::TransferOutbox(Worker worker) : shared_(std::make_shared<Shared>()) {
    shared_->worker = std::move(worker);
}

void TransferOutbox::enqueue(std::unique_ptr<OutgoingTransfer> transfer) {
    if (!transfer) throw std::invalid_argument("the outbox needs a transfer");
    auto entry = std::make_shared<Queued>();
    entry->id = transfer->offer().id;
    entry->transfer = std::move(transfer);
    {
        std::lock_guard guard(shared_->lock);
        shared_->transfers.push_back(std::move(entry));
    }
    reportWork();
}

void TransferOutbox::send(TransferMessage message) {
    {
        std::lock_guard guard(shared_->lock);
        shared_->urgent.push_back(std::move(message));
    }
    reportWork();
}

std::optional<WirePacket> TransferOutbox::nextPacket() {
    for (;;) {
        std::optional<Turn> turn;
        {
            std::lock_guard guard(shared_->lock);
            turn = shared_->nextTurn();
        }
        if (!turn) return std::nullopt;
        settle(*turn);
        if (turn->pending) return std::nullopt;
        if (turn->message) turn->packet = framed(*turn->message);
        if (turn->packet) return std::move(turn->packet);
        // Lost; returning nothing would leave the channel waiting for work that is already queued.
    }
}

void TransferOutbox::settle(Turn& turn) {
    if (turn.broken) turn.broken->cancel(TransferCancelReason::failed);
    if (turn.readAhead) {
        shared_->worker(
            [shared = shared_, entry = turn.readAhead, onWork = onWork] { Shared::readAhead(shared, *entry, onWork); });
    }
    if (turn.report.kind == Report::Kind::progress && onProgress) {
        onProgress(turn.report.id, turn.report.sentBytes, turn.report.totalBytes);
    } else if (turn.report.kind == Report::Kind::finished) {
        reportFinished(turn.report.id, turn.report.reason);
    }
}

void TransferOutbox::cancel(std::uint32_t id, TransferCancelReason reason) {
    std::optional<Shared::Taken> taken;
    {
        std::lock_guard guard(shared_->lock);
        taken = shared_->takeOut(id, reason);
        if (!taken) return;
        if (taken->offerOut) shared_->urgent.push_back(TransferMessage::cancel(id, reason));
    }
    if (taken->transfer) taken->transfer->cancel(reason);
    reportFinished(id, reason);
    reportWork();
}

void TransferOutbox::refused(std::uint32_t id, TransferCancelReason reason) {
    std::optional<Shared::Taken> taken;
    {
        std::lock_guard guard(shared_->lock);
        taken = shared_->takeOut(id, reason);
        if (!taken) return;
    }
    // The device already knows; its source is closed all the same.
    if (taken->transfer) taken->transfer->cancel(reason);
    reportFinished(id, reason);
}

bool TransferOutbox::contains(std::uint32_t id) const {
    std::lock_guard guard(shared_->lock);
    return std::any_of(shared_->transfers.begin(), shared_->transfers.end(),
                       [id](const Entry& entry) { return entry->id == id; });
}

void TransferOutbox::removeAll() {
    std::vector<std::pair<std::uint32_t, Shared::Taken>> taken;
    {
        std::lock_guard guard(shared_->lock);
        shared_->urgent.clear();
        for (const Entry& entry : shared_->transfers) {
            taken.emplace_back(entry->id, shared_->end(*entry, TransferCancelReason::failed));
        }
        shared_->transfers.clear();
    }
    for (auto& [id, transfer] : taken) {
        if (transfer.transfer) transfer.transfer->cancel(TransferCancelReason::failed);
        reportFinished(id, TransferCancelReason::failed);
    }
}

bool TransferOutbox::isIdle() const {
    std::lock_guard guard(shared_->lock);
    return shared_->transfers.empty() && shared_->urgent.empty();
}

void TransferOutbox::reportFinished(std::uint32_t id, std::optional<TransferCancelReason> reason) const {
    if (onFinished) onFinished(id, reason);
}

void TransferOutbox::reportWork() const {
    if (onWork) onWork();
}

} // namespace TessaloyNet
