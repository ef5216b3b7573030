#pragma once

#include "core/Bytes.h"
#include "core/CaseError.h"
#include "core/Sha256.h"
#include "core/TransferOffer.h"

#include <cstdint>
#include <functional>

namespace TessaloyCore {

enum class TransferReceiveError { tooLarge, unexpectedOffset, exceedsOffer, incomplete, digestMismatch };
const char* nameOf(TransferReceiveError error) noexcept;
// The sentence for the user.
const char* descriptionOf(TransferReceiveError error) noexcept;

// The receiver side of one transfer: a plain value holding the offer, the bytes received so far
// and their running SHA-256. Not thread-safe; its owner serialises calls.
class IncomingTransfer {
public:
    using ReceiveError = CaseError<TransferReceiveError>;
    // Stores one chunk's bytes; a throw refuses the chunk.
    using Write = std::function<void(ByteView)>;

    // Throws ReceiveError tooLarge when the offer's size exceeds its purpose's maximum size.
    explicit IncomingTransfer(TransferOffer offer);

    const TransferOffer& offer() const noexcept { return offer_; }
    std::uint64_t receivedBytes() const noexcept { return receivedBytes_; }

    // Accepts the chunk at `offset`: throws ReceiveError unexpectedOffset unless it equals
    // receivedBytes(), exceedsOffer when it would run past the offer's size. Otherwise calls `write`
    // with the data; an exception from `write` passes through and nothing is counted.
    void receive(std::uint64_t offset, ByteView data, const Write& write);
    // receive() in two steps, so that the hashing may run beside the writing: store() checks, writes
    // and counts as receive() does without hashing, and hash() takes the same bytes afterwards, in the
    // order they were stored. Each step may run on a thread of its own, one call at a time.
    void store(std::uint64_t offset, ByteView data, const Write& write);
    void hash(ByteView data);

    // Throws ReceiveError incomplete unless every declared byte arrived, digestMismatch unless
    // `digest` is the SHA-256 of the bytes received.
    void verify(ByteView digest) const;

private:
    TransferOffer offer_;
    std::uint64_t receivedBytes_ = 0;
    Sha256 digest_;
};

} // namespace TessaloyCore
