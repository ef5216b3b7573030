#include "media/VideoDecoder.h"

#include "media/MediaError.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <cstring>

namespace TessaloyMedia {

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
    // One thread and low delay: a picture comes out for each frame that goes in.
    context->thread_count = 1;
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

VideoDecoder::Picture VideoDecoder::convert(const AVFrame& frame) {
    const bool fullRange = frame.color_range == AVCOL_RANGE_JPEG;
    if (!converter_ || frame.width != converterWidth_ || frame.height != converterHeight_ ||
        frame.format != converterFormat_ || frame.colorspace != converterColorspace_ ||
        frame.color_range != converterRange_) {
        const AVPixelFormat output = layout_ == PixelLayout::rgb ? AV_PIX_FMT_RGB24 : AV_PIX_FMT_BGRA;
        converter_.reset(sws_getContext(frame.width, frame.height, static_cast<AVPixelFormat>(frame.format),
                                        frame.width, frame.height, output, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!converter_) throw MediaError(MediaProblem::decodeFailed, "cannot convert the decoded picture");
        const int space = frame.colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
        constexpr int neutral = 1 << 16;
        sws_setColorspaceDetails(converter_.get(), sws_getCoefficients(space), fullRange ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, neutral, neutral);
        converterWidth_ = frame.width;
        converterHeight_ = frame.height;
        converterFormat_ = frame.format;
        converterColorspace_ = frame.colorspace;
        converterRange_ = frame.color_range;
    }
    Picture picture;
    picture.width = frame.width;
    picture.height = frame.height;
    picture.bytesPerRow = static_cast<std::size_t>(frame.width) * (layout_ == PixelLayout::rgb ? 3 : 4);
    picture.pixels.resize(picture.bytesPerRow * static_cast<std::size_t>(frame.height));
    picture.presentationMicroseconds = static_cast<std::uint64_t>(frame.pts);
    std::uint8_t* const planes[4] = {picture.pixels.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {static_cast<int>(picture.bytesPerRow), 0, 0, 0};
    if (sws_scale(converter_.get(), frame.data, frame.linesize, 0, frame.height, planes, strides) <= 0) {
        throw MediaError(MediaProblem::decodeFailed, "cannot convert the decoded picture");
    }
    return picture;
}

} // namespace TessaloyMedia
