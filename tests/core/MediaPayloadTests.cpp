#include "core/AudioPacket.h"
#include "core/VideoConfiguration.h"
#include "core/VideoFrame.h"

#include "tests/core/CodecTesting.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace TessaloyCore;
using namespace CodecTesting;

// VideoConfiguration

VideoConfiguration configuration(VideoCodec codec, std::vector<Bytes> sets) {
    return {.codec = codec, .streamGeneration = 0x0A0B0C0D, .width = 1920, .height = 1080, .parameterSets = sets};
}

TEST(VideoConfiguration, EncodesFieldsInOrderAndRoundTrips) {
    const VideoConfiguration h264 = configuration(VideoCodec::h264, {{0x67, 0x42}, {0x68}});
    EXPECT_EQ(h264.packet().payload(), (Bytes{1, 0x0A, 0x0B, 0x0C, 0x0D, 0,    0,    0x07, 0x80, 0, 0, 0x04, 0x38,
                                              2, 0,    0,    0,    2,    0x67, 0x42, 0,    0,    0, 1, 0x68}));
    EXPECT_EQ(VideoConfiguration::decode(h264.packet()), h264);
    const VideoConfiguration hevc = configuration(VideoCodec::hevc, {pattern(24), pattern(40, 2), pattern(8, 3)});
    EXPECT_EQ(VideoConfiguration::decode(hevc.packet()), hevc);
    EXPECT_EQ(VideoConfiguration::decode(configuration(VideoCodec::h264, {}).packet()),
              configuration(VideoCodec::h264, {}));
}

TEST(VideoConfiguration, HoldsAtMostThreeParameterSets) {
    const VideoConfiguration three = configuration(VideoCodec::hevc, {{1}, {2}, {3}});
    EXPECT_EQ(VideoConfiguration::decode(three.packet()), three);
    const VideoConfiguration four = configuration(VideoCodec::hevc, {{1}, {2}, {3}, {4}});
    EXPECT_EQ(problemOf<VideoConfiguration::Error>([&] { (void)four.packet(); }), CodecProblem::tooLong);

    Bytes wire = three.packet().payload();
    wire[13] = 4;
    for (const std::uint8_t extra : {0, 0, 0, 1, 4}) wire.push_back(extra);
    EXPECT_EQ(decodeProblem<VideoConfiguration>(WirePacket::Kind::videoConfiguration, wire), CodecProblem::tooLong);
}

