#include "media/AnnexB.h"

#include <gtest/gtest.h>

namespace {

using namespace TessaloyMedia;
using TessaloyCore::Bytes;
using TessaloyCore::ByteView;
using TessaloyCore::VideoCodec;

std::vector<Bytes> split(const Bytes& stream) {
    std::vector<Bytes> units;
    for (const ByteView unit : splitAnnexB(stream)) units.emplace_back(unit.begin(), unit.end());
    return units;
}

TEST(AnnexB, SplitsOnThreeAndFourByteStartCodes) {
    const Bytes stream{0, 0, 0, 1, 0x67, 1, 2, 0, 0, 1, 0x68, 3, 0, 0, 0, 1, 0x65, 4, 5, 6};
    EXPECT_EQ(split(stream), (std::vector<Bytes>{{0x67, 1, 2}, {0x68, 3}, {0x65, 4, 5, 6}}));
}

TEST(AnnexB, DropsTrailingZerosLeadingBytesAndEmptyUnits) {
    const Bytes stream{9, 9, 0, 0, 1, 0x67, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0x68, 0, 3, 0, 0};
    EXPECT_EQ(split(stream), (std::vector<Bytes>{{0x67}, {0x68, 0, 3}}));
}

TEST(AnnexB, NothingWithoutAStartCode) {
    EXPECT_TRUE(split({}).empty());
    EXPECT_TRUE(split({0, 0}).empty());
    EXPECT_TRUE(split({0x67, 1, 2, 3}).empty());
    EXPECT_TRUE(split({0, 0, 1}).empty());
    EXPECT_EQ(split({0, 0, 1, 0x41}), (std::vector<Bytes>{{0x41}}));
}

TEST(AnnexB, AppendedUnitsSplitBackUnchanged) {
    const std::vector<Bytes> units{{0x40, 1}, {0x42, 0, 0, 3, 1}, {0x26, 0xFF}};
    Bytes stream;
    for (const Bytes& unit : units) appendAnnexB(stream, unit);
    EXPECT_EQ(stream.size(), 4 * 3 + 2 + 5 + 2u);
    EXPECT_EQ(split(stream), units);
}

TEST(AnnexB, RolesOfH264Units) {
    const auto role = [](std::uint8_t header) { return nalUnitRole(VideoCodec::h264, Bytes{header, 0x80}); };
    EXPECT_EQ(role(0x67), NalUnitRole::parameterSet);    // SPS
    EXPECT_EQ(role(0x68), NalUnitRole::parameterSet);    // PPS
    EXPECT_EQ(role(0x06), NalUnitRole::discardable);     // SEI
    EXPECT_EQ(role(0x09), NalUnitRole::discardable);     // AUD
    EXPECT_EQ(role(0x65), NalUnitRole::keyframePicture); // IDR
    EXPECT_EQ(role(0x41), NalUnitRole::picture);
    EXPECT_EQ(nalUnitRole(VideoCodec::h264, Bytes{}), NalUnitRole::picture);
    EXPECT_EQ(parameterSetIndex(VideoCodec::h264, Bytes{0x68}), 1u);
}

TEST(AnnexB, RolesOfHevcUnits) {
    const auto role = [](int type) {
        return nalUnitRole(VideoCodec::hevc, Bytes{static_cast<std::uint8_t>(type << 1), 1});
    };
    EXPECT_EQ(role(32), NalUnitRole::parameterSet); // VPS
    EXPECT_EQ(role(34), NalUnitRole::parameterSet); // PPS
    EXPECT_EQ(role(35), NalUnitRole::discardable);  // AUD
    EXPECT_EQ(role(40), NalUnitRole::discardable);  // suffix SEI
    // The random-access pictures are types 16 to 23.
    EXPECT_EQ(role(15), NalUnitRole::picture);
    EXPECT_EQ(role(16), NalUnitRole::keyframePicture);
    EXPECT_EQ(role(23), NalUnitRole::keyframePicture);
    EXPECT_EQ(role(24), NalUnitRole::picture);
    EXPECT_EQ(parameterSetIndex(VideoCodec::hevc, Bytes{33 << 1}), 1u);
}

} // namespace
