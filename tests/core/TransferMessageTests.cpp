#include "core/ByteWriter.h"
#include "core/TransferMessage.h"
#include "tests/support/ProblemOf.h"
#include "tests/support/TestBytes.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace TessaloyCore;
using Testing::digestOf;

std::optional<CodecProblem> decodeProblem(const WirePacket& packet) {
    return Testing::problemOf<TransferMessage::Error>([&] { TransferMessage::decode(packet); });
}

std::optional<CodecProblem> decodeProblem(const Bytes& payload) {
    return decodeProblem(WirePacket(WirePacket::Kind::transfer, payload));
}

std::optional<TransferMessageError> encodeError(const TransferMessage& message) {
    return Testing::problemOf<TransferMessage::MessageError>([&] { message.encoded(); });
}

TransferOffer sampleOffer() { return {0xA1B2C3D4, TransferPurpose::file, "Photo é.jpg", "public.jpeg", 0x0102030405}; }

std::vector<TransferMessage> sampleMessages() {
    return {
        TransferMessage::offer(sampleOffer()),
        TransferMessage::offer({7, TransferPurpose::clipboard, "", "", 0}),
        TransferMessage::chunk(0xA1B2C3D4, 0xFFFFFFFFFFFFFFF0, Bytes{1, 2, 3, 4, 5}),
        TransferMessage::chunk(1, 0, Bytes{}),
        TransferMessage::finish(0xA1B2C3D4, digestOf(Bytes{'a', 'b', 'c'})),
        TransferMessage::cancel(0xA1B2C3D4, TransferCancelReason::cancelled),
        TransferMessage::cancel(2, TransferCancelReason::notAllowed),
        TransferMessage::cancel(3, TransferCancelReason::tooLarge),
        TransferMessage::cancel(4, TransferCancelReason::failed),
    };
}

// An offer payload written field by field, so that single fields can be made invalid.
Bytes offerPayload(std::uint8_t purpose, const std::string& name, const std::string& contentType) {
    ByteWriter writer;
    writer.u8(1);
    writer.u32(9);
    writer.u8(purpose);
    writer.u32(static_cast<std::uint32_t>(name.size()));
    writer.fixed({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()});
    writer.u32(static_cast<std::uint32_t>(contentType.size()));
    writer.fixed({reinterpret_cast<const std::uint8_t*>(contentType.data()), contentType.size()});
    writer.u64(100);
    return writer.take();
}

TEST(TransferMessage, EveryCaseRoundTrips) {
    for (const TransferMessage& message : sampleMessages()) {
        const WirePacket packet = message.packet();
        EXPECT_EQ(packet.kind(), WirePacket::Kind::transfer);
        EXPECT_EQ(packet.payload(), message.encoded());
        EXPECT_EQ(TransferMessage::decode(packet), message);
    }
}

TEST(TransferMessage, LaysOutFieldsBigEndianAfterTheTag) {
    EXPECT_EQ(TransferMessage::offer({0x01020304, TransferPurpose::clipboard, "ab", "c", 0x0506}).encoded(),
              (Bytes{1, 1, 2, 3, 4, 1, 0, 0, 0, 2, 'a', 'b', 0, 0, 0, 1, 'c', 0, 0, 0, 0, 0, 0, 5, 6}));
    EXPECT_EQ(TransferMessage::chunk(0x01020304, 0x0A0B, Bytes{0xEE}).encoded(),
              (Bytes{2, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0x0A, 0x0B, 0, 0, 0, 1, 0xEE}));
    Bytes finish{3, 0, 0, 0, 9};
    const Bytes digest = digestOf({});
    finish.insert(finish.end(), digest.begin(), digest.end());
    EXPECT_EQ(TransferMessage::finish(9, digest).encoded(), finish);
    EXPECT_EQ(TransferMessage::cancel(0x01020304, TransferCancelReason::failed).encoded(), (Bytes{4, 1, 2, 3, 4, 4}));
}

TEST(TransferMessage, RefusesAnotherPacketKind) {
    const Bytes payload = TransferMessage::cancel(1, TransferCancelReason::failed).encoded();
    EXPECT_EQ(decodeProblem(WirePacket(WirePacket::Kind::session, payload)), CodecProblem::wrongKind);
    EXPECT_EQ(decodeProblem(WirePacket(WirePacket::Kind::input, payload)), CodecProblem::wrongKind);
}

TEST(TransferMessage, EveryShorterPrefixIsTruncated) {
    for (const TransferMessage& message : sampleMessages()) {
        const Bytes payload = message.encoded();
        for (std::size_t length = 0; length < payload.size(); ++length) {
            const Bytes prefix(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(length));
            EXPECT_EQ(decodeProblem(prefix), CodecProblem::truncated) << "prefix of " << length << " bytes";
        }
    }
}

TEST(TransferMessage, AnyExtraByteIsTrailing) {
    for (const TransferMessage& message : sampleMessages()) {
        Bytes payload = message.encoded();
        payload.push_back(0);
        EXPECT_EQ(decodeProblem(payload), CodecProblem::trailingBytes);
    }
}