TEST(VideoConfiguration, ParameterSetsHoldAtMost65536Bytes) {
    const VideoConfiguration largest = configuration(VideoCodec::h264, {pattern(65'536), {1}});
    EXPECT_EQ(VideoConfiguration::decode(largest.packet()), largest);
    const VideoConfiguration over = configuration(VideoCodec::h264, {pattern(65'537), {1}});
    EXPECT_EQ(problemOf<VideoConfiguration::Error>([&] { (void)over.packet(); }), CodecProblem::tooLong);

    ByteWriter wire;
    wire.u8(1);
    wire.u32(1);
    wire.u32(640);
    wire.u32(480);
    wire.u8(1);
    ASSERT_TRUE(wire.bytes(pattern(65'537), 65'537));
    EXPECT_EQ(decodeProblem<VideoConfiguration>(WirePacket::Kind::videoConfiguration, wire.bytes()),
              CodecProblem::tooLong);
}

TEST(VideoConfiguration, RefusesUnknownCodecsShortLongAndOtherPackets) {
    const WirePacket good = configuration(VideoCodec::hevc, {{1, 2}, {3}, {4, 5, 6}}).packet();
    for (const std::uint8_t codec : {0, 3, 0xFF}) {
        Bytes wire = good.payload();
        wire[0] = codec;
        EXPECT_EQ(decodeProblem<VideoConfiguration>(good.kind(), wire), CodecProblem::invalidValue) << int{codec};
    }
    expectRefusesOtherKinds<VideoConfiguration>(good);
    expectEveryPrefixTruncatedAndTrailingRefused<VideoConfiguration>(good);
}

// VideoFrame

VideoFrame frame(bool isKeyframe, bool isRefinement, std::vector<Bytes> units) {
    return {.streamGeneration = 5,
            .isKeyframe = isKeyframe,
            .isRefinement = isRefinement,
            .presentationMicroseconds = 0x0102030405060708,
            .nalUnits = std::move(units)};
}

TEST(VideoFrame, FlagsTravelAsBitsAndRoundTrip) {
    const struct {
        bool isKeyframe;
        bool isRefinement;
        std::uint8_t flags;
    } cases[] = {{false, false, 0}, {true, false, 1}, {false, true, 2}, {true, true, 3}};
    for (const auto& c : cases) {
        const VideoFrame value = frame(c.isKeyframe, c.isRefinement, {{0x65, 0x88}, pattern(300)});
        const WirePacket packet = value.packet();
        EXPECT_EQ(packet.payload()[4], c.flags);
        EXPECT_EQ(VideoFrame::decode(packet), value);
    }
    EXPECT_EQ(frame(true, false, {{9, 8, 7}}).packet().payload(),
              (Bytes{0, 0, 0, 5, 1, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 3, 9, 8, 7}));
    EXPECT_EQ(VideoFrame::decode(frame(false, false, {}).packet()), frame(false, false, {}));
}

TEST(VideoFrame, UnknownFlagBitsAreInvalid) {
    const WirePacket good = frame(true, true, {{1}}).packet();
    for (const std::uint8_t flags : {4, 7, 0x80}) {
        Bytes wire = good.payload();
        wire[4] = flags;
        EXPECT_EQ(decodeProblem<VideoFrame>(good.kind(), wire), CodecProblem::invalidValue) << int{flags};
    }
}

TEST(VideoFrame, EmptyNalUnitsAreRefusedBothWays) {
    EXPECT_EQ(problemOf<VideoFrame::Error>([] {
                  (void)frame(true, false, {{1}, {}}).packet();
              }),
              CodecProblem::invalidValue);
    const std::vector<ByteView> views{ByteView(), ByteView()};
    EXPECT_EQ(problemOf<VideoFrame::Error>([&] { (void)VideoFrame::packet(1, true, false, 0, views); }),
              CodecProblem::invalidValue);

    Bytes wire = frame(true, false, {{1}}).packet().payload();
    for (const std::uint8_t zero : {0, 0, 0, 0}) wire.push_back(zero);
    EXPECT_EQ(decodeProblem<VideoFrame>(WirePacket::Kind::videoFrame, wire), CodecProblem::invalidValue);
}

TEST(VideoFrame, NalLengthRunningPastTheEndIsTruncated) {
    Bytes wire = frame(false, false, {{1, 2, 3}}).packet().payload();
    wire[16] = 4;
    EXPECT_EQ(decodeProblem<VideoFrame>(WirePacket::Kind::videoFrame, wire), CodecProblem::truncated);
    wire[13] = 0x80;
    EXPECT_EQ(decodeProblem<VideoFrame>(WirePacket::Kind::videoFrame, wire), CodecProblem::truncated);
}

TEST(VideoFrame, EveryPrefixIsTruncatedOrEndsAtAUnit) {
    const VideoFrame value = frame(true, false, {{1, 2}, {3}, pattern(20)});
    const Bytes payload = value.packet().payload();
    const std::size_t unitEnds[] = {13, 13 + 6, 13 + 6 + 5};
    std::size_t units = 0;
    for (std::size_t count = 0; count < payload.size(); ++count) {
        const WirePacket cut(WirePacket::Kind::videoFrame, prefix(payload, count));
        if (units < 3 && count == unitEnds[units]) {
            VideoFrame expected = value;
            expected.nalUnits.resize(units++);
            EXPECT_EQ(VideoFrame::decode(cut), expected) << count;
        } else {
            EXPECT_EQ(decodeProblem<VideoFrame>(cut), CodecProblem::truncated) << count;
        }
    }
    expectRefusesOtherKinds<VideoFrame>(value.packet());
}

TEST(VideoFrame, ViewsBuildTheSamePacketUpToTheLimit) {
    const Bytes first = pattern(100);
    const Bytes second = pattern(5, 9);
    const std::vector<ByteView> views{first, second};
    EXPECT_EQ(VideoFrame::packet(5, true, true, 0x0102030405060708, views),
              frame(true, true, {first, second}).packet());

    const Bytes largest = pattern(WirePacket::maximumPayloadBytes - 13 - 4);
    const std::vector<ByteView> fits{largest};
    EXPECT_EQ(VideoFrame::packet(1, true, false, 0, fits).payload().size(), WirePacket::maximumPayloadBytes);
    const Bytes one{1};
    const std::vector<ByteView> over{largest, one};
    EXPECT_EQ(problemOf<WireError>([&] { (void)VideoFrame::packet(1, true, false, 0, over); }),
              WireErrorCase::payloadTooLarge);
}

// AudioPacket

AudioPacket audio(std::uint8_t channels, std::vector<Bytes> frames) {
    return {.sequence = 77, .sampleRate = 48'000, .channels = channels, .frames = std::move(frames)};
}

TEST(AudioPacket, EncodesFieldsInOrderAndRoundTrips) {
    EXPECT_EQ(audio(2, {{0x21, 0x10}}).packet().payload(),
              (Bytes{0, 0, 0, 77, 0, 0, 0xBB, 0x80, 2, 1, 0, 0, 0, 2, 0x21, 0x10}));
    for (const std::uint8_t channels : {1, 2}) {
        const AudioPacket value = audio(channels, {pattern(200), pattern(1), pattern(371, 5)});
        EXPECT_EQ(AudioPacket::decode(value.packet()), value);
    }
    EXPECT_EQ(AudioPacket::decode(audio(1, {}).packet()), audio(1, {}));
}

TEST(AudioPacket, ChannelsAreOneOrTwo) {
    const Bytes good = audio(1, {{1}}).packet().payload();
    for (const std::uint8_t channels : {0, 3}) {
        EXPECT_EQ(problemOf<AudioPacket::Error>([&] { (void)audio(channels, {{1}}).packet(); }),
                  CodecProblem::invalidValue);
        Bytes wire = good;
        wire[8] = channels;
        EXPECT_EQ(decodeProblem<AudioPacket>(WirePacket::Kind::audio, wire), CodecProblem::invalidValue);
    }
}

TEST(AudioPacket, HoldsAtMostSixteenFramesOfAtMost8192Bytes) {
    const AudioPacket sixteen = audio(2, std::vector<Bytes>(16, Bytes{1, 2}));
    EXPECT_EQ(AudioPacket::decode(sixteen.packet()), sixteen);
    const AudioPacket seventeen = audio(2, std::vector<Bytes>(17, Bytes{1, 2}));
    EXPECT_EQ(problemOf<AudioPacket::Error>([&] { (void)seventeen.packet(); }), CodecProblem::tooLong);
    Bytes wire = sixteen.packet().payload();
    wire[9] = 17;
    for (const std::uint8_t byte : {0, 0, 0, 2, 1, 2}) wire.push_back(byte);
    EXPECT_EQ(decodeProblem<AudioPacket>(WirePacket::Kind::audio, wire), CodecProblem::tooLong);

    const AudioPacket largest = audio(1, {pattern(8'192)});
    EXPECT_EQ(AudioPacket::decode(largest.packet()), largest);
    EXPECT_EQ(problemOf<AudioPacket::Error>([] { (void)audio(1, {pattern(8'193)}).packet(); }), CodecProblem::tooLong);
    ByteWriter over;
    over.u32(1);
    over.u32(24'000);
    over.u8(1);
    over.u8(1);
    ASSERT_TRUE(over.bytes(pattern(8'193), 8'193));
    EXPECT_EQ(decodeProblem<AudioPacket>(WirePacket::Kind::audio, over.bytes()), CodecProblem::tooLong);
}

TEST(AudioPacket, EmptyFramesAreRefusedBothWays) {
    EXPECT_EQ(problemOf<AudioPacket::Error>([] { (void)audio(2, {{1}, {}}).packet(); }), CodecProblem::invalidValue);
    EXPECT_EQ(
        decodeProblem<AudioPacket>(WirePacket::Kind::audio, Bytes{0, 0, 0, 1, 0, 0, 0x5D, 0xC0, 1, 1, 0, 0, 0, 0}),
        CodecProblem::invalidValue);
}

TEST(AudioPacket, RefusesShortLongAndOtherPackets) {
    const WirePacket good = audio(2, {{1, 2, 3}, {4}}).packet();
    expectRefusesOtherKinds<AudioPacket>(good);
    expectEveryPrefixTruncatedAndTrailingRefused<AudioPacket>(good);
}

} // namespace
