#include "media/FrameConverter.h"
#include "media/FramePool.h"
#include "media/MediaError.h"
#include "tests/media/TestPictures.h"
#include "tests/support/ProblemOf.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
}

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace TessaloyMedia;
using namespace MediaTesting;
using Testing::problemOf;

// The planes of a converted picture, row by row without the padding.
using Planes = std::vector<std::vector<std::uint8_t>>;

Planes planesOf(const AVFrame& frame) {
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    Planes planes;
    for (int plane = 0; plane < 4 && frame.data[plane] != nullptr; ++plane) {
        // YUV420P and NV12: every plane after the first holds chroma.
        const int height = plane > 0 ? AV_CEIL_RSHIFT(frame.height, format->log2_chroma_h) : frame.height;
        const int rowBytes = av_image_get_linesize(static_cast<AVPixelFormat>(frame.format), frame.width, plane);
        std::vector<std::uint8_t> bytes;
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* row = frame.data[plane] + static_cast<std::ptrdiff_t>(y) * frame.linesize[plane];
            bytes.insert(bytes.end(), row, row + rowBytes);
        }
        planes.push_back(std::move(bytes));
    }
    return planes;
}

Planes convertedWith(FrameConverter& converter, const TessaloyBase::FrameView& view, int width, int height,
                     AVPixelFormat format = AV_PIX_FMT_YUV420P) {
    FramePool pool(width, height, format, 1);
    AVFrame& frame = pool.acquire();
    converter.convert(view, frame);
    return planesOf(frame);
}

Planes convertedWith(const TessaloyBase::FrameView& view, int width, int height,
                     AVPixelFormat format = AV_PIX_FMT_YUV420P) {
    FrameConverter converter;
    return convertedWith(converter, view, width, height, format);
}

// BT.601 in limited range, from full-range RGB.
struct Yuv {
    double y;
    double u;
    double v;
};
Yuv bt601(const Colour& colour) {
    const double r = colour.red / 255.0;
    const double g = colour.green / 255.0;
    const double b = colour.blue / 255.0;
    const double luma = 0.299 * r + 0.587 * g + 0.114 * b;
    return {16 + 219 * luma, 128 + 224 * (b - luma) / 1.772, 128 + 224 * (r - luma) / 1.402};
}

// The planes of NV12 with its chroma split into U and V: the same samples as YUV420P.
Planes deinterleaved(Planes nv12) {
    Planes planes{std::move(nv12[0]), {}, {}};
    for (std::size_t i = 0; i < nv12[1].size(); ++i) planes[1 + i % 2].push_back(nv12[1][i]);
    return planes;
}

TEST(FrameConverter, WritesTheSameSamplesInEitherFormatWhetherScaledOrNot) {
    TestPicture picture(640, 360, 12);
    picture.animate(3);
    const auto view = picture.view();
    EXPECT_EQ(deinterleaved(convertedWith(view, 640, 360, AV_PIX_FMT_NV12)), convertedWith(view, 640, 360));
    EXPECT_EQ(deinterleaved(convertedWith(view, 320, 180, AV_PIX_FMT_NV12)), convertedWith(view, 320, 180));
    TestPicture odd(333, 187);
    odd.animate(1);
    EXPECT_EQ(deinterleaved(convertedWith(odd.view(), 332, 186, AV_PIX_FMT_NV12)), convertedWith(odd.view(), 332, 186));
}

