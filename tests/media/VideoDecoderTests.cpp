#include "media/MediaError.h"
#include "media/VideoDecoder.h"
#include "media/VideoEncoder.h"
#include "tests/media/TestPictures.h"
#include "tests/support/ProblemOf.h"

#include <gtest/gtest.h>

namespace {

using namespace TessaloyMedia;
using namespace MediaTesting;
using TessaloyCore::VideoCodec;
using TessaloyCore::VideoConfiguration;
using TessaloyCore::VideoFrame;
using Testing::problemOf;

std::vector<VideoEncoder::Output> encodeStream(VideoCodec codec, std::uint32_t generation, int frames) {
    VideoEncoder::Settings settings;
    settings.codec = codec;
    settings.width = 320;
    settings.height = 240;
    settings.framesPerSecond = 30;
    settings.bitrate = 2'000'000;
    settings.keyframeIntervalSeconds = 10;
    settings.streamGeneration = generation;
    VideoEncoder encoder(settings);
    TestPicture picture(320, 240);
    std::vector<VideoEncoder::Output> outputs;
    for (int i = 0; i < frames; ++i) {
        for (auto& output : encoder.encode(picture.view(), static_cast<std::uint64_t>(i), false)) {
            outputs.push_back(std::move(output));
        }
    }
    for (auto& output : encoder.flush()) outputs.push_back(std::move(output));
    return outputs;
}

TEST(VideoDecoder, GivesBgraPictures) {
    VideoDecoder decoder(VideoDecoder::PixelLayout::bgra);
    Received received;
    deliver(encodeStream(VideoCodec::h264, 1, 1), decoder, received);
    ASSERT_EQ(received.pictures.size(), 1u);
    const auto& picture = received.pictures[0];
    EXPECT_EQ(picture.bytesPerRow, 320u * 4);
    EXPECT_EQ(picture.pixels.size(), 320u * 4 * 240);
    // The middle of the first rectangle, in B, G, R, A order.
    const std::uint8_t* pixel = picture.pixels.data() + 60 * picture.bytesPerRow + 40 * 4;
    EXPECT_NEAR(pixel[0], palette[0].blue, 12);
    EXPECT_NEAR(pixel[1], palette[0].green, 12);
    EXPECT_NEAR(pixel[2], palette[0].red, 12);
    EXPECT_EQ(pixel[3], 255);
}

TEST(VideoDecoder, SwitchesCodecWithTheConfiguration) {
    VideoDecoder decoder(VideoDecoder::PixelLayout::rgb);
    Received received;
    deliver(encodeStream(VideoCodec::h264, 1, 2), decoder, received);
    deliver(encodeStream(VideoCodec::hevc, 2, 2), decoder, received);
    deliver(encodeStream(VideoCodec::h264, 3, 2), decoder, received);
    EXPECT_EQ(received.configurations.size(), 3u);
    ASSERT_EQ(received.pictures.size(), 6u);
    for (const auto& picture : received.pictures) expectPaletteColours(picture, 10);
}

TEST(VideoDecoder, DroppedFramesGiveNoPicture) {
    const auto outputs = encodeStream(VideoCodec::h264, 5, 3);
    VideoDecoder decoder(VideoDecoder::PixelLayout::rgb);
    const auto& first = std::get<VideoEncoder::EncodedFrame>(outputs.at(1));
    EXPECT_TRUE(decoder.decode(VideoFrame::decode(first.packet)).empty()); // not configured yet
    decoder.configure(std::get<VideoConfiguration>(outputs.at(0)));
    const auto& second = std::get<VideoEncoder::EncodedFrame>(outputs.at(2));
    EXPECT_TRUE(decoder.decode(VideoFrame::decode(second.packet)).empty()); // before the keyframe
    EXPECT_EQ(decoder.decode(VideoFrame::decode(first.packet)).size(), 1u);
}

TEST(VideoDecoder, RefusesDamagedPicturesAndGoesOn) {
    const auto outputs = encodeStream(VideoCodec::h264, 5, 1);
    VideoDecoder decoder(VideoDecoder::PixelLayout::rgb);
    decoder.configure(std::get<VideoConfiguration>(outputs.at(0)));
    const VideoFrame keyframe = VideoFrame::decode(std::get<VideoEncoder::EncodedFrame>(outputs.at(1)).packet);
    VideoFrame damaged = keyframe;
    damaged.nalUnits = {{0x65, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    EXPECT_EQ(problemOf<MediaError>([&] { decoder.decode(damaged); }), MediaProblem::decodeFailed);
    EXPECT_EQ(decoder.decode(keyframe).size(), 1u);
}

TEST(VideoDecoder, RefusesAConfigurationWithoutParameterSets) {
    VideoDecoder decoder(VideoDecoder::PixelLayout::rgb);
    EXPECT_EQ(problemOf<MediaError>([&] {
                  decoder.configure({VideoCodec::hevc, 1, 320, 240, {}});
              }),
              MediaProblem::invalidInput);
}

} // namespace
