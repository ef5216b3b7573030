#include "core/WireDecoder.h"

#include "tests/core/CodecTesting.h"
#include "tests/support/ProblemOf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

using Testing::problemOf;
using namespace TessaloyCore;
using Testing::pattern;

struct Decoded {
    std::vector<WirePacket> packets;
    std::optional<WireErrorCase> error;
};

Bytes streamOf(const std::vector<WirePacket>& packets) {
    Bytes stream;
    for (const WirePacket& packet : packets) {
        const Bytes bytes = packet.encoded();
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    return stream;
}

// Feeds the stream cut at the given ascending offsets.
Decoded feedInPieces(ByteView stream, const std::vector<std::size_t>& cuts) {
    WireDecoder decoder;
    Decoded decoded;
    std::size_t start = 0;
    try {
        for (std::size_t i = 0; i <= cuts.size(); ++i) {
            const std::size_t end = i < cuts.size() ? cuts[i] : stream.size();
            decoder.feed(stream.subspan(start, end - start),
                         [&](WirePacket packet) { decoded.packets.push_back(std::move(packet)); });
            start = end;
        }
    } catch (const WireError& error) {
        decoded.error = error.value();
    }
    return decoded;
}

Decoded feedByteByByte(ByteView stream) {
    std::vector<std::size_t> cuts;
    for (std::size_t i = 1; i < stream.size(); ++i) cuts.push_back(i);
    return feedInPieces(stream, cuts);
}

// Reads the stream through writableSpace()/commit() in reads of at most the given sizes, in turn.
Decoded readThroughSpace(ByteView stream, const std::vector<std::size_t>& readSizes) {
    WireDecoder decoder;
    Decoded decoded;
    std::size_t offset = 0;
    std::size_t turn = 0;
    try {
        while (offset < stream.size()) {
            const std::span<std::uint8_t> space = decoder.writableSpace();
            EXPECT_FALSE(space.empty());
            const std::size_t count =
                std::min({space.size(), stream.size() - offset, readSizes[turn++ % readSizes.size()]});
            std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(offset), count, space.begin());
            offset += count;
            if (auto packet = decoder.commit(count)) decoded.packets.push_back(std::move(*packet));
        }
    } catch (const WireError& error) {
        decoded.error = error.value();
    }
    return decoded;
}

WirePacket packetOf(WirePacket::Kind kind, std::size_t size, std::uint8_t seed) {
    return WirePacket(kind, pattern(size, seed));
}

std::vector<WirePacket> smallMix() {
    return {packetOf(WirePacket::Kind::channelRole, 1, 1), packetOf(WirePacket::Kind::session, 0, 2),
            packetOf(WirePacket::Kind::ping, 9, 3),        packetOf(WirePacket::Kind::input, 12, 4),
            packetOf(WirePacket::Kind::transfer, 0, 5),    packetOf(WirePacket::Kind::audio, 13, 6),
            packetOf(WirePacket::Kind::videoFrame, 40, 7), packetOf(WirePacket::Kind::endSession, 0, 8)};
}

std::array<std::uint8_t, WirePacket::headerSize> headerWith(std::size_t index, std::uint8_t value) {
    auto header = WirePacket(WirePacket::Kind::cursorUpdate, Bytes(33)).header();
    header[index] = value;
    return header;
}

TEST(WireDecoder, EverySplitOfAMixedStreamGivesThePacketsInOrder) {
    const std::vector<WirePacket> packets = smallMix();
    const Bytes stream = streamOf(packets);
    ASSERT_EQ(stream.size(), 8 * 12 + 75u);

    EXPECT_EQ(feedInPieces(stream, {}).packets, packets);
    EXPECT_EQ(feedByteByByte(stream).packets, packets);
    for (std::size_t first = 0; first <= stream.size(); ++first) {
        for (std::size_t second = first; second <= stream.size(); ++second) {
            const Decoded decoded = feedInPieces(stream, {first, second});
            ASSERT_EQ(decoded.packets, packets) << "cut at " << first << " and " << second;
            ASSERT_FALSE(decoded.error);
        }
    }
}

