#include "media/AnnexB.h"
#include "media/MediaError.h"
#include "media/SampleAssembler.h"
#include "media/VideoDecoder.h"
#include "media/VideoEncoder.h"
#include "tests/media/TestPictures.h"
#include "tests/support/ProblemOf.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <tuple>

namespace {

using namespace TessaloyMedia;
using namespace MediaTesting;
using TessaloyCore::VideoCodec;
using TessaloyCore::VideoConfiguration;
using TessaloyCore::VideoFrame;
using Testing::problemOf;

constexpr std::uint64_t frameMicroseconds = 33'333;

VideoEncoder::Settings settingsFor(VideoCodec codec, int width, int height) {
    VideoEncoder::Settings settings;
    settings.codec = codec;
    settings.width = width;
    settings.height = height;
    settings.framesPerSecond = 30;
    settings.bitrate = 6'000'000;
    settings.keyframeIntervalSeconds = 10;
    settings.streamGeneration = 7;
    return settings;
}

std::vector<VideoEncoder::Output> concatenated(std::vector<VideoEncoder::Output> first,
                                               std::vector<VideoEncoder::Output> second) {
    for (auto& output : second) first.push_back(std::move(output));
    return first;
}

// Encodes `count` pictures (animated when asked) and then drains the encoder.
std::vector<VideoEncoder::Output> encodeAll(VideoEncoder& encoder, TestPicture& picture, int count,
                                            bool animate = false) {
    std::vector<VideoEncoder::Output> outputs;
    for (int i = 0; i < count; ++i) {
        if (animate) picture.animate(i);
        outputs = concatenated(std::move(outputs), encoder.encode(picture.view(), i * frameMicroseconds, false));
    }
    return concatenated(std::move(outputs), encoder.flush());
}

const VideoEncoder::EncodedFrame& frameAt(const std::vector<VideoEncoder::Output>& outputs, std::size_t index) {
    return std::get<VideoEncoder::EncodedFrame>(outputs.at(index));
}

std::vector<VideoFrame> framesOf(const std::vector<VideoEncoder::Output>& outputs) {
    std::vector<VideoFrame> frames;
    for (const auto& output : outputs) {
        if (const auto* frame = std::get_if<VideoEncoder::EncodedFrame>(&output)) {
            frames.push_back(VideoFrame::decode(frame->packet));
        }
    }
    return frames;
}

std::vector<VideoConfiguration> configurationsOf(const std::vector<VideoEncoder::Output>& outputs) {
    std::vector<VideoConfiguration> configurations;
    for (const auto& output : outputs) {
        if (const auto* configuration = std::get_if<VideoConfiguration>(&output)) {
            configurations.push_back(*configuration);
        }
    }
    return configurations;
}

TEST(VideoEncoderBackend, FallsBackToSoftwareAndSaysWhy) {
    Testing::TemporaryDirectory directory;
    auto settings = settingsFor(VideoCodec::h264, 320, 240);
    settings.renderNode = (directory.path() / "renderD128").string();
    const VideoEncoder encoder(settings);
    EXPECT_FALSE(encoder.usesHardware());
    EXPECT_EQ(encoder.encoderName(), "libx264");
    EXPECT_EQ(encoder.backendDescription(),
              "software encoder libx264 (VAAPI: no render node at " + settings.renderNode + ")");
}

// The probe never counts a software encoder as hardware.
TEST(VideoEncoderBackend, AHardwareProbeWithoutTheNodeSaysWhy) {
    const std::string missing = Testing::TemporaryDirectory().path() / "renderD128";
    for (const VideoCodec codec : {VideoCodec::h264, VideoCodec::hevc}) {
        EXPECT_EQ(VideoEncoder::hardwareProblem(codec, missing), "no render node at " + missing);
    }
}

TEST(VideoEncoderBackend, WithoutVaapiTheSoftwareEncodersRun) {
    if (std::filesystem::exists(VideoEncoder::Settings{}.renderNode)) GTEST_SKIP() << "this machine has VAAPI";
    const VideoEncoder h264(settingsFor(VideoCodec::h264, 320, 240));
    EXPECT_FALSE(h264.usesHardware());
    EXPECT_EQ(h264.backendDescription().rfind("software encoder libx264 (VAAPI: ", 0), 0u) << h264.backendDescription();
    auto settings = settingsFor(VideoCodec::hevc, 320, 240);
    settings.renderNode.clear();
    const VideoEncoder hevc(settings);
    EXPECT_EQ(hevc.encoderName(), "libx265");
    EXPECT_EQ(hevc.backendDescription(), "software encoder libx265 (VAAPI: not wanted)");
}

class VideoRoundTrip : public testing::TestWithParam<std::tuple<VideoCodec, int, int>> {};

TEST_P(VideoRoundTrip, DecodedPicturesKeepTheirColours) {
    const auto [codec, width, height] = GetParam();
    VideoEncoder encoder(settingsFor(codec, width, height));
    TestPicture picture(width, height, 64);
    const auto outputs = encodeAll(encoder, picture, 6);

    ASSERT_GE(outputs.size(), 7u);
    const auto& configuration = std::get<VideoConfiguration>(outputs[0]);
    EXPECT_EQ(configuration.codec, codec);
    EXPECT_EQ(configuration.streamGeneration, 7u);
    EXPECT_EQ(configuration.width, static_cast<std::uint32_t>(width));
    EXPECT_EQ(configuration.height, static_cast<std::uint32_t>(height));
    EXPECT_EQ(configuration.parameterSets.size(), codec == VideoCodec::hevc ? 3u : 2u);
    EXPECT_TRUE(frameAt(outputs, 1).isKeyframe);
    EXPECT_EQ(configurationsOf(outputs).size(), 1u);
    EXPECT_EQ(framesOf(outputs).size(), 6u);

    VideoDecoder decoder(VideoDecoder::PixelLayout::rgb);
    Received received;
    deliver(outputs, decoder, received);
    ASSERT_EQ(received.pictures.size(), 6u);
    for (std::size_t i = 0; i < received.pictures.size(); ++i) {
        const auto& decoded = received.pictures[i];
        EXPECT_EQ(decoded.width, width);
        EXPECT_EQ(decoded.height, height);
        EXPECT_EQ(decoded.presentationMicroseconds, i * frameMicroseconds);
    }
    expectPaletteColours(received.pictures.front(), 6);
    expectPaletteColours(received.pictures.back(), 6);
}

INSTANTIATE_TEST_SUITE_P(Codecs, VideoRoundTrip,
                         testing::Values(std::make_tuple(VideoCodec::h264, 1280, 720),
                                         std::make_tuple(VideoCodec::h264, 1366, 768),
                                         std::make_tuple(VideoCodec::hevc, 1280, 720),
                                         std::make_tuple(VideoCodec::hevc, 1366, 768)),
                         [](const auto& testCase) {
                             return std::string(TessaloyCore::nameOf(std::get<0>(testCase.param))) + "_" +
                                    std::to_string(std::get<1>(testCase.param)) + "x" +
                                    std::to_string(std::get<2>(testCase.param));
                         });

class VideoEncoderCodecs : public testing::TestWithParam<VideoCodec> {};

TEST_P(VideoEncoderCodecs, FramesCarryOnlyPictureData) {
    VideoEncoder encoder(settingsFor(GetParam(), 640, 360));
    TestPicture picture(640, 360);
    const auto outputs = encodeAll(encoder, picture, 5, true);
    const auto configuration = configurationsOf(outputs).at(0);
    for (std::size_t i = 0; i < configuration.parameterSets.size(); ++i) {
        EXPECT_EQ(nalUnitRole(GetParam(), configuration.parameterSets[i]), NalUnitRole::parameterSet);
        EXPECT_EQ(parameterSetIndex(GetParam(), configuration.parameterSets[i]), i);
    }
    const auto frames = framesOf(outputs);
    ASSERT_EQ(frames.size(), 5u);
    for (const auto& frame : frames) {
        ASSERT_FALSE(frame.nalUnits.empty());
        for (const auto& unit : frame.nalUnits) {
            const auto role = nalUnitRole(GetParam(), unit);
            EXPECT_TRUE(role == NalUnitRole::picture || role == NalUnitRole::keyframePicture);
            EXPECT_EQ(role == NalUnitRole::keyframePicture, frame.isKeyframe);
        }
    }
}

TEST_P(VideoEncoderCodecs, ForcedAndRequestedKeyframesAreKeyframes) {
    VideoEncoder encoder(settingsFor(GetParam(), 640, 360));
    TestPicture picture(640, 360);
    std::vector<VideoEncoder::Output> outputs;
    for (int i = 0; i < 12; ++i) {
        picture.animate(i);
        if (i == 8) encoder.requestKeyframe();
        outputs = concatenated(std::move(outputs), encoder.encode(picture.view(), i * frameMicroseconds, i == 4));
    }
    outputs = concatenated(std::move(outputs), encoder.flush());
    const auto frames = framesOf(outputs);
    ASSERT_EQ(frames.size(), 12u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].presentationMicroseconds, i * frameMicroseconds);
        EXPECT_EQ(frames[i].isKeyframe, i == 0 || i == 4 || i == 8) << "frame " << i;
    }
    EXPECT_EQ(configurationsOf(outputs).size(), 1u);
}

