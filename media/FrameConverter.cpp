#include "media/FrameConverter.h"

#include "media/MediaError.h"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <climits>
#include <string>

namespace TessaloyMedia {
namespace {

// The capturer owns the pixels: the buffer that lends them to swscale frees nothing.
void keepPixels(void*, std::uint8_t*) {}

std::string sizeText(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

} // namespace

FrameConverter::FrameConverter(int threads) : threads_(threads), source_(av_frame_alloc()) {
    if (threads < 1 || threads > maximumThreads) {
        throw MediaError(MediaProblem::invalidInput, "unsupported conversion thread count " + std::to_string(threads));
    }
    if (!source_) throw MediaError(MediaProblem::encodeFailed, "could not allocate a picture");
}

FrameConverter::~FrameConverter() = default;

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

void FrameConverter::prepare(const TessaloyBase::FrameView& view, const AVFrame& destination) {
    if (context_ && view.width == sourceWidth_ && view.height == sourceHeight_ &&
        destination.width == destinationWidth_ && destination.height == destinationHeight_ &&
        destination.format == destinationFormat_) {
        return;
    }
    context_.reset();
    const auto refused = [&] {
        return MediaError(MediaProblem::encodeFailed, "cannot convert " + sizeText(view.width, view.height) +
                                                          " pictures to " +
                                                          sizeText(destination.width, destination.height));
    };
    SwsContextPtr context(sws_alloc_context());
    if (!context) throw refused();
    SwsContext* const raw = context.get();
    const bool set =
        av_opt_set_int(raw, "srcw", view.width, 0) >= 0 && av_opt_set_int(raw, "srch", view.height, 0) >= 0 &&
        av_opt_set_int(raw, "src_format", AV_PIX_FMT_BGR0, 0) >= 0 &&
        av_opt_set_int(raw, "dstw", destination.width, 0) >= 0 &&
        av_opt_set_int(raw, "dsth", destination.height, 0) >= 0 &&
        av_opt_set_int(raw, "dst_format", destination.format, 0) >= 0 &&
        av_opt_set_int(raw, "sws_flags", SWS_BILINEAR, 0) >= 0 && av_opt_set_int(raw, "threads", threads_, 0) >= 0;
    if (!set || sws_init_context(raw, nullptr, nullptr) < 0) throw refused();
    // RGB input is full range; the output uses BT.709 limited range, as the encoders signal. A
    // threaded context hands this on to each band's context.
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
    constexpr int neutral = 1 << 16;
    if (sws_setColorspaceDetails(raw, coefficients, 1, coefficients, 0, 0, neutral, neutral) < 0) throw refused();

    context_ = std::move(context);
    sourceWidth_ = view.width;
    sourceHeight_ = view.height;
    destinationWidth_ = destination.width;
    destinationHeight_ = destination.height;
    destinationFormat_ = destination.format;
}

void FrameConverter::convert(const TessaloyBase::FrameView& view, AVFrame& destination) {
    check(view);
    prepare(view, destination);

    // swscale takes a reference to the source; without a buffer of its own, that reference would be
    // a copy of the whole picture.
    const std::size_t bytes =
        view.bytesPerRow * static_cast<std::size_t>(view.height - 1) + static_cast<std::size_t>(view.width) * 4;
    auto* const pixels = const_cast<std::uint8_t*>(view.pixels);
    source_->buf[0] = av_buffer_create(pixels, bytes, keepPixels, nullptr, AV_BUFFER_FLAG_READONLY);
    if (source_->buf[0] == nullptr) throw MediaError(MediaProblem::encodeFailed, "out of memory");
    source_->data[0] = pixels;
    source_->linesize[0] = static_cast<int>(view.bytesPerRow);
    source_->width = view.width;
    source_->height = view.height;
    source_->format = AV_PIX_FMT_BGR0;
    const int status = sws_scale_frame(context_.get(), &destination, source_.get());
    av_frame_unref(source_.get());
    if (status < 0) {
        throw MediaError(MediaProblem::encodeFailed, "colour conversion failed: " + ffmpegErrorText(status));
    }
}

} // namespace TessaloyMedia
