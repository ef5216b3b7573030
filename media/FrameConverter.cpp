#include "media/FrameConverter.h"

#include "media/MediaError.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <climits>
#include <string>

namespace TessaloyMedia {

void FrameConverter::check(const Platform::FrameView& view) {
    const auto size = std::to_string(view.width) + "x" + std::to_string(view.height);
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

void FrameConverter::convert(const Platform::FrameView& view, AVFrame& destination) {
    check(view);
    if (!context_ || view.width != sourceWidth_ || view.height != sourceHeight_ ||
        destination.width != destinationWidth_ || destination.height != destinationHeight_ ||
        destination.format != destinationFormat_) {
        const auto format = static_cast<AVPixelFormat>(destination.format);
        context_.reset(sws_getContext(view.width, view.height, AV_PIX_FMT_BGR0, destination.width, destination.height,
                                      format, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!context_) {
            throw MediaError(MediaProblem::encodeFailed, "cannot convert " + std::to_string(view.width) + "x" +
                                                             std::to_string(view.height) + " pictures to " +
                                                             std::to_string(destination.width) + "x" +
                                                             std::to_string(destination.height));
        }
        // RGB input is full range; the output uses BT.709 limited range, as the encoders signal.
        const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
        constexpr int neutral = 1 << 16;
        sws_setColorspaceDetails(context_.get(), coefficients, 1, coefficients, 0, 0, neutral, neutral);
        sourceWidth_ = view.width;
        sourceHeight_ = view.height;
        destinationWidth_ = destination.width;
        destinationHeight_ = destination.height;
        destinationFormat_ = destination.format;
    }
    const std::uint8_t* const sourcePlanes[4] = {view.pixels, nullptr, nullptr, nullptr};
    const int sourceStrides[4] = {static_cast<int>(view.bytesPerRow), 0, 0, 0};
    const int rows =
        sws_scale(context_.get(), sourcePlanes, sourceStrides, 0, view.height, destination.data, destination.linesize);
    if (rows <= 0) {
        throw MediaError(MediaProblem::encodeFailed, "colour conversion failed: " + ffmpegErrorText(rows));
    }
}

} // namespace TessaloyMedia
