#include "core/ByteWriter.h"
#include "net/channel/P256PrivateKey.h"
#include "net/channel/PairingExchange.h"
#include "tests/support/ProblemOf.h"

#include <gtest/gtest.h>

namespace {

using TessaloyCore::Bytes;
using TessaloyCore::CodecProblem;
using TessaloyCore::WirePacket;
using TessaloyNet::P256PrivateKey;
using TessaloyNet::PairingExchange;
using Testing::problemOf;

Bytes newKey() { return P256PrivateKey::generate().publicKey().x963Representation(); }

Bytes payload(const Bytes& key, std::string_view name) {
    TessaloyCore::ByteWriter writer;
    writer.fixed(key);
    writer.u32(static_cast<std::uint32_t>(name.size()));
    writer.fixed({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()});
    return writer.take();
}

WirePacket exchangePacket(Bytes bytes) { return WirePacket(WirePacket::Kind::pairingExchange, std::move(bytes)); }

TEST(PairingExchange, EncodesKeyThenName) {
    const Bytes key = newKey();
    const PairingExchange exchange(key, "Studio");
    const WirePacket packet = exchange.packet();
    EXPECT_EQ(packet.kind(), WirePacket::Kind::pairingExchange);
    EXPECT_EQ(packet.payload(), payload(key, "Studio"));
    EXPECT_EQ(PairingExchange::decode(packet), exchange);
}

TEST(PairingExchange, NamesMayHoldSixtyFourBytes) {
    const Bytes key = newKey();
    const std::string longest = std::string(60, 'a') + "名a"; // 64 bytes, 62 characters
    ASSERT_EQ(longest.size(), 64u);
    EXPECT_EQ(PairingExchange::decode(PairingExchange(key, longest).packet()).name(), longest);
    EXPECT_EQ(PairingExchange(key, "").name(), "");

    EXPECT_EQ(problemOf<PairingExchange::Error>([&] { PairingExchange(key, longest + "a"); }), CodecProblem::tooLong);
    std::string wide;
    for (int i = 0; i < 22; ++i) wide += "名"; // 22 characters, 66 bytes: the limit counts bytes
    EXPECT_EQ(problemOf<PairingExchange::Error>([&] { PairingExchange(key, wide); }), CodecProblem::tooLong);
    EXPECT_EQ(problemOf<PairingExchange::Error>(
                  [&] { PairingExchange::decode(exchangePacket(payload(key, longest + "a"))); }),
              CodecProblem::tooLong);
    EXPECT_EQ(problemOf<PairingExchange::Error>([&] { PairingExchange(key, "\xE5\x90"); }), CodecProblem::invalidValue);
    EXPECT_EQ(problemOf<PairingExchange::Error>(
                  [&] { PairingExchange::decode(exchangePacket(payload(key, "\xED\xA0\x80"))); }),
              CodecProblem::invalidValue);
}

TEST(PairingExchange, RefusesKeysThatAreNotPointsOfTheCurve) {
    const Bytes key = newKey();
    Bytes offCurve = key;
    offCurve.at(offCurve.size() - 1) ^= 0x01;
    Bytes compressedPrefix = key;
    compressedPrefix[0] = 0x02;
    for (const Bytes& bad : {offCurve, compressedPrefix, Bytes(65, 0), Bytes(key.begin(), key.end() - 1), Bytes{}}) {
        EXPECT_EQ(problemOf<PairingExchange::Error>([&] { PairingExchange(bad, "Phone"); }), CodecProblem::invalidValue)
            << bad.size();
    }
    for (const Bytes& bad : {offCurve, compressedPrefix, Bytes(65, 0)}) {
        EXPECT_EQ(
            problemOf<PairingExchange::Error>([&] { PairingExchange::decode(exchangePacket(payload(bad, "Phone"))); }),
            CodecProblem::invalidValue);
    }
}

TEST(PairingExchange, DecodingRefusesOtherKindsTruncationAndTrailingBytes) {
    const Bytes good = payload(newKey(), "Anna’s iPhone");
    EXPECT_EQ(problemOf<PairingExchange::Error>(
                  [&] { PairingExchange::decode(WirePacket(WirePacket::Kind::session, good)); }),
              CodecProblem::wrongKind);
    for (std::size_t length = 0; length < good.size(); ++length) {
        EXPECT_EQ(problemOf<PairingExchange::Error>(
                      [&] { PairingExchange::decode(exchangePacket(Bytes(good.begin(), good.begin() + length))); }),
                  CodecProblem::truncated)
            << length;
    }
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_EQ(problemOf<PairingExchange::Error>([&] { PairingExchange::decode(exchangePacket(longer)); }),
              CodecProblem::trailingBytes);
    EXPECT_NO_THROW(PairingExchange::decode(exchangePacket(good)));
}

} // namespace
