#include "media/FrameConverter.h"

#include "media/MediaError.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <libyuv/convert_from_argb.h>
#include <libyuv/scale_argb.h>

#include <climits>
#include <string>

namespace TessaloyMedia {
namespace {

std::string sizeText(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

} // namespace

void FrameConverter::check(const TessaloyBase::FrameView& view) {
    const auto size = sizeText(view.width, view.height);
    if (view.width <= 0 || view.height <= 0) {
        throw MediaError(MediaProblem::invalidInput, "empty picture (" + size + ")");
    }
    if (view.width > maximumSide || view.height > maximumSide) {
        throw MediaError(MediaProblem::invalidInput, "picture too large (" + size + ")");
    }
    if (view.pixels == nullptr) throw MediaError(MediaProblem::invalidInput, "picture without pixels");
    const std::size_t rowBytes = static_cast<std::size_t>(view.width) * 4;
    if (view.bytesPerRow < rowBytes || view.bytesPerRow % 4 != 0 || view.bytesPerRow > INT_MAX) {
        throw MediaError(MediaProblem::invalidInput, "unusable row stride of " + std::to_string(view.bytesPerRow) +
                                                         " bytes for a picture " + std::to_string(view.width) +
                                                         " pixels wide");
    }
}

void FrameConverter::convert(const TessaloyBase::FrameView& view, AVFrame& destination) {
    check(view);
    if (destination.format != AV_PIX_FMT_YUV420P && destination.format != AV_PIX_FMT_NV12) {
        throw MediaError(MediaProblem::encodeFailed, "no conversion to the encoder's pixel format");
    }
    // libyuv's "ARGB" is BGRA in memory: the captured BGRX as it lies.
    const std::uint8_t* source = view.pixels;
    int sourceStride = static_cast<int>(view.bytesPerRow);
    const int width = destination.width;
    const int height = destination.height;
    if (view.width != width || view.height != height) {
        scaled_.resize(static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(height));
        if (libyuv::ARGBScale(source, sourceStride, view.width, view.height, scaled_.data(), width * 4, width, height,
                              libyuv::kFilterBilinear) != 0) {
            throw MediaError(MediaProblem::encodeFailed,
                             "cannot scale " + sizeText(view.width, view.height) + " to " + sizeText(width, height));
        }
        source = scaled_.data();
        sourceStride = width * 4;
    }
    const int status = destination.format == AV_PIX_FMT_NV12
                           ? libyuv::ARGBToNV12(source, sourceStride, destination.data[0], destination.linesize[0],
                                                destination.data[1], destination.linesize[1], width, height)
                           : libyuv::ARGBToI420(source, sourceStride, destination.data[0], destination.linesize[0],
                                                destination.data[1], destination.linesize[1], destination.data[2],
                                                destination.linesize[2], width, height);
    if (status != 0) throw MediaError(MediaProblem::encodeFailed, "colour conversion failed");
}

} // namespace TessaloyMedia
