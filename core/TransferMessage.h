#pragma once

#include "core/Bytes.h"
#include "core/CaseError.h"
#include "core/CodecError.h"
#include "core/TransferCancelReason.h"
#include "core/TransferOffer.h"
#include "core/WirePacket.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <variant>

namespace TessaloyCore {

// Why a transfer message cannot be encoded.
enum class TransferMessageError { invalidOffer, invalidChunk, invalidDigest };
const char* nameOf(TransferMessageError error) noexcept;
// The sentence for the user.
const char* descriptionOf(TransferMessageError error) noexcept;

// The payload of a `transfer` packet: the offer of a transfer, one chunk of its bytes at an offset,
// its finish with the SHA-256 digest of all its bytes, or its cancellation.
struct TransferMessage {
    using MessageError = CaseError<TransferMessageError>;
    using Error = CodecError<TransferMessage>;

    static constexpr std::size_t maximumChunkBytes = 262'144;
    static constexpr std::size_t digestBytes = 32;

    struct Offer {
        TransferOffer offer;
        friend bool operator==(const Offer&, const Offer&) = default;
    };
    struct Chunk {
        std::uint32_t id = 0;
        std::uint64_t offset = 0;
        Bytes data;
        friend bool operator==(const Chunk&, const Chunk&) = default;
    };
    struct Finish {
        std::uint32_t id = 0;
        Bytes digest;
        friend bool operator==(const Finish&, const Finish&) = default;
    };
    struct Cancel {
        std::uint32_t id = 0;
        TransferCancelReason reason = TransferCancelReason::cancelled;
        friend bool operator==(const Cancel&, const Cancel&) = default;
    };
    using Value = std::variant<Offer, Chunk, Finish, Cancel>;

    Value value;

    static TransferMessage offer(TransferOffer offer) { return {Offer{std::move(offer)}}; }
    static TransferMessage chunk(std::uint32_t id, std::uint64_t offset, Bytes data) {
        return {Chunk{id, offset, std::move(data)}};
    }
    static TransferMessage finish(std::uint32_t id, Bytes digest) { return {Finish{id, std::move(digest)}}; }
    static TransferMessage cancel(std::uint32_t id, TransferCancelReason reason) { return {Cancel{id, reason}}; }

    // Throws Error; the size of an offer is not compared with its purpose's maximum here.
    static TransferMessage decode(const WirePacket& packet);
    // The id of the offer in `packet`, read even when the rest of the offer cannot be (a name that is
    // not UTF-8, a field over its limit), so that the offer can still be refused; nothing for any
    // other message or a packet too short to hold an id.
    static std::optional<std::uint32_t> offerID(const WirePacket& packet);
    // Throws MessageError: invalidOffer for a name over 255 or a content type over 128 bytes, or
    // either not valid UTF-8; invalidChunk for data over 262,144 bytes; invalidDigest for a digest
    // that is not 32 bytes.
    Bytes encoded() const;
    // The encoded payload in a `transfer` packet; throws as encoded().
    WirePacket packet() const;

    friend bool operator==(const TransferMessage&, const TransferMessage&) = default;
};

} // namespace TessaloyCore
