#include "media/FramePool.h"

#include "media/MediaError.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace TessaloyMedia {

FramePool::FramePool(int width, int height, int pixelFormat, std::size_t capacity)
    : width_(width), height_(height), pixelFormat_(pixelFormat), capacity_(capacity) {}

AVFrame& FramePool::acquire() {
    for (const FramePtr& frame : frames_) {
        if (av_frame_is_writable(frame.get()) != 0) return *frame;
    }
    if (frames_.size() >= capacity_) {
        throw MediaError(MediaProblem::encodeFailed, "no free picture buffer: the encoder holds all of them");
    }
    FramePtr frame(av_frame_alloc());
    if (!frame) throw MediaError(MediaProblem::encodeFailed, "could not allocate a picture");
    frame->width = width_;
    frame->height = height_;
    frame->format = pixelFormat_;
    if (const int status = av_frame_get_buffer(frame.get(), 0); status < 0) {
        throw MediaError(MediaProblem::encodeFailed, "could not allocate a picture: " + ffmpegErrorText(status));
    }
    frames_.push_back(std::move(frame));
    return *frames_.back();
}

} // namespace TessaloyMedia