TEST(WireDecoder, CarriesTheLargestPayloadInAnySplit) {
    const std::vector<WirePacket> packets{packetOf(WirePacket::Kind::ping, 9, 1),
                                          packetOf(WirePacket::Kind::videoFrame, WirePacket::maximumPayloadBytes, 2),
                                          packetOf(WirePacket::Kind::session, 0, 3),
                                          packetOf(WirePacket::Kind::videoFrame, WirePacket::maximumPayloadBytes, 4),
                                          packetOf(WirePacket::Kind::audio, 100, 5)};
    const Bytes stream = streamOf(packets);

    EXPECT_EQ(feedInPieces(stream, {}).packets, packets);
    EXPECT_EQ(feedByteByByte(stream).packets, packets);

    // Cuts in and around every header.
    std::vector<std::size_t> headerStarts;
    std::size_t offset = 0;
    for (const WirePacket& packet : packets) {
        headerStarts.push_back(offset);
        offset += WirePacket::headerSize + packet.payload().size();
    }
    for (const std::size_t start : headerStarts) {
        for (std::size_t cut = start > 2 ? start - 2 : 0; cut <= start + WirePacket::headerSize + 2; ++cut) {
            ASSERT_EQ(feedInPieces(stream, {cut}).packets, packets) << "cut at " << cut;
        }
    }

    std::mt19937 random(20240601);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::size_t> cuts;
        std::uniform_int_distribution<std::size_t> position(0, stream.size());
        for (int i = 0; i < 40; ++i) cuts.push_back(position(random));
        std::sort(cuts.begin(), cuts.end());
        ASSERT_EQ(feedInPieces(stream, cuts).packets, packets) << "round " << round;
    }
}

TEST(WireDecoder, RefusesALengthOverTheLimitFromTheHeaderAlone) {
    auto tooLong = WirePacket(WirePacket::Kind::videoFrame, {}).header();
    const std::uint32_t length = WirePacket::maximumPayloadBytes + 1;
    tooLong[8] = static_cast<std::uint8_t>(length >> 24);
    tooLong[9] = static_cast<std::uint8_t>(length >> 16);
    tooLong[10] = static_cast<std::uint8_t>(length >> 8);
    tooLong[11] = static_cast<std::uint8_t>(length);
    EXPECT_EQ(feedInPieces(tooLong, {}).error, WireErrorCase::payloadTooLarge);
    // The first eleven bytes still allow a good length; the twelfth does not.
    WireDecoder decoder;
    EXPECT_NO_THROW(decoder.feed(ByteView(tooLong).first(11), [](WirePacket) {}));
    EXPECT_EQ(problemOf<WireError>([&] { decoder.feed(ByteView(tooLong).subspan(11), [](WirePacket) {}); }),
              WireErrorCase::payloadTooLarge);

    auto largest = tooLong;
    largest[11] = 0;
    WireDecoder accepting;
    EXPECT_NO_THROW(accepting.feed(largest, [](WirePacket) { ADD_FAILURE() << "no payload was sent"; }));
}

TEST(WireDecoder, EachHeaderErrorIsFoundInTwelveBytes) {
    const struct {
        std::size_t index;
        std::uint8_t value;
        WireErrorCase error;
    } cases[] = {
        {0, 'X', WireErrorCase::badMagic},
        {3, 'y', WireErrorCase::badMagic},
        {4, 0, WireErrorCase::unsupportedVersion},
        {4, 2, WireErrorCase::unsupportedVersion},
        {5, 0, WireErrorCase::unknownKind},
        {5, 12, WireErrorCase::unknownKind},
        {5, 0xFF, WireErrorCase::unknownKind},
        {6, 1, WireErrorCase::reservedBytesNotZero},
        {7, 0x80, WireErrorCase::reservedBytesNotZero},
        {8, 1, WireErrorCase::payloadTooLarge},
        {9, 0x21, WireErrorCase::payloadTooLarge},
    };
    for (const auto& c : cases) {
        const auto header = headerWith(c.index, c.value);
        EXPECT_EQ(feedInPieces(header, {}).error, c.error) << c.index;
        EXPECT_EQ(readThroughSpace(header, {12}).error, c.error) << c.index;

        // Found at the first byte that proves it, not later.
        WireDecoder decoder;
        EXPECT_NO_THROW(decoder.feed(ByteView(header).first(c.index), [](WirePacket) {})) << c.index;
        EXPECT_EQ(problemOf<WireError>([&] { decoder.feed(ByteView(header).subspan(c.index, 1), [](WirePacket) {}); }),
                  c.error)
            << c.index;
    }
    for (int kind = 1; kind <= 11; ++kind) {
        EXPECT_EQ(feedInPieces(headerWith(5, static_cast<std::uint8_t>(kind)), {}).error, std::nullopt) << kind;
    }
}

