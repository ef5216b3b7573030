#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace TessaloyBase {

// A captured picture in memory that the capturer owns: 32-bit pixels stored B, G, R, X in memory
// order (X11's 24-bit depth ZPixmap on a little-endian machine). Valid only during the callback
// that hands it over; whoever needs it later converts it then, so frames are never copied whole.
struct FrameView {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::size_t bytesPerRow = 0;
    std::chrono::steady_clock::time_point captureTime;
};

} // namespace TessaloyBase
