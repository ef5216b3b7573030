#include "core/IncomingTransfer.h"

#include <algorithm>

namespace TessaloyCore {

const char* nameOf(TransferReceiveError error) noexcept {
    switch (error) {
        case TransferReceiveError::tooLarge:
            return "tooLarge";
        case TransferReceiveError::unexpectedOffset:
            return "unexpectedOffset";
        case TransferReceiveError::exceedsOffer:
            return "exceedsOffer";
        case TransferReceiveError::incomplete:
            return "incomplete";
        case TransferReceiveError::digestMismatch:
            return "digestMismatch";
    }
    return "unknown";
}

const char* descriptionOf(TransferReceiveError error) noexcept {
    switch (error) {
        case TransferReceiveError::tooLarge:
            return "The file is too large.";
        case TransferReceiveError::unexpectedOffset:
            return "Part of the file arrived out of order.";
        case TransferReceiveError::exceedsOffer:
            return "More arrived than the file's announced size.";
        case TransferReceiveError::incomplete:
            return "The file arrived incomplete.";
        case TransferReceiveError::digestMismatch:
            return "The file arrived damaged.";
    }
    return "Something went wrong.";
}

IncomingTransfer::IncomingTransfer(TransferOffer offer) : offer_(std::move(offer)) {
    if (offer_.size > maximumSize(offer_.purpose)) throw ReceiveError(TransferReceiveError::tooLarge);
}

void IncomingTransfer::receive(std::uint64_t offset, ByteView data, const Write& write) {
    store(offset, data, write);
    hash(data);
}

void IncomingTransfer::store(std::uint64_t offset, ByteView data, const Write& write) {
    if (offset != receivedBytes_) throw ReceiveError(TransferReceiveError::unexpectedOffset);
    // receivedBytes_ never exceeds the size, so the subtraction cannot wrap.
    if (data.size() > offer_.size - offset) throw ReceiveError(TransferReceiveError::exceedsOffer);
    write(data);
    receivedBytes_ = offset + data.size();
}

void IncomingTransfer::hash(ByteView data) { digest_.update(data); }

void IncomingTransfer::verify(ByteView digest) const {
    if (receivedBytes_ != offer_.size) throw ReceiveError(TransferReceiveError::incomplete);
    const Sha256::Digest expected = digest_.digest();
    if (!std::equal(expected.begin(), expected.end(), digest.begin(), digest.end())) {
        throw ReceiveError(TransferReceiveError::digestMismatch);
    }
}

} // namespace TessaloyCore
