#include "media/VideoEncoder.h"

#include "core/VideoFrame.h"
#include "core/WireError.h"
#include "media/AnnexB.h"
#include "media/MediaError.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/hwcontext.h>
#include <libavutil/pixfmt.h>
}

#include <sched.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace TessaloyMedia {
namespace {

using TessaloyCore::Bytes;
using TessaloyCore::ByteView;
using TessaloyCore::VideoCodec;

// An encoder holding this many frames has stopped delivering.
constexpr std::size_t maximumPendingFrames = 64;
// Converted pictures in flight: the one being encoded, and spares while an encoder still holds one.
constexpr std::size_t poolFrames = 3;
// The rate control may run this far ahead of the bitrate (half a second of video), which bounds
// both the size of a keyframe and the latency it adds.
constexpr std::int64_t bufferDivisor = 2;
// The software encoders' finest quantiser: past it a screen looks no sharper.
constexpr int finestQuantiser = 18;

MediaError invalidSetting(const std::string& text) { return MediaError(MediaProblem::invalidInput, text); }

VideoEncoder::Settings validated(VideoEncoder::Settings settings) {
    if (settings.codec != VideoCodec::h264 && settings.codec != VideoCodec::hevc) {
        throw invalidSetting("unknown video codec");
    }
    const auto sideIsValid = [](int side) {
        return side >= VideoEncoder::minimumSide && side <= VideoEncoder::maximumSide;
    };
    if (!sideIsValid(settings.width) || !sideIsValid(settings.height)) {
        throw invalidSetting("unsupported output size " + std::to_string(settings.width) + "x" +
                             std::to_string(settings.height));
    }
    if (settings.framesPerSecond < 1 || settings.framesPerSecond > VideoEncoder::maximumFramesPerSecond) {
        throw invalidSetting("unsupported frame rate " + std::to_string(settings.framesPerSecond));
    }
    if (settings.bitrate < VideoEncoder::minimumBitrate || settings.bitrate > VideoEncoder::maximumBitrate) {
        throw invalidSetting("unsupported bitrate " + std::to_string(settings.bitrate));
    }
    if (!std::isfinite(settings.keyframeIntervalSeconds) || settings.keyframeIntervalSeconds <= 0 ||
        settings.keyframeIntervalSeconds > 3'600) {
        throw invalidSetting("unsupported keyframe interval");
    }
    if (settings.threads < 1 || settings.threads > VideoEncoder::maximumThreads) {
        throw invalidSetting("unsupported thread count " + std::to_string(settings.threads));
    }
    settings.width &= ~1;
    settings.height &= ~1;
    return settings;
}

// The cores this process may run on (a taskset narrows them).
int availableCores() {
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof cores, &cores) != 0) return 1;
    return std::max(1, CPU_COUNT(&cores));
}

void setOption(DictionaryPtr& options, const char* key, const std::string& value) {
    AVDictionary* raw = options.release();
    av_dict_set(&raw, key, value.c_str(), 0);
    options.reset(raw);
}

} // namespace

VideoEncoder::VideoEncoder(Settings settings) : VideoEncoder(std::move(settings), true) {}

std::optional<std::string> VideoEncoder::hardwareProblem(VideoCodec codec, const std::string& renderNode) {
    const Settings settings{.codec = codec,
                            .width = 640,
                            .height = 360,
                            .framesPerSecond = 30,
                            .bitrate = 1'000'000,
                            .keyframeIntervalSeconds = 1,
                            .renderNode = renderNode};
    try {
        const VideoEncoder probe(settings, false);
    } catch (const MediaError& failure) {
        return failure.text();
    }
    return std::nullopt;
}

