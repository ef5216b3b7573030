#pragma once

#include "base/FrameView.h"
#include "core/VideoConfiguration.h"
#include "core/VideoFrame.h"
#include "media/VideoDecoder.h"
#include "media/VideoEncoder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

namespace MediaTesting {

struct Colour {
    int red = 0;
    int green = 0;
    int blue = 0;
};

inline std::string describe(const Colour& colour) {
    std::ostringstream text;
    text << '(' << colour.red << ", " << colour.green << ", " << colour.blue << ')';
    return text.str();
}

// Eight solid rectangles, four across and two down, covering the whole picture.
inline constexpr int columns = 4;
inline constexpr int rows = 2;
inline constexpr std::array<Colour, columns * rows> palette{{
    {220, 30, 30},
    {30, 200, 40},
    {40, 50, 210},
    {230, 220, 40},
    {30, 200, 210},
    {200, 40, 190},
    {235, 235, 235},
    {20, 20, 20},
}};

// A captured picture in memory: BGRX pixels with `padding` spare bytes at the end of each row.
class TestPicture {
public:
    TestPicture(int width, int height, std::size_t padding = 0)
        : width_(width), height_(height), bytesPerRow_(static_cast<std::size_t>(width) * 4 + padding) {
        pixels_.assign(bytesPerRow_ * static_cast<std::size_t>(height), 0x5A);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const Colour& colour =
                    palette[static_cast<std::size_t>((y * rows / height) * columns + x * columns / width)];
                set(x, y, colour);
            }
        }
    }

    void set(int x, int y, const Colour& colour) {
        std::uint8_t* pixel =
            pixels_.data() + static_cast<std::size_t>(y) * bytesPerRow_ + static_cast<std::size_t>(x) * 4;
        pixel[0] = static_cast<std::uint8_t>(colour.blue);
        pixel[1] = static_cast<std::uint8_t>(colour.green);
        pixel[2] = static_cast<std::uint8_t>(colour.red);
        pixel[3] = 0;
    }

    // Changes a band of pixels so consecutive frames differ (a moving stripe of noise).
    void animate(int step) {
        std::uint32_t state = 2'463'534'242u + static_cast<std::uint32_t>(step);
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                if ((x + step * 7) % 97 < 40) {
                    set(x, y,
                        {static_cast<int>(state & 0xFF), static_cast<int>((state >> 8) & 0xFF),
                         static_cast<int>((state >> 16) & 0xFF)});
                }
            }
        }
    }

    TessaloyBase::FrameView view() const {
        TessaloyBase::FrameView view;
        view.pixels = pixels_.data();
        view.width = width_;
        view.height = height_;
        view.bytesPerRow = bytesPerRow_;
        return view;
    }

private:
    int width_;
    int height_;
    std::size_t bytesPerRow_;
    std::vector<std::uint8_t> pixels_;
};

// The average colour of the middle half of one rectangle of a decoded RGB picture.
inline Colour averageOfCell(const TessaloyMedia::VideoDecoder::Picture& picture, int cell) {
    const int column = cell % columns;
    const int row = cell / columns;
    const int cellWidth = picture.width / columns;
    const int cellHeight = picture.height / rows;
    const int left = column * cellWidth + cellWidth / 4;
    const int top = row * cellHeight + cellHeight / 4;
    long sums[3] = {0, 0, 0};
    long count = 0;
    for (int y = top; y < top + cellHeight / 2; ++y) {
        for (int x = left; x < left + cellWidth / 2; ++x) {
            const std::uint8_t* pixel = picture.pixels.data() + static_cast<std::size_t>(y) * picture.bytesPerRow +
                                        static_cast<std::size_t>(x) * 3;
            for (int channel = 0; channel < 3; ++channel) sums[channel] += pixel[channel];
            ++count;
        }
    }
    return {static_cast<int>(sums[0] / count), static_cast<int>(sums[1] / count), static_cast<int>(sums[2] / count)};
}

inline void expectPaletteColours(const TessaloyMedia::VideoDecoder::Picture& picture, int tolerance) {
    for (int cell = 0; cell < columns * rows; ++cell) {
        const Colour expected = palette[static_cast<std::size_t>(cell)];
        const Colour found = averageOfCell(picture, cell);
        EXPECT_LE(std::abs(found.red - expected.red), tolerance) << "cell " << cell << " " << describe(found);
        EXPECT_LE(std::abs(found.green - expected.green), tolerance) << "cell " << cell << " " << describe(found);
        EXPECT_LE(std::abs(found.blue - expected.blue), tolerance) << "cell " << cell << " " << describe(found);
    }
}

// What the device receives, each packet through its wire codec.
struct Received {
    std::vector<TessaloyCore::VideoConfiguration> configurations;
    std::vector<TessaloyCore::VideoFrame> frames;
    std::vector<TessaloyMedia::VideoDecoder::Picture> pictures;
};

inline void deliver(const std::vector<TessaloyMedia::VideoEncoder::Output>& outputs,
                    TessaloyMedia::VideoDecoder& decoder, Received& received) {
    for (const auto& output : outputs) {
        if (const auto* configuration = std::get_if<TessaloyCore::VideoConfiguration>(&output)) {
            const auto sent = TessaloyCore::VideoConfiguration::decode(configuration->packet());
            EXPECT_EQ(sent, *configuration);
            decoder.configure(sent);
            received.configurations.push_back(sent);
        } else {
            const auto& encoded = std::get<TessaloyMedia::VideoEncoder::EncodedFrame>(output);
            const auto frame = TessaloyCore::VideoFrame::decode(encoded.packet);
            EXPECT_EQ(frame.isKeyframe, encoded.isKeyframe);
            EXPECT_EQ(frame.streamGeneration, encoded.streamGeneration);
            for (auto& picture : decoder.decode(frame)) received.pictures.push_back(std::move(picture));
            received.frames.push_back(frame);
        }
    }
}

} // namespace MediaTesting
