#pragma once

#include "base/FrameView.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Bench {

// A diagonal colour gradient that moves a few pixels each frame, captured as BGRX.
class MovingGradient {
public:
    MovingGradient(int width, int height)
        : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * 4 * height) {}

    void draw(int step) {
        for (int y = 0; y < height_; ++y) {
            std::uint8_t* row = pixels_.data() + static_cast<std::size_t>(y) * width_ * 4;
            for (int x = 0; x < width_; ++x) {
                const int phase = x + y + step * 4;
                row[x * 4 + 0] = static_cast<std::uint8_t>(phase);
                row[x * 4 + 1] = static_cast<std::uint8_t>(phase / 2 + y);
                row[x * 4 + 2] = static_cast<std::uint8_t>(255 - (phase & 0xFF));
                row[x * 4 + 3] = 0;
            }
        }
    }

    TessaloyBase::FrameView view() const {
        TessaloyBase::FrameView view;
        view.pixels = pixels_.data();
        view.width = width_;
        view.height = height_;
        view.bytesPerRow = static_cast<std::size_t>(width_) * 4;
        return view;
    }

private:
    int width_;
    int height_;
    std::vector<std::uint8_t> pixels_;
};

} // namespace Bench
