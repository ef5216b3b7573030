#include "net/transfer/TransferOutbox.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <variant>

namespace TessaloyNet {
namespace {

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
};

} // namespace

void TransferOutbox::enqueue(std::unique_ptr<TessaloyCore::OutgoingTransfer> transfer) {
    if (!transfer) throw std::invalid_argument("the outbox needs a transfer");
    {
        std::lock_guard guard(lock_);
        transfers_.push_back(std::move(transfer));
    }
    reportWork();
}

void TransferOutbox::send(TransferMessage message) {
    {
        std::lock_guard guard(lock_);
        urgent_.push_back(std::move(message));
    }
    reportWork();
}

std::optional<WirePacket> TransferOutbox::nextPacket() {
    for (;;) {
        std::optional<TransferMessage> message;
        // A transfer's offer is framed under the lock, to know at once whether the transfer can go on.
        std::optional<std::optional<WirePacket>> offerPacket;
        Report report;
        {
            std::lock_guard guard(lock_);
            if (!urgent_.empty()) {
                message = std::move(urgent_.front());
                urgent_.pop_front();
            } else {
                while (!message) {
                    if (transfers_.empty()) return std::nullopt;
                    message = transfers_.front()->nextMessage();
                    // Nothing: it had finished before it became current.
                    if (!message) transfers_.pop_front();
                }
                TessaloyCore::OutgoingTransfer& transfer = *transfers_.front();
                const std::uint32_t id = transfer.offer().id;
                if (std::holds_alternative<TransferMessage::Offer>(message->value)) {
                    offerPacket = framed(*message);
                    if (!*offerPacket) {
                        // The device never learns of this transfer, so none of its chunks may follow.
                        transfer.cancel(TransferCancelReason::failed);
                        report = {Report::Kind::finished, id, 0, 0, TransferCancelReason::failed};
                    }
                } else if (std::holds_alternative<TransferMessage::Chunk>(message->value)) {
                    report = {Report::Kind::progress, id, transfer.sentBytes(), transfer.offer().size, std::nullopt};
                } else if (const auto* cancel = std::get_if<TransferMessage::Cancel>(&message->value)) {
                    report = {Report::Kind::finished, id, 0, 0, cancel->reason};
                } else {
                    report = {Report::Kind::finished, id, 0, 0, std::nullopt};
                }
                if (transfer.isFinished()) transfers_.pop_front();
            }
        }

        if (report.kind == Report::Kind::progress && onProgress) {
            onProgress(report.id, report.sentBytes, report.totalBytes);
        } else if (report.kind == Report::Kind::finished) {
            reportFinished(report.id, report.reason);
        }

        std::optional<WirePacket> packet = offerPacket ? std::move(*offerPacket) : framed(*message);
        if (packet) return packet;
        // Lost; returning nothing would leave the channel waiting for work that is already queued.
    }
}

void TransferOutbox::cancel(std::uint32_t id, TransferCancelReason reason) {
    {
        std::lock_guard guard(lock_);
        const auto transfer = takeOut(id);
        if (!transfer) return;
        if (auto message = transfer->cancel(reason)) urgent_.push_back(std::move(*message));
    }
    reportFinished(id, reason);
    reportWork();
}

void TransferOutbox::refused(std::uint32_t id, TransferCancelReason reason) {
    {
        std::lock_guard guard(lock_);
        const auto transfer = takeOut(id);
        if (!transfer) return;
        // The device already knows; its source is closed all the same.
        transfer->cancel(reason);
    }
    reportFinished(id, reason);
}

bool TransferOutbox::contains(std::uint32_t id) const {
    std::lock_guard guard(lock_);
    return std::any_of(transfers_.begin(), transfers_.end(),
                       [id](const auto& transfer) { return transfer->offer().id == id; });
}

void TransferOutbox::removeAll() {
    Transfers taken;
    {
        std::lock_guard guard(lock_);
        taken.swap(transfers_);
        urgent_.clear();
    }
    for (const auto& transfer : taken) {
        transfer->cancel(TransferCancelReason::failed);
        reportFinished(transfer->offer().id, TransferCancelReason::failed);
    }
}

bool TransferOutbox::isIdle() const {
    std::lock_guard guard(lock_);
    return transfers_.empty() && urgent_.empty();
}

std::unique_ptr<TessaloyCore::OutgoingTransfer> TransferOutbox::takeOut(std::uint32_t id) {
    const auto found = std::find_if(transfers_.begin(), transfers_.end(),
                                    [id](const auto& transfer) { return transfer->offer().id == id; });
    if (found == transfers_.end()) return nullptr;
    auto transfer = std::move(*found);
    transfers_.erase(found);
    return transfer;
}

void TransferOutbox::reportFinished(std::uint32_t id, std::optional<TransferCancelReason> reason) const {
    if (onFinished) onFinished(id, reason);
}

void TransferOutbox::reportWork() const {
    if (onWork) onWork();
}

} // namespace TessaloyNet
