#pragma once

#include "base/FrameView.h"
#include "media/FFmpegHandles.h"

namespace TessaloyMedia {

// The one colour conversion of the encoding path: reads a captured BGRX picture in place and
// writes the encoder's frame (any size, any swscale output format), scaling as needed, with the
// BT.709 limited-range coefficients that the encoders signal. Confined to the encoder's queue.
//
// swscale cuts the output into horizontal bands, one per thread: the calling thread converts one
// and threads of the converter's own the others, while the caller waits for them.
class FrameConverter {
public:
    static constexpr int maximumSide = 16'384;
    static constexpr int defaultThreads = 2;
    static constexpr int maximumThreads = 64;

    // Throws MediaError invalidInput for a thread count outside 1...maximumThreads.
    explicit FrameConverter(int threads = defaultThreads);
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // Throws MediaError invalidInput when the view cannot be a picture: no pixels, a side outside
    // 1...maximumSide, or a row stride that is not a whole number of 4-byte pixels covering the width.
    static void check(const TessaloyBase::FrameView& view);

    int threads() const { return threads_; }

    // Writes the picture into `destination`, which has its size, format and reference-counted
    // buffers (FramePool's). Throws MediaError invalidInput for a view that fails check(),
    // encodeFailed when swscale refuses.
    void convert(const TessaloyBase::FrameView& view, AVFrame& destination);

private:
    void prepare(const TessaloyBase::FrameView& view, const AVFrame& destination);

    int threads_;
    SwsContextPtr context_;
    // Describes the captured picture for swscale; points at the capturer's pixels during convert().
    FramePtr source_;
    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    int destinationWidth_ = 0;
    int destinationHeight_ = 0;
    int destinationFormat_ = -1;
};

} // namespace TessaloyMedia
