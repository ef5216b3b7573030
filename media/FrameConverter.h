#pragma once

#include "base/FrameView.h"
#include "media/FFmpegHandles.h"

#include <cstdint>
#include <vector>

namespace TessaloyMedia {

// The one colour conversion of the encoding path: reads a captured BGRX picture in place and
// writes the encoder's frame (I420 or NV12, any size) in one SIMD pass, with the BT.601
// limited-range coefficients that the encoders signal. A picture of another size is scaled first,
// into a scratch picture of the output size. Confined to the encoder's queue; runs on the caller's
// thread alone.
class FrameConverter {
public:
    static constexpr int maximumSide = 16'384;

    FrameConverter() = default;
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // Throws MediaError invalidInput when the view cannot be a picture: no pixels, a side outside
    // 1...maximumSide, or a row stride that is not a whole number of 4-byte pixels covering the width.
    static void check(const TessaloyBase::FrameView& view);

    // Writes the picture into `destination`, which has its size, format and reference-counted
    // buffers (FramePool's). Throws MediaError invalidInput for a view that fails check(),
    // encodeFailed for an output format other than YUV420P and NV12.
    void convert(const TessaloyBase::FrameView& view, AVFrame& destination);

private:
    std::vector<std::uint8_t> scaled_;
};

} // namespace TessaloyMedia
