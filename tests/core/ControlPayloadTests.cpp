#include "core/ChannelRole.h"
#include "core/CursorUpdate.h"
#include "core/Ping.h"
#include "core/SessionEnd.h"

#include "tests/core/CodecTesting.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>

namespace {

using namespace TessaloyCore;
using namespace CodecTesting;

// ChannelRole

TEST(ChannelRole, EncodesOneByteAndRoundTrips) {
    EXPECT_EQ(ChannelRole(ChannelRole::media).packet(), WirePacket(WirePacket::Kind::channelRole, Bytes{0}));
    EXPECT_EQ(ChannelRole(ChannelRole::control).packet(), WirePacket(WirePacket::Kind::channelRole, Bytes{1}));
    for (const ChannelRole role : {ChannelRole(ChannelRole::media), ChannelRole(ChannelRole::control)}) {
        EXPECT_EQ(ChannelRole::decode(role.packet()), role);
    }
    EXPECT_NE(ChannelRole(ChannelRole::media), ChannelRole(ChannelRole::control));
    EXPECT_STREQ(nameOf(ChannelRole::media), "media");
    EXPECT_STREQ(nameOf(ChannelRole::control), "control");
}

TEST(ChannelRole, RefusesAnythingButOneKnownByte) {
    const WirePacket good = ChannelRole(ChannelRole::control).packet();
    expectRefusesOtherKinds<ChannelRole>(good);
    expectEveryPrefixTruncatedAndTrailingRefused<ChannelRole>(good);
    EXPECT_EQ(decodeProblem<ChannelRole>(WirePacket::Kind::channelRole, Bytes{2}), CodecProblem::invalidValue);
    EXPECT_EQ(decodeProblem<ChannelRole>(WirePacket::Kind::channelRole, Bytes{0xFF}), CodecProblem::invalidValue);
    EXPECT_EQ(decodeProblem<ChannelRole>(WirePacket::Kind::channelRole, Bytes{2, 0}), CodecProblem::invalidValue);
}

// Ping

TEST(Ping, EncodesTypeAndBigEndianTokenAndRoundTrips) {
    const Ping ping{.isPong = false, .token = 0x0102030405060708};
    EXPECT_EQ(ping.packet(), WirePacket(WirePacket::Kind::ping, Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(ping.pong(), (Ping{.isPong = true, .token = 0x0102030405060708}));
    EXPECT_EQ(ping.pong().packet().payload()[0], 1);
    for (const Ping value : {ping, ping.pong(), Ping{.isPong = true, .token = UINT64_MAX}, Ping{}}) {
        EXPECT_EQ(Ping::decode(value.packet()), value);
    }
}

TEST(Ping, RefusesUnknownTypesAndWrongLengths) {
    const WirePacket good = Ping{.isPong = true, .token = 42}.packet();
    expectRefusesOtherKinds<Ping>(good);
    expectEveryPrefixTruncatedAndTrailingRefused<Ping>(good);
    EXPECT_EQ(decodeProblem<Ping>(WirePacket::Kind::ping, Bytes{2, 0, 0, 0, 0, 0, 0, 0, 1}),
              CodecProblem::invalidValue);
}

// SessionEnd

SessionEnd ended(SessionEnd::Reason reason, std::string text = {}) {
    return {.reason = reason, .text = std::move(text)};
}

TEST(SessionEnd, EveryReasonRoundTripsWithItsByte) {
    const SessionEnd::Reason reasons[] = {SessionEnd::Reason::userStopped, SessionEnd::Reason::peerDisconnected,
                                          SessionEnd::Reason::offerExpired, SessionEnd::Reason::rejected,
                                          SessionEnd::Reason::hostDisconnected};
    std::uint8_t expectedByte = 2;
    for (const SessionEnd::Reason reason : reasons) {
        const SessionEnd end = ended(reason);
        EXPECT_EQ(end.packet(), WirePacket(WirePacket::Kind::endSession, Bytes{expectedByte++, 0, 0, 0, 0}));
        EXPECT_EQ(SessionEnd::decode(end.packet()), end) << nameOf(reason);
    }
    const SessionEnd failure = ended(SessionEnd::Reason::failed, "Encoder failed: é");
    EXPECT_EQ(failure.packet().payload(), (Bytes{1,   0,   0,   0,   18,  'E', 'n', 'c', 'o', 'd',  'e', 'r',
                                                 ' ', 'f', 'a', 'i', 'l', 'e', 'd', ':', ' ', 0xC3, 0xA9}));
    EXPECT_EQ(SessionEnd::decode(failure.packet()), failure);
    EXPECT_STREQ(nameOf(SessionEnd::Reason::failed), "failed");
    EXPECT_STREQ(nameOf(SessionEnd::Reason::hostDisconnected), "hostDisconnected");
}

TEST(SessionEnd, TextLimitCountsBytes) {
    std::string twoByteLetters;
    for (int i = 0; i < 256; ++i) twoByteLetters += "é";
    const SessionEnd longest = ended(SessionEnd::Reason::failed, twoByteLetters);
    ASSERT_EQ(longest.text.size(), 512u);
    EXPECT_EQ(SessionEnd::decode(longest.packet()), longest);

    const SessionEnd tooLong = ended(SessionEnd::Reason::failed, "a" + twoByteLetters);
    EXPECT_EQ(problemOf<SessionEnd::Error>([&] { (void)tooLong.packet(); }), CodecProblem::tooLong);
    ByteWriter wire;
    wire.u8(1);
    ASSERT_TRUE(wire.text(tooLong.text, 513));
    EXPECT_EQ(decodeProblem<SessionEnd>(WirePacket::Kind::endSession, wire.bytes()), CodecProblem::tooLong);
}

TEST(SessionEnd, OnlyAFailureCarriesTextAndItMust) {
    EXPECT_EQ(problemOf<SessionEnd::Error>([] { (void)ended(SessionEnd::Reason::failed).packet(); }),
              CodecProblem::invalidValue);
    EXPECT_EQ(problemOf<SessionEnd::Error>([] { (void)ended(SessionEnd::Reason::rejected, "no").packet(); }),
              CodecProblem::invalidValue);
    EXPECT_EQ(problemOf<SessionEnd::Error>([] { (void)ended(SessionEnd::Reason::failed, "\xC3").packet(); }),
              CodecProblem::invalidValue);
    EXPECT_EQ(problemOf<SessionEnd::Error>([] { (void)ended(static_cast<SessionEnd::Reason>(7)).packet(); }),
              CodecProblem::invalidValue);

    const auto kind = WirePacket::Kind::endSession;
    EXPECT_EQ(decodeProblem<SessionEnd>(kind, Bytes{1, 0, 0, 0, 0}), CodecProblem::invalidValue);
    EXPECT_EQ(decodeProblem<SessionEnd>(kind, Bytes{3, 0, 0, 0, 1, 'x'}), CodecProblem::invalidValue);
    EXPECT_EQ(decodeProblem<SessionEnd>(kind, Bytes{1, 0, 0, 0, 1, 0xFF}), CodecProblem::invalidValue);
    EXPECT_EQ(decodeProblem<SessionEnd>(kind, Bytes{0, 0, 0, 0, 0}), CodecProblem::invalidValue);
    EXPECT_EQ(decodeProblem<SessionEnd>(kind, Bytes{7, 0, 0, 0, 0}), CodecProblem::invalidValue);
}

TEST(SessionEnd, RefusesShortLongAndOtherPackets) {
    const WirePacket failure = ended(SessionEnd::Reason::failed, "no display").packet();
    expectRefusesOtherKinds<SessionEnd>(failure);
    expectEveryPrefixTruncatedAndTrailingRefused<SessionEnd>(failure);
    expectEveryPrefixTruncatedAndTrailingRefused<SessionEnd>(ended(SessionEnd::Reason::userStopped).packet());
}

// CursorUpdate

TEST(CursorUpdate, AcceptsFractionsAtTheirBoundsAndRoundTrips) {
    for (const double edge : {0.0, 1.0, -0.0, 0.5}) {
        const CursorUpdate update(7, edge, 1.0 - edge, 1, 4'294'967'295, true);
        EXPECT_EQ(update.x(), edge);
        const CursorUpdate decoded = CursorUpdate::decode(update.packet());
        EXPECT_EQ(decoded, update);
        EXPECT_EQ(std::signbit(decoded.x()), std::signbit(edge));
        EXPECT_EQ(decoded.packet(), update.packet());
    }
    const CursorUpdate hidden(UINT32_MAX, 0.25, 0.75, 2560, 1440, false);
    EXPECT_EQ(CursorUpdate::decode(hidden.packet()), hidden);
    EXPECT_NE(hidden, CursorUpdate(UINT32_MAX, 0.25, 0.75, 2560, 1440, true));
}

TEST(CursorUpdate, EncodesFieldsInOrderBigEndian) {
    const CursorUpdate update(0x01020304, 0.5, 1.0, 0x0A00, 0x0500, true);
    ByteWriter expected;
    expected.u32(0x01020304);
    expected.u64(std::bit_cast<std::uint64_t>(0.5));
    expected.u64(std::bit_cast<std::uint64_t>(1.0));
    expected.u32(0x0A00);
    expected.u32(0x0500);
    expected.u8(1);
    EXPECT_EQ(update.packet(), WirePacket(WirePacket::Kind::cursorUpdate, expected.bytes()));
}

TEST(CursorUpdate, ConstructorRefusesValuesOffTheDisplay) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    for (const double bad : {-0.0001, 1.0001, nan, infinity, -infinity}) {
        EXPECT_EQ(problemOf<CursorUpdate::Error>([&] { (void)CursorUpdate(1, bad, 0.5, 100, 100, true); }),
                  CodecProblem::invalidValue)
            << bad;
        EXPECT_EQ(problemOf<CursorUpdate::Error>([&] { (void)CursorUpdate(1, 0.5, bad, 100, 100, true); }),
                  CodecProblem::invalidValue)
            << bad;
    }
    for (const std::int64_t bad : {std::int64_t{0}, std::int64_t{-1}, std::int64_t{4'294'967'296}}) {
        EXPECT_EQ(problemOf<CursorUpdate::Error>([&] { (void)CursorUpdate(1, 0.5, 0.5, bad, 100, true); }),
                  CodecProblem::invalidValue)
            << bad;
        EXPECT_EQ(problemOf<CursorUpdate::Error>([&] { (void)CursorUpdate(1, 0.5, 0.5, 100, bad, true); }),
                  CodecProblem::invalidValue)
            << bad;
    }
}

Bytes cursorPayload(double x, double y, std::uint32_t width, std::uint32_t height, std::uint8_t visible) {
    ByteWriter writer;
    writer.u32(9);
    writer.u64(std::bit_cast<std::uint64_t>(x));
    writer.u64(std::bit_cast<std::uint64_t>(y));
    writer.u32(width);
    writer.u32(height);
    writer.u8(visible);
    return writer.take();
}

TEST(CursorUpdate, DecoderRefusesWhatTheConstructorRefuses) {
    const auto kind = WirePacket::Kind::cursorUpdate;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(decodeProblem<CursorUpdate>(kind, cursorPayload(0, 1, 1, 1, 1)), std::nullopt);
    EXPECT_EQ(decodeProblem<CursorUpdate>(kind, cursorPayload(-0.0001, 0.5, 10, 10, 1)), CodecProblem::invalidValue);
    EXPECT_EQ(decodeProblem<CursorUpdate>(kind, cursorPayload(0.5, 1.0001, 10, 10, 1)), CodecProblem::invalidValue);
    EXPECT_EQ(decodeProblem<CursorUpdate>(kind, cursorPayload(nan, 0.5, 10, 10, 1)), CodecProblem::invalidValue);
    EXPECT_EQ(decodeProblem<CursorUpdate>(kind, cursorPayload(0.5, 0.5, 0, 10, 1)), CodecProblem::invalidValue);
    EXPECT_EQ(decodeProblem<CursorUpdate>(kind, cursorPayload(0.5, 0.5, 10, 0, 1)), CodecProblem::invalidValue);
    EXPECT_EQ(decodeProblem<CursorUpdate>(kind, cursorPayload(0.5, 0.5, 10, 10, 2)), CodecProblem::invalidValue);

    const WirePacket good = CursorUpdate(3, 0.1, 0.9, 1920, 1080, true).packet();
    expectRefusesOtherKinds<CursorUpdate>(good);
    expectEveryPrefixTruncatedAndTrailingRefused<CursorUpdate>(good);
}

} // namespace
