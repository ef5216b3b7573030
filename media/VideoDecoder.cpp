#include "media/VideoDecoder.h"

#include "media/MediaError.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libavutil/pixfmt.h>
}

#include <libyuv/convert_argb.h>

#include <cstring>

namespace TessaloyMedia {
namespace {

// libyuv's coefficients for the colour signal of `frame`; the mirrored set is for the chroma planes
// passed swapped.
const libyuv::YuvConstants& matrixOf(const AVFrame& frame, bool mirrored) {
    const bool fullRange = frame.color_range == AVCOL_RANGE_JPEG || frame.format == AV_PIX_FMT_YUVJ420P;
    if (frame.colorspace == AVCOL_SPC_BT709) {
        if (fullRange) return mirrored ? libyuv::kYvuF709Constants : libyuv::kYuvF709Constants;
        return mirrored ? libyuv::kYvuH709Constants : libyuv::kYuvH709Constants;
    }
    if (fullRange) return mirrored ? libyuv::kYvuJPEGConstants : libyuv::kYuvJPEGConstants;
    return mirrored ? libyuv::kYvuI601Constants : libyuv::kYuvI601Constants;
}

} // namespace

VideoDecoder::VideoDecoder(PixelLayout layout) : layout_(layout), packet_(av_packet_alloc()), frame_(av_frame_alloc()) {
    if (!packet_ || !frame_) throw MediaError(MediaProblem::openFailed, "out of memory");
}

VideoDecoder::~VideoDecoder() = default;

void VideoDecoder::configure(const TessaloyCore::VideoConfiguration& configuration) {
    assembler_.configure(configuration);
    if (codec_ == configuration.codec && context_) return;
    context_.reset();
    codec_.reset();
    const char* name = configuration.codec == TessaloyCore::VideoCodec::hevc ? "hevc" : "h264";
    const AVCodec* decoder = avcodec_find_decoder_by_name(name);
    if (decoder == nullptr) throw MediaError(MediaProblem::unavailableCodec, std::string(name) + " is not available");
    CodecContextPtr context(avcodec_alloc_context3(decoder));
    if (!context) throw MediaError(MediaProblem::openFailed, "out of memory");
    // Low delay, and threads only across the slices of one picture: a picture comes out for each
    // frame that goes in.
    context->thread_type = FF_THREAD_SLICE;
    context->thread_count = 0;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if (const int status = avcodec_open2(context.get(), decoder, nullptr); status < 0) {
        throw MediaError(MediaProblem::openFailed,
                         "cannot open the " + std::string(name) + " decoder: " + ffmpegErrorText(status));
    }
    context_ = std::move(context);
    codec_ = configuration.codec;
}

std::vector<VideoDecoder::Picture> VideoDecoder::decode(const TessaloyCore::VideoFrame& frame) {
    std::vector<Picture> pictures;
    auto result = assembler_.assemble(frame);
    auto* unit = std::get_if<SampleAssembler::AccessUnit>(&result);
    if (unit == nullptr || !context_) return pictures;

    av_packet_unref(packet_.get());
    if (av_new_packet(packet_.get(), static_cast<int>(unit->annexB.size())) < 0) {
        throw MediaError(MediaProblem::decodeFailed, "out of memory");
    }
    std::memcpy(packet_->data, unit->annexB.data(), unit->annexB.size());
    packet_->pts = static_cast<std::int64_t>(unit->presentationMicroseconds);
    if (unit->isKeyframe) packet_->flags |= AV_PKT_FLAG_KEY;
    const int sent = avcodec_send_packet(context_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (sent < 0) throw MediaError(MediaProblem::decodeFailed, ffmpegErrorText(sent));

    while (true) {
        const int status = avcodec_receive_frame(context_.get(), frame_.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) break;
        if (status < 0) throw MediaError(MediaProblem::decodeFailed, ffmpegErrorText(status));
        pictures.push_back(convert(*frame_));
        av_frame_unref(frame_.get());
    }
    return pictures;
}

VideoDecoder::Picture VideoDecoder::convert(const AVFrame& frame) const {
    if (frame.format != AV_PIX_FMT_YUV420P && frame.format != AV_PIX_FMT_YUVJ420P) {
        const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame.format));
        throw MediaError(MediaProblem::decodeFailed, std::string("cannot show a decoded picture in ") +
                                                         (name != nullptr ? name : "no known format"));
    }
    Picture picture;
    picture.width = frame.width;
    picture.height = frame.height;
    picture.bytesPerRow = static_cast<std::size_t>(frame.width) * (layout_ == PixelLayout::rgb ? 3 : 4);
    picture.pixels.resize(picture.bytesPerRow * static_cast<std::size_t>(frame.height));
    picture.presentationMicroseconds = static_cast<std::uint64_t>(frame.pts);
    const int stride = static_cast<int>(picture.bytesPerRow);
    int status = 0;
    if (layout_ == PixelLayout::bgra) {
        // libyuv's "ARGB" is B, G, R, A in memory.
        status = libyuv::I420ToARGBMatrix(frame.data[0], frame.linesize[0], frame.data[1], frame.linesize[1],
                                          frame.data[2], frame.linesize[2], picture.pixels.data(), stride,
                                          &matrixOf(frame, false), frame.width, frame.height);
    } else {
        // libyuv's "RGB24" is B, G, R in memory; with the chroma planes and the matrix mirrored it
        // writes R, G, B.
        status = libyuv::I420ToRGB24Matrix(frame.data[0], frame.linesize[0], frame.data[2], frame.linesize[2],
                                           frame.data[1], frame.linesize[1], picture.pixels.data(), stride,
                                           &matrixOf(frame, true), frame.width, frame.height);
    }
    if (status != 0) throw MediaError(MediaProblem::decodeFailed, "cannot convert the decoded picture");
    return picture;
}

} // namespace TessaloyMedia