TEST(TransferMessage, UnknownTagsAreRefused) {
    for (const std::uint8_t tag : {0, 5, 24, 255}) {
        EXPECT_EQ(decodeProblem(Bytes{tag, 0, 0, 0, 1, 4}), CodecProblem::unknownTag) << int{tag};
    }
}

TEST(TransferMessage, UnknownPurposesAndReasonsAreInvalid) {
    EXPECT_EQ(decodeProblem(offerPayload(1, "a", "b")), std::nullopt);
    EXPECT_EQ(decodeProblem(offerPayload(2, "a", "b")), std::nullopt);
    EXPECT_EQ(decodeProblem(offerPayload(0, "a", "b")), CodecProblem::invalidValue);
    EXPECT_EQ(decodeProblem(offerPayload(3, "a", "b")), CodecProblem::invalidValue);
    for (const std::uint8_t reason : {0, 5, 255}) {
        EXPECT_EQ(decodeProblem(Bytes{4, 0, 0, 0, 1, reason}), CodecProblem::invalidValue) << int{reason};
    }
}

TEST(TransferMessage, OfferTextsMustBeValidUtf8) {
    EXPECT_EQ(decodeProblem(offerPayload(2, "a\xFF", "b")), CodecProblem::invalidValue);
    EXPECT_EQ(decodeProblem(offerPayload(2, "a", "\xC0\xAF")), CodecProblem::invalidValue);
    EXPECT_EQ(encodeError(TransferMessage::offer({1, TransferPurpose::file, "a\xFF", "", 0})),
              TransferMessageError::invalidOffer);
    EXPECT_EQ(encodeError(TransferMessage::offer({1, TransferPurpose::file, "a", "\xED\xA0\x80", 0})),
              TransferMessageError::invalidOffer);
}

TEST(TransferMessage, NameLimitIs255Bytes) {
    const std::string longest = std::string(253, 'n') + "é";
    ASSERT_EQ(longest.size(), 255u);
    const auto atLimit = TransferMessage::offer({1, TransferPurpose::file, longest, "", 0});
    EXPECT_EQ(TransferMessage::decode(atLimit.packet()), atLimit);
    EXPECT_EQ(encodeError(TransferMessage::offer({1, TransferPurpose::file, longest + "x", "", 0})),
              TransferMessageError::invalidOffer);
    EXPECT_EQ(decodeProblem(offerPayload(2, longest, "")), std::nullopt);
    EXPECT_EQ(decodeProblem(offerPayload(2, longest + "x", "")), CodecProblem::tooLong);
}

TEST(TransferMessage, ContentTypeLimitIs128Bytes) {
    const std::string longest(128, 't');
    const auto atLimit = TransferMessage::offer({1, TransferPurpose::file, "n", longest, 0});
    EXPECT_EQ(TransferMessage::decode(atLimit.packet()), atLimit);
    EXPECT_EQ(encodeError(TransferMessage::offer({1, TransferPurpose::file, "n", longest + "t", 0})),
              TransferMessageError::invalidOffer);
    EXPECT_EQ(decodeProblem(offerPayload(2, "n", longest)), std::nullopt);
    EXPECT_EQ(decodeProblem(offerPayload(2, "n", longest + "t")), CodecProblem::tooLong);
}

TEST(TransferMessage, ChunkLimitIs262144Bytes) {
    ASSERT_EQ(TransferMessage::maximumChunkBytes, 262'144u);
    const auto atLimit = TransferMessage::chunk(1, 0, Bytes(262'144, 0x5A));
    EXPECT_EQ(TransferMessage::decode(atLimit.packet()), atLimit);
    EXPECT_EQ(encodeError(TransferMessage::chunk(1, 0, Bytes(262'145, 0x5A))), TransferMessageError::invalidChunk);

    ByteWriter over;
    over.u8(2);
    over.u32(1);
    over.u64(0);
    over.u32(262'145);
    over.fixed(Bytes(262'145, 0x5A));
    EXPECT_EQ(decodeProblem(over.take()), CodecProblem::tooLong);
}

TEST(TransferMessage, FinishDigestIsExactly32Bytes) {
    EXPECT_EQ(encodeError(TransferMessage::finish(1, Bytes(31, 1))), TransferMessageError::invalidDigest);
    EXPECT_EQ(encodeError(TransferMessage::finish(1, Bytes(32, 1))), std::nullopt);
    EXPECT_EQ(encodeError(TransferMessage::finish(1, Bytes(33, 1))), TransferMessageError::invalidDigest);
    EXPECT_EQ(encodeError(TransferMessage::finish(1, Bytes{})), TransferMessageError::invalidDigest);
    Bytes shortFinish{3, 0, 0, 0, 1};
    shortFinish.insert(shortFinish.end(), 31, 1);
    EXPECT_EQ(decodeProblem(shortFinish), CodecProblem::truncated);
    shortFinish.insert(shortFinish.end(), 2, 1);
    EXPECT_EQ(decodeProblem(shortFinish), CodecProblem::trailingBytes);
}

TEST(TransferMessage, OfferSizeIsNotComparedWithItsPurpose) {
    const auto huge = TransferMessage::offer({1, TransferPurpose::clipboard, "x", "y", UINT64_MAX});
    EXPECT_EQ(TransferMessage::decode(huge.packet()), huge);
}

} // namespace
