#pragma once

#include "core/Sha256.h"
#include "core/TransferMessage.h"
#include "core/TransferOffer.h"
#include "core/TransferSource.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace TessaloyCore {

// The sender side of one transfer: hands out its offer, then chunks read from its source, then a
// finish with the SHA-256 digest of every byte sent. Not thread-safe; its owner serialises calls.
class OutgoingTransfer {
public:
    // Throws std::invalid_argument unless 1 <= chunkSize <= TransferMessage::maximumChunkBytes and
    // there is a source. Takes ownership of the source and closes it when the transfer ends.
    OutgoingTransfer(TransferOffer offer, std::unique_ptr<TransferSource> source, std::size_t chunkSize);

    const TransferOffer& offer() const noexcept { return offer_; }
    // The bytes handed out in chunks so far; never more than the offer's size.
    std::uint64_t sentBytes() const noexcept { return sentBytes_; }
    // True from the moment a finish or cancel message was produced.
    bool isFinished() const noexcept { return finished_; }

    // On successive calls: the offer, the chunks, then the finish; a cancel with `failed` instead of
    // the next chunk when the source fails or ends before the declared size. Nothing once finished.
    std::optional<TransferMessage> nextMessage();

    // Ends the transfer and closes its source. Returns the cancel message to send when the offer
    // had been handed out; nothing when it had not or the transfer had already finished.
    std::optional<TransferMessage> cancel(TransferCancelReason reason);

private:
    void stop() noexcept;

    TransferOffer offer_;
    std::unique_ptr<TransferSource> source_;
    std::size_t chunkSize_;
    std::uint64_t sentBytes_ = 0;
    Sha256 digest_;
    bool offerSent_ = false;
    bool finished_ = false;
};

} // namespace TessaloyCore