TEST_P(VideoEncoderCodecs, RefinementsAreMarkedThroughTheEncoderDelay) {
    VideoEncoder encoder(settingsFor(GetParam(), 320, 240));
    TestPicture picture(320, 240);
    std::vector<VideoEncoder::Output> outputs;
    for (int i = 0; i < 6; ++i) {
        encoder.setRefinement(i == 3 || i == 4);
        outputs = concatenated(std::move(outputs), encoder.encode(picture.view(), 1'000 + i, false));
    }
    outputs = concatenated(std::move(outputs), encoder.flush());
    const auto frames = framesOf(outputs);
    ASSERT_EQ(frames.size(), 6u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].presentationMicroseconds, 1'000 + i);
        EXPECT_EQ(frames[i].isRefinement, i == 3 || i == 4) << "frame " << i;
    }
}

TEST_P(VideoEncoderCodecs, ScalesToTheOutputSizeAndRoundsOddSizesDown) {
    VideoEncoder encoder(settingsFor(GetParam(), 1'365, 767));
    EXPECT_EQ(encoder.width(), 1'364);
    EXPECT_EQ(encoder.height(), 766);
    TestPicture picture(1'920, 1'080);
    const auto outputs = encodeAll(encoder, picture, 2);
    VideoDecoder decoder(VideoDecoder::PixelLayout::rgb);
    Received received;
    deliver(outputs, decoder, received);
    ASSERT_EQ(received.configurations.size(), 1u);
    EXPECT_EQ(received.configurations[0].width, 1'364u);
    EXPECT_EQ(received.configurations[0].height, 766u);
    ASSERT_EQ(received.pictures.size(), 2u);
    EXPECT_EQ(received.pictures[0].width, 1'364);
    EXPECT_EQ(received.pictures[0].height, 766);
    expectPaletteColours(received.pictures[1], 10);
}

TEST_P(VideoEncoderCodecs, FollowsACaptureWhoseSizeChanges) {
    VideoEncoder encoder(settingsFor(GetParam(), 640, 360));
    TestPicture large(1'280, 720);
    TestPicture small(320, 180, 12);
    auto outputs = encoder.encode(large.view(), 0, false);
    outputs = concatenated(std::move(outputs), encoder.encode(small.view(), frameMicroseconds, false));
    outputs = concatenated(std::move(outputs), encoder.flush());
    VideoDecoder decoder(VideoDecoder::PixelLayout::rgb);
    Received received;
    deliver(outputs, decoder, received);
    ASSERT_EQ(received.pictures.size(), 2u);
    EXPECT_EQ(received.pictures[1].width, 640);
    expectPaletteColours(received.pictures[1], 10);
}

TEST_P(VideoEncoderCodecs, UnusablePicturesAreRefusedAndTheStreamGoesOn) {
    VideoEncoder encoder(settingsFor(GetParam(), 320, 240));
    TestPicture picture(320, 240, 8);
    const auto good = picture.view();
    auto view = good;
    view.width = 0;
    EXPECT_EQ(problemOf<MediaError>([&] { encoder.encode(view, 0, false); }), MediaProblem::invalidInput);
    view = good;
    view.height = -4;
    EXPECT_EQ(problemOf<MediaError>([&] { encoder.encode(view, 0, false); }), MediaProblem::invalidInput);
    view = good;
    view.pixels = nullptr;
    EXPECT_EQ(problemOf<MediaError>([&] { encoder.encode(view, 0, false); }), MediaProblem::invalidInput);
    view = good;
    view.bytesPerRow = 320 * 4 + 3; // not whole pixels
    EXPECT_EQ(problemOf<MediaError>([&] { encoder.encode(view, 0, false); }), MediaProblem::invalidInput);
    view = good;
    view.bytesPerRow = 320 * 4 - 4; // shorter than a row
    EXPECT_EQ(problemOf<MediaError>([&] { encoder.encode(view, 0, false); }), MediaProblem::invalidInput);
    view = good;
    view.width = FrameConverter::maximumSide + 1;
    view.bytesPerRow = static_cast<std::size_t>(view.width) * 4;
    EXPECT_EQ(problemOf<MediaError>([&] { encoder.encode(view, 0, false); }), MediaProblem::invalidInput);

    const auto outputs = encodeAll(encoder, picture, 2);
    EXPECT_EQ(framesOf(outputs).size(), 2u);
    EXPECT_TRUE(framesOf(outputs).at(0).isKeyframe);
}

TEST_P(VideoEncoderCodecs, FlushThenEncodeStartsTheNextGeneration) {
    VideoEncoder encoder(settingsFor(GetParam(), 320, 240));
    TestPicture picture(320, 240);
    auto outputs = encodeAll(encoder, picture, 2);
    EXPECT_TRUE(encoder.flush().empty());
    outputs = concatenated(std::move(outputs), encodeAll(encoder, picture, 2));
    const auto configurations = configurationsOf(outputs);
    ASSERT_EQ(configurations.size(), 2u);
    EXPECT_EQ(configurations[0].streamGeneration, 7u);
    EXPECT_EQ(configurations[1].streamGeneration, 8u);
    EXPECT_EQ(encoder.streamGeneration(), 8u);
    const auto frames = framesOf(outputs);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_TRUE(frames[2].isKeyframe);
    EXPECT_EQ(frames[2].streamGeneration, 8u);
    EXPECT_TRUE(std::holds_alternative<VideoConfiguration>(outputs.at(3)));
}

INSTANTIATE_TEST_SUITE_P(Codecs, VideoEncoderCodecs, testing::Values(VideoCodec::h264, VideoCodec::hevc),
                         [](const auto& testCase) { return std::string(TessaloyCore::nameOf(testCase.param)); });

double averageBytes(const std::vector<VideoFrame>& frames, std::size_t first, std::size_t last) {
    double total = 0;
    for (std::size_t i = first; i < last; ++i) {
        for (const auto& unit : frames.at(i).nalUnits) total += static_cast<double>(unit.size());
    }
    return total / static_cast<double>(last - first);
}

TEST(VideoEncoderBitrate, X264ChangesBitrateInPlace) {
    auto settings = settingsFor(VideoCodec::h264, 640, 360);
    settings.bitrate = 8'000'000;
    VideoEncoder encoder(settings);
    TestPicture picture(640, 360);
    std::vector<VideoEncoder::Output> outputs;
    for (int i = 0; i < 40; ++i) {
        if (i == 20) encoder.setBitrate(400'000);
        picture.animate(i);
        outputs = concatenated(std::move(outputs), encoder.encode(picture.view(), i * frameMicroseconds, false));
    }
    EXPECT_EQ(configurationsOf(outputs).size(), 1u);
    EXPECT_EQ(encoder.streamGeneration(), 7u);
    const auto frames = framesOf(outputs);
    ASSERT_EQ(frames.size(), 40u);
    for (std::size_t i = 1; i < frames.size(); ++i) {
        EXPECT_FALSE(frames[i].isKeyframe) << "frame " << i;
        EXPECT_EQ(frames[i].streamGeneration, 7u);
    }
    EXPECT_LT(averageBytes(frames, 30, 40), averageBytes(frames, 10, 20) / 3);
}

TEST(VideoEncoderBitrate, X265IsReopenedIntoANewGeneration) {
    auto settings = settingsFor(VideoCodec::hevc, 640, 360);
    settings.bitrate = 8'000'000;
    VideoEncoder encoder(settings);
    TestPicture picture(640, 360);
    std::vector<VideoEncoder::Output> outputs;
    for (int i = 0; i < 30; ++i) {
        if (i == 10) encoder.setBitrate(400'000);
        picture.animate(i);
        outputs = concatenated(std::move(outputs), encoder.encode(picture.view(), i * frameMicroseconds, false));
    }
    outputs = concatenated(std::move(outputs), encoder.flush());
    EXPECT_EQ(encoder.streamGeneration(), 8u);

    const auto configurations = configurationsOf(outputs);
    ASSERT_EQ(configurations.size(), 2u);
    EXPECT_EQ(configurations[1].streamGeneration, 8u);
    EXPECT_EQ(configurations[1].parameterSets.size(), 3u);
    // Every frame given before the change comes out, in the old generation, before the new
    // configuration; the new generation opens with a keyframe.
    const auto frames = framesOf(outputs);
    ASSERT_EQ(frames.size(), 30u);
    std::size_t position = 0;
    for (; position < outputs.size(); ++position) {
        if (std::holds_alternative<VideoConfiguration>(outputs[position]) && position > 0) break;
    }
    ASSERT_LT(position + 1, outputs.size());
    EXPECT_EQ(position, 11u); // the first configuration and ten frames
    EXPECT_TRUE(frameAt(outputs, position + 1).isKeyframe);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].streamGeneration, i < 10 ? 7u : 8u) << "frame " << i;
        EXPECT_EQ(frames[i].isKeyframe, i == 0 || i == 10) << "frame " << i;
        EXPECT_EQ(frames[i].presentationMicroseconds, i * frameMicroseconds);
    }
    EXPECT_LT(averageBytes(frames, 20, 30), averageBytes(frames, 1, 10) / 3);

    VideoDecoder decoder(VideoDecoder::PixelLayout::rgb);
    Received received;
    deliver(outputs, decoder, received);
    EXPECT_EQ(received.pictures.size(), 30u);
}

TEST(VideoEncoderBitrate, RefusesBitratesOutOfRange) {
    VideoEncoder encoder(settingsFor(VideoCodec::h264, 320, 240));
    EXPECT_EQ(problemOf<MediaError>([&] { encoder.setBitrate(0); }), MediaProblem::invalidInput);
    EXPECT_EQ(problemOf<MediaError>([&] { encoder.setBitrate(VideoEncoder::maximumBitrate + 1); }),
              MediaProblem::invalidInput);
    EXPECT_NO_THROW(encoder.setBitrate(VideoEncoder::minimumBitrate));
}

TEST(VideoEncoderSettings, RefusesSettingsOutOfRange) {
    const auto refused = [](const std::function<void(VideoEncoder::Settings&)>& change) {
        auto settings = settingsFor(VideoCodec::h264, 320, 240);
        change(settings);
        return problemOf<MediaError>([&] { VideoEncoder encoder(settings); });
    };
    EXPECT_EQ(refused([](auto& s) { s.width = 0; }), MediaProblem::invalidInput);
    EXPECT_EQ(refused([](auto& s) { s.height = VideoEncoder::minimumSide - 1; }), MediaProblem::invalidInput);
    EXPECT_EQ(refused([](auto& s) { s.width = VideoEncoder::maximumSide + 1; }), MediaProblem::invalidInput);
    EXPECT_EQ(refused([](auto& s) { s.framesPerSecond = 0; }), MediaProblem::invalidInput);
    EXPECT_EQ(refused([](auto& s) { s.bitrate = 0; }), MediaProblem::invalidInput);
    EXPECT_EQ(refused([](auto& s) { s.keyframeIntervalSeconds = 0; }), MediaProblem::invalidInput);
    EXPECT_EQ(refused([](auto& s) { s.keyframeIntervalSeconds = std::nan(""); }), MediaProblem::invalidInput);
    EXPECT_EQ(refused([](auto& s) { s.threads = 0; }), MediaProblem::invalidInput);
    EXPECT_EQ(refused([](auto& s) { s.codec = static_cast<VideoCodec>(9); }), MediaProblem::invalidInput);
}

TEST(VideoEncoderSettings, SmallestPictureRoundTrips) {
    for (const auto codec : {VideoCodec::h264, VideoCodec::hevc}) {
        VideoEncoder encoder(settingsFor(codec, VideoEncoder::minimumSide, VideoEncoder::minimumSide));
        TestPicture picture(VideoEncoder::minimumSide, VideoEncoder::minimumSide);
        const auto outputs = encodeAll(encoder, picture, 2);
        VideoDecoder decoder(VideoDecoder::PixelLayout::bgra);
        Received received;
        deliver(outputs, decoder, received);
        ASSERT_EQ(received.pictures.size(), 2u) << TessaloyCore::nameOf(codec);
        EXPECT_EQ(received.pictures[0].bytesPerRow, static_cast<std::size_t>(VideoEncoder::minimumSide) * 4);
    }
}

TEST(VideoEncoderStream, FramesOfAnotherGenerationAreDropped) {
    VideoEncoder encoder(settingsFor(VideoCodec::h264, 320, 240));
    TestPicture picture(320, 240);
    const auto outputs = encodeAll(encoder, picture, 3);
    auto configuration = configurationsOf(outputs).at(0);
    const auto frames = framesOf(outputs);

    SampleAssembler assembler;
    configuration.streamGeneration += 1;
    assembler.configure(configuration);
    for (const auto& frame : frames) {
        const auto result = assembler.assemble(frame);
        ASSERT_TRUE(std::holds_alternative<SampleAssembler::Drop>(result));
        EXPECT_EQ(std::get<SampleAssembler::Drop>(result), SampleAssembler::Drop::otherGeneration);
    }
}

} // namespace