VideoEncoder::VideoEncoder(Settings settings, bool fallsBackToSoftware)
    : settings_(validated(std::move(settings))),
      width_(settings_.width),
      height_(settings_.height),
      generation_(settings_.streamGeneration),
      publishedGeneration_(settings_.streamGeneration) {
    packet_.reset(av_packet_alloc());
    if (!packet_) throw MediaError(MediaProblem::openFailed, "could not allocate a packet");

    const bool hevc = settings_.codec == VideoCodec::hevc;
    const std::string hardwareName = hevc ? "hevc_vaapi" : "h264_vaapi";
    std::string whyNotHardware;
    if (settings_.renderNode.empty()) {
        whyNotHardware = "not wanted";
    } else if (avcodec_find_encoder_by_name(hardwareName.c_str()) == nullptr) {
        whyNotHardware = hardwareName + " is not in this FFmpeg";
    } else {
        try {
            vaapi_ = std::make_unique<VaapiDevice>(settings_.renderNode);
            encoderName_ = hardwareName;
            open();
            backendDescription_ = "hardware encoder " + encoderName_ + " on " + settings_.renderNode;
            return;
        } catch (const MediaError& failure) {
            whyNotHardware = failure.text();
            context_.reset();
            pool_.reset();
            hardwareFrames_.reset();
            vaapi_.reset();
        }
    }
    if (!fallsBackToSoftware) throw MediaError(MediaProblem::openFailed, whyNotHardware);
    encoderName_ = hevc ? "libx265" : "libx264";
    open();
    backendDescription_ = "software encoder " + encoderName_ + " (VAAPI: " + whyNotHardware + ")";
}

VideoEncoder::~VideoEncoder() = default;

bool VideoEncoder::liveBitrate() const { return encoderName_ == "libx264"; }

void VideoEncoder::open() {
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName_.c_str());
    if (codec == nullptr) throw MediaError(MediaProblem::unavailableCodec, encoderName_ + " is not available");
    context_.reset(avcodec_alloc_context3(codec));
    if (!context_) throw MediaError(MediaProblem::openFailed, "could not allocate " + encoderName_);

    AVCodecContext& context = *context_;
    context.width = width_;
    context.height = height_;
    context.time_base = AVRational{1, settings_.framesPerSecond};
    context.framerate = AVRational{settings_.framesPerSecond, 1};
    context.gop_size =
        std::max(1, static_cast<int>(std::lround(settings_.keyframeIntervalSeconds * settings_.framesPerSecond)));
    context.max_b_frames = 0;
    context.bit_rate = settings_.bitrate;
    context.rc_max_rate = settings_.bitrate;
    context.rc_buffer_size = static_cast<int>(settings_.bitrate / bufferDivisor);
    // Parameter sets come once, in extradata, and travel in the configuration.
    context.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    context.color_range = AVCOL_RANGE_MPEG;
    // libyuv's one-pass conversion writes BT.601 samples; sRGB's primaries and transfer are BT.709's.
    context.colorspace = AVCOL_SPC_SMPTE170M;
    context.color_primaries = AVCOL_PRI_BT709;
    context.color_trc = AVCOL_TRC_BT709;

    DictionaryPtr options;
    if (vaapi_) {
        openHardware();
        setOption(options, "async_depth", "1");
        setOption(options, "sei", "0");
    } else {
        openSoftware();
        setOption(options, "preset", "ultrafast");
        setOption(options, "tune", "zerolatency");
        setOption(options, "forced-idr", "1");
        // A quantiser floor: on an easy picture, rate control would otherwise go down to near
        // lossless and spend the frame's time coding detail that no one can see.
        const std::string floor = ":qpmin=" + std::to_string(finestQuantiser);
        if (settings_.codec == VideoCodec::hevc) {
            // One frame thread and no lookahead: each picture leaves before the next one comes. x265
            // ignores thread_count; its pool, which the one frame spreads over, has a size of its own.
            setOption(options, "x265-params",
                      "bframes=0:frame-threads=1:rc-lookahead=0:repeat-headers=0:annexb=1:log-level=warning:pools=" +
                          std::to_string(availableCores()) + floor);
        } else {
            setOption(options, "x264-params", "bframes=0:repeat-headers=0:annexb=1" + floor);
        }
    }

    AVDictionary* rawOptions = options.release();
    const int status = avcodec_open2(&context, codec, &rawOptions);
    options.reset(rawOptions);
    if (status < 0) {
        throw MediaError(MediaProblem::openFailed, "cannot open " + encoderName_ + ": " + ffmpegErrorText(status));
    }
    readParameterSets();
    pending_.clear();
    needsReopen_ = false;
    drained_ = false;
}

