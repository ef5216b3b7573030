#pragma once

#include "media/FFmpegHandles.h"

#include <cstddef>
#include <vector>

namespace TessaloyMedia {

// A few frames of one size and pixel format whose buffers are reused, so converting a picture
// allocates nothing after the first frames. A frame is handed out again only once no encoder holds
// a reference to its buffers. Confined to the encoder's queue.
class FramePool {
public:
    // `pixelFormat` is an AVPixelFormat.
    FramePool(int width, int height, int pixelFormat, std::size_t capacity);

    // A writable frame owned by the pool, valid until the pool is destroyed. Throws MediaError
    // encodeFailed when every frame is still referenced or a buffer cannot be allocated.
    AVFrame& acquire();

    std::size_t allocatedFrames() const { return frames_.size(); }

private:
    int width_;
    int height_;
    int pixelFormat_;
    std::size_t capacity_;
    std::vector<FramePtr> frames_;
};

} // namespace TessaloyMedia
