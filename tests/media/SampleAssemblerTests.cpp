#include "media/MediaError.h"
#include "media/SampleAssembler.h"
#include "tests/support/ProblemOf.h"

#include <gtest/gtest.h>

namespace {

using namespace TessaloyMedia;
using TessaloyCore::Bytes;
using TessaloyCore::VideoCodec;
using TessaloyCore::VideoConfiguration;
using TessaloyCore::VideoFrame;
using Testing::problemOf;

VideoConfiguration h264Configuration(std::uint32_t generation) {
    return {VideoCodec::h264, generation, 64, 48, {{0x67, 0x42, 0x00}, {0x68, 0xCE}}};
}

VideoFrame frame(std::uint32_t generation, bool isKeyframe, std::vector<Bytes> units = {{0x41, 0x9A}}) {
    VideoFrame value;
    value.streamGeneration = generation;
    value.isKeyframe = isKeyframe;
    value.presentationMicroseconds = 1'234;
    value.nalUnits = std::move(units);
    return value;
}

SampleAssembler::Drop dropOf(const SampleAssembler::Result& result) {
    EXPECT_TRUE(std::holds_alternative<SampleAssembler::Drop>(result));
    return std::holds_alternative<SampleAssembler::Drop>(result) ? std::get<SampleAssembler::Drop>(result)
                                                                 : SampleAssembler::Drop::empty;
}

TEST(SampleAssembler, DropsEverythingBeforeAConfiguration) {
    SampleAssembler assembler;
    EXPECT_EQ(dropOf(assembler.assemble(frame(1, true))), SampleAssembler::Drop::noConfiguration);
    EXPECT_FALSE(assembler.configuration().has_value());
}

TEST(SampleAssembler, KeyframesCarryTheParameterSets) {
    SampleAssembler assembler;
    assembler.configure(h264Configuration(3));
    EXPECT_EQ(dropOf(assembler.assemble(frame(3, false))), SampleAssembler::Drop::awaitingKeyframe);

    auto result = assembler.assemble(frame(3, true, {{0x65, 0x88, 0x80}}));
    ASSERT_TRUE(std::holds_alternative<SampleAssembler::AccessUnit>(result));
    const auto& keyframe = std::get<SampleAssembler::AccessUnit>(result);
    EXPECT_TRUE(keyframe.isKeyframe);
    EXPECT_EQ(keyframe.streamGeneration, 3u);
    EXPECT_EQ(keyframe.presentationMicroseconds, 1'234u);
    EXPECT_EQ(keyframe.annexB,
              (Bytes{0, 0, 0, 1, 0x67, 0x42, 0x00, 0, 0, 0, 1, 0x68, 0xCE, 0, 0, 0, 1, 0x65, 0x88, 0x80}));

    auto next = frame(3, false, {{0x41, 1}, {0x41, 2}});
    next.isRefinement = true;
    result = assembler.assemble(next);
    ASSERT_TRUE(std::holds_alternative<SampleAssembler::AccessUnit>(result));
    const auto& following = std::get<SampleAssembler::AccessUnit>(result);
    EXPECT_FALSE(following.isKeyframe);
    EXPECT_TRUE(following.isRefinement);
    EXPECT_EQ(following.annexB, (Bytes{0, 0, 0, 1, 0x41, 1, 0, 0, 0, 1, 0x41, 2}));
}

TEST(SampleAssembler, FollowsTheGeneration) {
    SampleAssembler assembler;
    assembler.configure(h264Configuration(3));
    ASSERT_TRUE(std::holds_alternative<SampleAssembler::AccessUnit>(assembler.assemble(frame(3, true))));
    EXPECT_EQ(dropOf(assembler.assemble(frame(2, false))), SampleAssembler::Drop::otherGeneration);
    EXPECT_EQ(dropOf(assembler.assemble(frame(4, true))), SampleAssembler::Drop::otherGeneration);

    assembler.configure(h264Configuration(4));
    EXPECT_EQ(dropOf(assembler.assemble(frame(3, false))), SampleAssembler::Drop::otherGeneration);
    EXPECT_EQ(dropOf(assembler.assemble(frame(4, false))), SampleAssembler::Drop::awaitingKeyframe);
    EXPECT_TRUE(std::holds_alternative<SampleAssembler::AccessUnit>(assembler.assemble(frame(4, true))));
}

TEST(SampleAssembler, TheSameConfigurationAgainChangesNothing) {
    SampleAssembler assembler;
    assembler.configure(h264Configuration(3));
    ASSERT_TRUE(std::holds_alternative<SampleAssembler::AccessUnit>(assembler.assemble(frame(3, true))));
    assembler.configure(h264Configuration(3));
    EXPECT_TRUE(std::holds_alternative<SampleAssembler::AccessUnit>(assembler.assemble(frame(3, false))));

    auto changed = h264Configuration(3);
    changed.parameterSets[1] = {0x68, 0xCF};
    assembler.configure(changed);
    EXPECT_EQ(dropOf(assembler.assemble(frame(3, false))), SampleAssembler::Drop::awaitingKeyframe);
}

TEST(SampleAssembler, RefusesConfigurationsWithoutTheirParameterSets) {
    const auto refuses = [](const VideoConfiguration& configuration) {
        SampleAssembler assembler;
        assembler.configure(h264Configuration(1));
        EXPECT_EQ(problemOf<MediaError>([&] { assembler.configure(configuration); }), MediaProblem::invalidInput);
        EXPECT_FALSE(assembler.configuration().has_value());
        EXPECT_EQ(dropOf(assembler.assemble(frame(1, true))), SampleAssembler::Drop::noConfiguration);
    };
    auto configuration = h264Configuration(2);
    configuration.parameterSets.pop_back();
    refuses(configuration);
    configuration = h264Configuration(2);
    std::swap(configuration.parameterSets[0], configuration.parameterSets[1]);
    refuses(configuration);
    configuration = h264Configuration(2);
    configuration.parameterSets[1].clear();
    refuses(configuration);
    configuration = h264Configuration(2);
    configuration.codec = VideoCodec::hevc; // two H.264 sets are not the three of HEVC
    refuses(configuration);
}

TEST(SampleAssembler, HevcHasThreeParameterSets) {
    SampleAssembler assembler;
    assembler.configure({VideoCodec::hevc, 9, 64, 48, {{0x40, 1}, {0x42, 1}, {0x44, 1}}});
    const auto result = assembler.assemble(frame(9, true, {{0x26, 1, 0xAF}}));
    ASSERT_TRUE(std::holds_alternative<SampleAssembler::AccessUnit>(result));
    const auto& unit = std::get<SampleAssembler::AccessUnit>(result);
    EXPECT_EQ(unit.codec, VideoCodec::hevc);
    EXPECT_EQ(unit.annexB,
              (Bytes{0, 0, 0, 1, 0x40, 1, 0, 0, 0, 1, 0x42, 1, 0, 0, 0, 1, 0x44, 1, 0, 0, 0, 1, 0x26, 1, 0xAF}));
}

TEST(SampleAssembler, FramesWithoutUnitsAreDropped) {
    SampleAssembler assembler;
    assembler.configure(h264Configuration(1));
    EXPECT_EQ(dropOf(assembler.assemble(frame(1, true, {}))), SampleAssembler::Drop::empty);
    EXPECT_STREQ(nameOf(SampleAssembler::Drop::otherGeneration), "otherGeneration");
}

} // namespace
