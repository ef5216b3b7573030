#include "core/OutgoingTransfer.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

namespace TessaloyCore {

OutgoingTransfer::OutgoingTransfer(TransferOffer offer, std::unique_ptr<TransferSource> source, std::size_t chunkSize)
    : offer_(std::move(offer)), source_(std::move(source)), chunkSize_(chunkSize) {
    if (chunkSize_ < 1 || chunkSize_ > TransferMessage::maximumChunkBytes) {
        throw std::invalid_argument("chunk size must lie between 1 and 262,144 bytes");
    }
    if (!source_) throw std::invalid_argument("an outgoing transfer needs a source");
}

std::optional<TransferMessage> OutgoingTransfer::nextMessage() {
    if (finished_) return std::nullopt;
    if (!offerSent_) {
        offerSent_ = true;
        return TransferMessage::offer(offer_);
    }
    if (sentBytes_ >= offer_.size) {
        stop();
        const Sha256::Digest digest = digest_.digest();
        return TransferMessage::finish(offer_.id, Bytes(digest.begin(), digest.end()));
    }

    // Never more than the offer declares, even from a source that has grown since it was measured.
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(chunkSize_, offer_.size - sentBytes_));
    Bytes data;
    try {
        data = source_->read(wanted);
    } catch (const std::exception&) {
        data.clear();
    }
    if (data.empty() || data.size() > wanted) {
        stop();
        return TransferMessage::cancel(offer_.id, TransferCancelReason::failed);
    }
    digest_.update(data);
    const std::uint64_t offset = sentBytes_;
    sentBytes_ += data.size();
    return TransferMessage::chunk(offer_.id, offset, std::move(data));
}

std::optional<TransferMessage> OutgoingTransfer::cancel(TransferCancelReason reason) {
    if (finished_) return std::nullopt;
    stop();
    if (!offerSent_) return std::nullopt;
    return TransferMessage::cancel(offer_.id, reason);
}

void OutgoingTransfer::stop() noexcept {
    finished_ = true;
    source_->close();
}

} // namespace TessaloyCore
