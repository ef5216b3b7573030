#include "core/TransferMessage.h"

#include "core/ByteReader.h"
#include "core/ByteWriter.h"

namespace TessaloyCore {
namespace {

enum Tag : std::uint8_t { offerTag = 1, chunkTag = 2, finishTag = 3, cancelTag = 4 };

[[noreturn]] void fail(CodecProblem problem) { throw CodecError<ByteReader>(problem); }

TransferMessage::Offer readOffer(ByteReader& reader) {
    TransferOffer offer;
    offer.id = reader.u32();
    const auto purpose = transferPurposeFromByte(reader.u8());
    if (!purpose) fail(CodecProblem::invalidValue);
    offer.purpose = *purpose;
    offer.name = reader.text(TransferOffer::maximumNameBytes);
    offer.contentType = reader.text(TransferOffer::maximumContentTypeBytes);
    offer.size = reader.u64();
    return {std::move(offer)};
}

TransferMessage::Chunk readChunk(ByteReader& reader) {
    TransferMessage::Chunk chunk;
    chunk.id = reader.u32();
    chunk.offset = reader.u64();
    const ByteView data = reader.bytes(TransferMessage::maximumChunkBytes);
    chunk.data.assign(data.begin(), data.end());
    return chunk;
}

TransferMessage::Finish readFinish(ByteReader& reader) {
    TransferMessage::Finish finish;
    finish.id = reader.u32();
    const ByteView digest = reader.fixed(TransferMessage::digestBytes);
    finish.digest.assign(digest.begin(), digest.end());
    return finish;
}

TransferMessage::Cancel readCancel(ByteReader& reader) {
    TransferMessage::Cancel cancel;
    cancel.id = reader.u32();
    const auto reason = transferCancelReasonFromByte(reader.u8());
    if (!reason) fail(CodecProblem::invalidValue);
    cancel.reason = *reason;
    return cancel;
}

struct Encode {
    ByteWriter& writer;

    void operator()(const TransferMessage::Offer& message) const {
        const TransferOffer& offer = message.offer;
        writer.u8(offerTag);
        writer.u32(offer.id);
        writer.u8(static_cast<std::uint8_t>(offer.purpose));
        if (!writer.text(offer.name, TransferOffer::maximumNameBytes) ||
            !writer.text(offer.contentType, TransferOffer::maximumContentTypeBytes)) {
            throw TransferMessage::MessageError(TransferMessageError::invalidOffer);
        }
        writer.u64(offer.size);
    }
    void operator()(const TransferMessage::Chunk& chunk) const {
        writer.u8(chunkTag);
        writer.u32(chunk.id);
        writer.u64(chunk.offset);
        if (!writer.bytes(chunk.data, TransferMessage::maximumChunkBytes)) {
            throw TransferMessage::MessageError(TransferMessageError::invalidChunk);
        }
    }
    void operator()(const TransferMessage::Finish& finish) const {
        if (finish.digest.size() != TransferMessage::digestBytes) {
            throw TransferMessage::MessageError(TransferMessageError::invalidDigest);
        }
        writer.u8(finishTag);
        writer.u32(finish.id);
        writer.fixed(finish.digest);
    }
    void operator()(const TransferMessage::Cancel& cancel) const {
        writer.u8(cancelTag);
        writer.u32(cancel.id);
        writer.u8(static_cast<std::uint8_t>(cancel.reason));
    }
};

} // namespace

const char* nameOf(TransferMessageError error) noexcept {
    switch (error) {
        case TransferMessageError::invalidOffer:
            return "invalidOffer";
        case TransferMessageError::invalidChunk:
            return "invalidChunk";
        case TransferMessageError::invalidDigest:
            return "invalidDigest";
    }
    return "unknown";
}

const char* descriptionOf(TransferMessageError error) noexcept {
    switch (error) {
        case TransferMessageError::invalidOffer:
            return "The transfer offer is not valid.";
        case TransferMessageError::invalidChunk:
            return "A piece of the transfer is not valid.";
        case TransferMessageError::invalidDigest:
            return "The transfer's checksum is not valid.";
    }
    return "Something went wrong.";
}

TransferMessage TransferMessage::decode(const WirePacket& packet) {
    if (packet.kind() != WirePacket::Kind::transfer) throw Error(CodecProblem::wrongKind);
    return decodeAs<TransferMessage>([&] {
        ByteReader reader(packet.payload());
        TransferMessage message;
        switch (reader.u8()) {
            case offerTag:
                message.value = readOffer(reader);
                break;
            case chunkTag:
                message.value = readChunk(reader);
                break;
            case finishTag:
                message.value = readFinish(reader);
                break;
            case cancelTag:
                message.value = readCancel(reader);
                break;
            default:
                fail(CodecProblem::unknownTag);
        }
        reader.expectEnd();
        return message;
    });
}

std::optional<std::uint32_t> TransferMessage::offerID(const WirePacket& packet) {
    if (packet.kind() != WirePacket::Kind::transfer) return std::nullopt;
    try {
        ByteReader reader(packet.payload());
        if (reader.u8() != offerTag) return std::nullopt;
        return reader.u32();
    } catch (const CodecError<ByteReader>&) {
        return std::nullopt;
    }
}

Bytes TransferMessage::encoded() const {
    const auto* chunk = std::get_if<Chunk>(&value);
    ByteWriter writer(chunk ? 17 + chunk->data.size() : 64);
    std::visit(Encode{writer}, value);
    return writer.take();
}

WirePacket TransferMessage::packet() const { return WirePacket(WirePacket::Kind::transfer, encoded()); }

} // namespace TessaloyCore