TEST(WireDecoder, DeliversThePacketsBeforeABadHeaderThenStaysFailed) {
    const std::vector<WirePacket> packets = smallMix();
    Bytes stream = streamOf(packets);
    const auto bad = headerWith(4, 2);
    stream.insert(stream.end(), bad.begin(), bad.end());
    const Bytes good = packets.front().encoded();
    stream.insert(stream.end(), good.begin(), good.end());

    WireDecoder decoder;
    std::vector<WirePacket> received;
    const auto collect = [&](WirePacket packet) { received.push_back(std::move(packet)); };
    EXPECT_EQ(problemOf<WireError>([&] { decoder.feed(stream, collect); }), WireErrorCase::unsupportedVersion);
    EXPECT_EQ(received, packets);

    EXPECT_EQ(problemOf<WireError>([&] { decoder.feed(good, collect); }), WireErrorCase::unsupportedVersion);
    EXPECT_EQ(problemOf<WireError>([&] { decoder.feed({}, collect); }), WireErrorCase::unsupportedVersion);
    EXPECT_EQ(problemOf<WireError>([&] { (void)decoder.writableSpace(); }), WireErrorCase::unsupportedVersion);
    EXPECT_EQ(problemOf<WireError>([&] { (void)decoder.commit(0); }), WireErrorCase::unsupportedVersion);
    EXPECT_EQ(received.size(), packets.size());

    EXPECT_EQ(readThroughSpace(stream, {5, 100, 1}).packets, packets);
    EXPECT_EQ(readThroughSpace(stream, {5, 100, 1}).error, WireErrorCase::unsupportedVersion);
}

TEST(WireDecoder, WritableSpaceHoldsExactlyTheRestOfTheHeaderOrPayload) {
    const WirePacket packet = packetOf(WirePacket::Kind::videoFrame, 1000, 9);
    const Bytes stream = packet.encoded();
    WireDecoder decoder;

    auto space = decoder.writableSpace();
    ASSERT_EQ(space.size(), 12u);
    std::copy_n(stream.begin(), 5, space.begin());
    EXPECT_EQ(decoder.commit(5), std::nullopt);
    space = decoder.writableSpace();
    ASSERT_EQ(space.size(), 7u);
    std::copy_n(stream.begin() + 5, 7, space.begin());
    EXPECT_EQ(decoder.commit(7), std::nullopt);

    space = decoder.writableSpace();
    ASSERT_EQ(space.size(), 1000u);
    const std::uint8_t* const payloadMemory = space.data();
    std::copy_n(stream.begin() + 12, 400, space.begin());
    EXPECT_EQ(decoder.commit(400), std::nullopt);
    space = decoder.writableSpace();
    ASSERT_EQ(space.size(), 600u);
    EXPECT_EQ(space.data(), payloadMemory + 400);
    std::copy_n(stream.begin() + 412, 600, space.begin());
    const std::optional<WirePacket> received = decoder.commit(600);
    ASSERT_TRUE(received);
    EXPECT_EQ(*received, packet);
    // Read in place: the packet owns the memory the reader wrote into.
    EXPECT_EQ(received->payload().data(), payloadMemory);

    EXPECT_EQ(decoder.writableSpace().size(), 12u);
}

TEST(WireDecoder, WritableSpaceDeliversEmptyPayloadsOnTheHeader) {
    const Bytes stream = WirePacket(WirePacket::Kind::session, {}).encoded();
    WireDecoder decoder;
    std::copy(stream.begin(), stream.end(), decoder.writableSpace().begin());
    const auto received = decoder.commit(12);
    ASSERT_TRUE(received);
    EXPECT_EQ(*received, WirePacket(WirePacket::Kind::session, {}));
}