void VideoEncoder::openHardware() {
    hardwareFrames_ = vaapi_->makeFrames(width_, height_);
    context_->pix_fmt = AV_PIX_FMT_VAAPI;
    context_->hw_frames_ctx = av_buffer_ref(hardwareFrames_.get());
    if (context_->hw_frames_ctx == nullptr) throw MediaError(MediaProblem::openFailed, "out of memory");
    // The picture is converted to NV12 in memory, then uploaded to a surface.
    pool_ = std::make_unique<FramePool>(width_, height_, AV_PIX_FMT_NV12, poolFrames);
}

void VideoEncoder::openSoftware() {
    context_->pix_fmt = AV_PIX_FMT_YUV420P;
    context_->thread_count = settings_.threads;
    pool_ = std::make_unique<FramePool>(width_, height_, AV_PIX_FMT_YUV420P, poolFrames);
}

void VideoEncoder::readParameterSets() {
    parameterSets_.assign(parameterSetCount(settings_.codec), Bytes{});
    const ByteView extradata(context_->extradata, context_->extradata_size > 0 ? context_->extradata_size : 0);
    for (const ByteView unit : splitAnnexB(extradata)) {
        if (nalUnitRole(settings_.codec, unit) != NalUnitRole::parameterSet) continue;
        parameterSets_[parameterSetIndex(settings_.codec, unit)].assign(unit.begin(), unit.end());
    }
}

std::vector<VideoEncoder::Output> VideoEncoder::encode(const TessaloyBase::FrameView& frame,
                                                       std::uint64_t presentationMicroseconds, bool forceKeyframe) {
    FrameConverter::check(frame);
    std::optional<std::int64_t> bitrate;
    bool keyframe = forceKeyframe;
    bool refinement = false;
    {
        const std::lock_guard guard(lock_);
        bitrate = std::exchange(requestedBitrate_, std::nullopt);
        keyframe = std::exchange(keyframeRequested_, false) || keyframe;
        refinement = refinement_;
    }

    std::vector<Output> outputs;
    if (bitrate && *bitrate != settings_.bitrate) {
        settings_.bitrate = *bitrate;
        if (liveBitrate() && !needsReopen_) {
            // libx264 compares these with its parameters before each frame and reconfigures itself.
            context_->bit_rate = *bitrate;
            context_->rc_max_rate = *bitrate;
            context_->rc_buffer_size = static_cast<int>(*bitrate / bufferDivisor);
        } else {
            needsReopen_ = true;
        }
    }
    if (needsReopen_) {
        outputs = drain();
        ++generation_;
        open();
        const std::lock_guard guard(lock_);
        publishedGeneration_ = generation_;
    }

    AVFrame& picture = pool_->acquire();
    const auto converting = std::chrono::steady_clock::now();
    converter_.convert(frame, picture);
    lastConversionTime_ = std::chrono::steady_clock::now() - converting;
    picture.pts = nextIndex_++;
    picture.pict_type = keyframe ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    AVFrame* input = &picture;
    FramePtr surface;
    if (hardwareFrames_) {
        surface.reset(av_frame_alloc());
        if (!surface) throw MediaError(MediaProblem::encodeFailed, "out of memory");
        if (const int status = av_hwframe_get_buffer(hardwareFrames_.get(), surface.get(), 0); status < 0) {
            throw MediaError(MediaProblem::encodeFailed, "no VAAPI surface: " + ffmpegErrorText(status));
        }
        if (const int status = av_hwframe_transfer_data(surface.get(), &picture, 0); status < 0) {
            throw MediaError(MediaProblem::encodeFailed, "upload to VAAPI failed: " + ffmpegErrorText(status));
        }
        surface->pts = picture.pts;
        surface->pict_type = picture.pict_type;
        input = surface.get();
    }

    if (pending_.size() >= maximumPendingFrames) {
        throw MediaError(MediaProblem::encodeFailed, encoderName_ + " stopped delivering frames");
    }
    pending_.push_back({picture.pts, presentationMicroseconds, generation_, refinement});
    if (const int status = avcodec_send_frame(context_.get(), input); status < 0) {
        pending_.pop_back();
        throw MediaError(MediaProblem::encodeFailed, encoderName_ + ": " + ffmpegErrorText(status));
    }
    receive(outputs);
    return outputs;
}

std::vector<VideoEncoder::Output> VideoEncoder::flush() {
    std::vector<Output> outputs = drain();
    needsReopen_ = true;
    return outputs;
}

