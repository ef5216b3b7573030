#include "core/ByteReader.h"
#include "core/ByteWriter.h"
#include "core/Encoding.h"
#include "core/Sha256.h"
#include "tests/support/ProblemOf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using Testing::problemOf;
using namespace TessaloyCore;

TEST(ByteCoding, IntegersRoundTripBigEndian) {
    ByteWriter writer;
    writer.u8(0xAB);
    writer.u16(0x1234);
    writer.u32(0xDEADBEEF);
    writer.u64(0x0102030405060708);
    writer.i64(-2);
    ASSERT_TRUE(writer.f64(-0.25));
    writer.boolean(true);
    const Bytes bytes = writer.take();
    EXPECT_EQ(bytes[1], 0x12);
    EXPECT_EQ(bytes[3], 0xDE);

    ByteReader reader(bytes);
    EXPECT_EQ(reader.u8(), 0xAB);
    EXPECT_EQ(reader.u16(), 0x1234);
    EXPECT_EQ(reader.u32(), 0xDEADBEEF);
    EXPECT_EQ(reader.u64(), 0x0102030405060708u);
    EXPECT_EQ(reader.i64(), -2);
    EXPECT_EQ(reader.f64(), -0.25);
    EXPECT_TRUE(reader.boolean());
    EXPECT_NO_THROW(reader.expectEnd());
}

TEST(ByteCoding, ReaderRefusesWhatIsNotThere) {
    const Bytes three{1, 2, 3};
    EXPECT_EQ(problemOf<CodecError<ByteReader>>([&] { ByteReader(three).u32(); }), CodecProblem::truncated);
    EXPECT_EQ(problemOf<CodecError<ByteReader>>([&] { ByteReader(Bytes{2}).boolean(); }), CodecProblem::invalidValue);
    EXPECT_EQ(problemOf<CodecError<ByteReader>>([&] { ByteReader(three).expectEnd(); }), CodecProblem::trailingBytes);
    EXPECT_EQ(problemOf<CodecError<ByteReader>>([&] {
                  ByteReader(Bytes{0, 0, 0, 9, 'a'}).text(100);
              }),
              CodecProblem::truncated);
    EXPECT_EQ(problemOf<CodecError<ByteReader>>([&] { ByteReader(Bytes{3}).count(2); }), CodecProblem::tooLong);
}

TEST(ByteCoding, DoublesMustBeFinite) {
    for (const double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
        ByteWriter writer;
        EXPECT_FALSE(writer.f64(bad));
        EXPECT_TRUE(writer.bytes().empty());
        ByteWriter raw;
        raw.u64(std::bit_cast<std::uint64_t>(bad));
        EXPECT_EQ(problemOf<CodecError<ByteReader>>([&] { ByteReader(raw.bytes()).f64(); }),
                  CodecProblem::invalidValue);
    }
}

TEST(ByteCoding, TextsAreValidUtf8WithinTheirLimit) {
    ByteWriter writer;
    ASSERT_TRUE(writer.text("héllo", 6));
    EXPECT_FALSE(writer.text("héllo", 5));
    ASSERT_TRUE(writer.textOfCharacters("héllo", 5));
    EXPECT_FALSE(writer.text("\xC3", 10));
    ByteReader reader(writer.bytes());
    EXPECT_EQ(reader.text(6), "héllo");
    EXPECT_EQ(problemOf<CodecError<ByteReader>>([&] { ByteReader(writer.bytes()).text(5); }), CodecProblem::tooLong);
    EXPECT_EQ(reader.textOfCharacters(5), "héllo");

    for (const std::string bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\xFF"}) {
        EXPECT_FALSE(isValidUtf8(bad)) << bad;
        ByteWriter raw;
        raw.u32(static_cast<std::uint32_t>(bad.size()));
        raw.fixed({reinterpret_cast<const std::uint8_t*>(bad.data()), bad.size()});
        EXPECT_EQ(problemOf<CodecError<ByteReader>>([&] { ByteReader(raw.bytes()).text(64); }),
                  CodecProblem::invalidValue);
    }
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x98\x80"));
    EXPECT_EQ(scalarCount("a\xF0\x9F\x98\x80é"), 3u);
}

TEST(Encoding, HexAndBase64) {
    const Bytes bytes{0x00, 0x0f, 0xab, 0xff};
    EXPECT_EQ(hexBytes(bytes), (std::vector<std::string>{"00", "0f", "ab", "ff"}));
    EXPECT_EQ(hexString(bytes), "000fabff");
    EXPECT_EQ(base64(Bytes{'f', 'o', 'o', 'b'}), "Zm9vYg==");
    EXPECT_EQ(base64Url(Bytes{0xfb, 0xff}), "-_8");
    EXPECT_EQ(decodeBase64("Zm9vYg=="), (Bytes{'f', 'o', 'o', 'b'}));
    EXPECT_EQ(decodeBase64("-_8"), (Bytes{0xfb, 0xff}));
    EXPECT_EQ(decodeBase64("Zm9vYh=="), std::nullopt);
    EXPECT_EQ(decodeBase64("Zm9v!"), std::nullopt);
    EXPECT_EQ(decodeBase64("Z"), std::nullopt);
}

TEST(Sha256, MatchesTheKnownDigestAndContinuesAfterADigest) {
    const std::string abc = "abc";
    const ByteView view(reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size());
    EXPECT_EQ(hexString(Sha256::of(view)), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    Sha256 running;
    running.update(view.first(1));
    Sha256 copy = running;
    (void)running.digest();
    running.update(view.subspan(1));
    copy.update(view.subspan(1));
    EXPECT_EQ(running.digest(), Sha256::of(view));
    EXPECT_EQ(copy.digest(), Sha256::of(view));
}

} // namespace