TEST(FrameConverter, WritesBt601LimitedRangeWhetherScaledOrNot) {
    const TestPicture picture(320, 240);
    for (const auto& [width, height] : {std::pair{320, 240}, std::pair{160, 120}}) {
        const Planes planes = convertedWith(picture.view(), width, height);
        ASSERT_EQ(planes.size(), 3u);
        for (int cell = 0; cell < columns * rows; ++cell) {
            const Yuv expected = bt601(palette[static_cast<std::size_t>(cell)]);
            const int x = (cell % columns) * width / columns + width / columns / 2;
            const int y = (cell / columns) * height / rows + height / rows / 2;
            const auto sample = [&](int plane, int column, int row, int planeWidth) {
                return planes[static_cast<std::size_t>(plane)][static_cast<std::size_t>(row * planeWidth + column)];
            };
            EXPECT_NEAR(sample(0, x, y, width), expected.y, 1.5) << "cell " << cell << " at " << width;
            EXPECT_NEAR(sample(1, x / 2, y / 2, width / 2), expected.u, 1.5) << "cell " << cell << " at " << width;
            EXPECT_NEAR(sample(2, x / 2, y / 2, width / 2), expected.v, 1.5) << "cell " << cell << " at " << width;
        }
    }
}

TEST(FrameConverter, LeavesTheDestinationToItsPoolAndKeepsNothingOfTheSource) {
    FrameConverter converter;
    FramePool pool(160, 96, AV_PIX_FMT_YUV420P, 1);
    Planes first;
    {
        auto picture = std::make_unique<TestPicture>(160, 96, 4);
        AVFrame& frame = pool.acquire();
        converter.convert(picture->view(), frame);
        EXPECT_TRUE(av_frame_is_writable(&frame)) << "the conversion holds no reference to the pool's frame";
        first = planesOf(frame);
    }
    // The first picture is gone: a conversion that kept it would read freed memory here.
    TestPicture second(160, 96);
    second.animate(5);
    AVFrame& frame = pool.acquire();
    EXPECT_EQ(pool.allocatedFrames(), 1u);
    converter.convert(second.view(), frame);
    EXPECT_NE(planesOf(frame), first);
    EXPECT_EQ(planesOf(frame), convertedWith(second.view(), 160, 96));
}

TEST(FrameConverter, FollowsChangesOfEitherSize) {
    FrameConverter converter;
    TestPicture large(320, 240);
    TestPicture small(160, 96);
    small.animate(2);
    EXPECT_EQ(convertedWith(converter, large.view(), 320, 240), convertedWith(large.view(), 320, 240));
    EXPECT_EQ(convertedWith(converter, small.view(), 160, 96), convertedWith(small.view(), 160, 96));
    EXPECT_EQ(convertedWith(converter, small.view(), 80, 48), convertedWith(small.view(), 80, 48));
    EXPECT_EQ(convertedWith(converter, large.view(), 320, 240, AV_PIX_FMT_NV12),
              convertedWith(large.view(), 320, 240, AV_PIX_FMT_NV12));
}

std::size_t threadsOfThisProcess() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

TEST(FrameConverter, ConvertsOnTheCallersThreadAlone) {
    TestPicture picture(320, 240);
    const std::size_t before = threadsOfThisProcess();
    FrameConverter converter;
    convertedWith(converter, picture.view(), 320, 240);
    convertedWith(converter, picture.view(), 160, 120);
    EXPECT_EQ(threadsOfThisProcess(), before);
}

TEST(FrameConverter, RefusesUnusableViewsBeforeTouchingTheDestination) {
    FrameConverter converter;
    FramePool pool(64, 32, AV_PIX_FMT_YUV420P, 1);
    TestPicture picture(64, 32);
    AVFrame& frame = pool.acquire();
    converter.convert(picture.view(), frame);
    const Planes good = planesOf(frame);
    auto view = picture.view();
    view.pixels = nullptr;
    EXPECT_EQ(problemOf<MediaError>([&] { converter.convert(view, frame); }), MediaProblem::invalidInput);
    view = picture.view();
    view.bytesPerRow = 64 * 4 - 4;
    EXPECT_EQ(problemOf<MediaError>([&] { converter.convert(view, frame); }), MediaProblem::invalidInput);
    view = picture.view();
    view.height = FrameConverter::maximumSide + 1;
    EXPECT_EQ(problemOf<MediaError>([&] { converter.convert(view, frame); }), MediaProblem::invalidInput);
    EXPECT_EQ(planesOf(frame), good);
    EXPECT_TRUE(av_frame_is_writable(&frame));
}

} // namespace