std::vector<VideoEncoder::Output> VideoEncoder::drain() {
    std::vector<Output> outputs;
    if (drained_) return outputs;
    if (const int status = avcodec_send_frame(context_.get(), nullptr); status < 0) {
        throw MediaError(MediaProblem::encodeFailed, encoderName_ + ": " + ffmpegErrorText(status));
    }
    drained_ = true;
    receive(outputs);
    pending_.clear();
    return outputs;
}

void VideoEncoder::receive(std::vector<Output>& outputs) {
    while (true) {
        const int status = avcodec_receive_packet(context_.get(), packet_.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return;
        if (status < 0) throw MediaError(MediaProblem::encodeFailed, encoderName_ + ": " + ffmpegErrorText(status));
        takePacket(*packet_, outputs);
        av_packet_unref(packet_.get());
    }
}

void VideoEncoder::takePacket(const AVPacket& packet, std::vector<Output>& outputs) {
    const PendingFrame frame = takePending(packet.pts);
    std::vector<ByteView> units;
    bool isKeyframe = false;
    for (const ByteView unit : splitAnnexB(ByteView(packet.data, packet.size > 0 ? packet.size : 0))) {
        switch (nalUnitRole(settings_.codec, unit)) {
            case NalUnitRole::parameterSet:
                parameterSets_[parameterSetIndex(settings_.codec, unit)].assign(unit.begin(), unit.end());
                break;
            case NalUnitRole::discardable:
                break;
            case NalUnitRole::keyframePicture:
                isKeyframe = true;
                units.push_back(unit);
                break;
            case NalUnitRole::picture:
                units.push_back(unit);
                break;
        }
    }
    if (units.empty()) return;
    if (std::any_of(parameterSets_.begin(), parameterSets_.end(), [](const Bytes& set) { return set.empty(); })) {
        throw MediaError(MediaProblem::encodeFailed, encoderName_ + " gave a picture without its parameter sets");
    }

    if (!lastConfiguration_ || lastConfiguration_->streamGeneration != frame.streamGeneration ||
        lastConfiguration_->parameterSets != parameterSets_) {
        TessaloyCore::VideoConfiguration configuration;
        configuration.codec = settings_.codec;
        configuration.streamGeneration = frame.streamGeneration;
        configuration.width = static_cast<std::uint32_t>(width_);
        configuration.height = static_cast<std::uint32_t>(height_);
        configuration.parameterSets = parameterSets_;
        lastConfiguration_ = configuration;
        outputs.emplace_back(std::move(configuration));
    }
    try {
        outputs.emplace_back(
            EncodedFrame{TessaloyCore::VideoFrame::packet(frame.streamGeneration, isKeyframe, frame.isRefinement,
                                                          frame.presentationMicroseconds, units),
                         frame.streamGeneration, isKeyframe});
    } catch (const TessaloyCore::WireError&) {
        throw MediaError(MediaProblem::encodeFailed,
                         "an encoded picture of " + std::to_string(packet.size) + " bytes does not fit in a packet");
    }
}

VideoEncoder::PendingFrame VideoEncoder::takePending(std::int64_t index) {
    while (!pending_.empty() && pending_.front().index < index) pending_.pop_front();
    if (pending_.empty() || pending_.front().index != index) {
        throw MediaError(MediaProblem::encodeFailed, encoderName_ + " returned a picture it was not given");
    }
    const PendingFrame frame = pending_.front();
    pending_.pop_front();
    return frame;
}

void VideoEncoder::setBitrate(std::int64_t bitrate) {
    if (bitrate < minimumBitrate || bitrate > maximumBitrate) {
        throw MediaError(MediaProblem::invalidInput, "unsupported bitrate " + std::to_string(bitrate));
    }
    const std::lock_guard guard(lock_);
    requestedBitrate_ = bitrate;
}

void VideoEncoder::requestKeyframe() {
    const std::lock_guard guard(lock_);
    keyframeRequested_ = true;
}

void VideoEncoder::setRefinement(bool isRefinement) {
    const std::lock_guard guard(lock_);
    refinement_ = isRefinement;
}

std::uint32_t VideoEncoder::streamGeneration() const {
    const std::lock_guard guard(lock_);
    return publishedGeneration_;
}

} // namespace TessaloyMedia