TEST(WireDecoder, WritableSpaceReadsAnySplitOfTheStream) {
    std::vector<WirePacket> packets = smallMix();
    packets.push_back(packetOf(WirePacket::Kind::videoFrame, WirePacket::maximumPayloadBytes, 6));
    packets.push_back(packetOf(WirePacket::Kind::cursorUpdate, 33, 7));
    const Bytes stream = streamOf(packets);
    for (const std::vector<std::size_t>& reads :
         std::vector<std::vector<std::size_t>>{{1}, {3, 7}, {12}, {13}, {4096}, {1, 65'536, 2}, {SIZE_MAX}}) {
        const Decoded decoded = readThroughSpace(stream, reads);
        EXPECT_EQ(decoded.packets, packets) << reads.front();
        EXPECT_FALSE(decoded.error);
    }
}

TEST(WireDecoder, FeedAndWritableSpaceMix) {
    const std::vector<WirePacket> packets{packetOf(WirePacket::Kind::audio, 300, 1),
                                          packetOf(WirePacket::Kind::input, 20, 2)};
    const Bytes stream = streamOf(packets);
    WireDecoder decoder;
    std::vector<WirePacket> received;
    const auto collect = [&](WirePacket packet) { received.push_back(std::move(packet)); };

    decoder.feed(ByteView(stream).first(112), collect);
    auto space = decoder.writableSpace();
    ASSERT_EQ(space.size(), 200u);
    std::copy_n(stream.begin() + 112, 50, space.begin());
    EXPECT_EQ(decoder.commit(50), std::nullopt);
    decoder.feed(ByteView(stream).subspan(162), collect);
    EXPECT_EQ(received, packets);
}

TEST(WireDecoder, WritableSpaceHandsOutLargePayloadsAWindowAtATime) {
    const WirePacket packet = packetOf(WirePacket::Kind::videoFrame, 150'000, 3);
    const Bytes stream = packet.encoded();
    WireDecoder decoder;
    decoder.feed(ByteView(stream).first(12), [](WirePacket) { ADD_FAILURE() << "the payload is missing"; });

    auto space = decoder.writableSpace();
    ASSERT_EQ(space.size(), WireDecoder::maximumWritableSpace);
    EXPECT_EQ(decoder.writableSpace().data(), space.data());
    std::copy_n(stream.begin() + 12, 10, space.begin());
    EXPECT_EQ(decoder.commit(10), std::nullopt);
    EXPECT_EQ(decoder.writableSpace().size(), WireDecoder::maximumWritableSpace - 10);

    // A feed fills the rest of the window, then goes on past it.
    const std::size_t fed = 80'000;
    decoder.feed(ByteView(stream).subspan(22, fed), [](WirePacket) { ADD_FAILURE() << "the payload is incomplete"; });
    std::size_t offset = 22 + fed;
    std::optional<WirePacket> received;
    while (!received) {
        space = decoder.writableSpace();
        ASSERT_EQ(space.size(), std::min(WireDecoder::maximumWritableSpace, stream.size() - offset));
        std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(offset), space.size(), space.begin());
        offset += space.size();
        received = decoder.commit(space.size());
    }
    EXPECT_EQ(offset, stream.size());
    EXPECT_EQ(*received, packet);
}

TEST(WireDecoder, CommitRefusesMoreThanWasHandedOut) {
    WireDecoder decoder;
    EXPECT_THROW((void)decoder.commit(13), std::out_of_range);
    const Bytes stream = packetOf(WirePacket::Kind::audio, 10, 1).encoded();
    decoder.feed(ByteView(stream).first(12), [](WirePacket) {});
    // The payload's space was not asked for yet.
    EXPECT_THROW((void)decoder.commit(1), std::out_of_range);
    EXPECT_EQ(decoder.writableSpace().size(), 10u);
    EXPECT_THROW((void)decoder.commit(11), std::out_of_range);
    std::copy_n(stream.begin() + 12, 10, decoder.writableSpace().begin());
    EXPECT_EQ(decoder.commit(10), packetOf(WirePacket::Kind::audio, 10, 1));
}

} // namespace
