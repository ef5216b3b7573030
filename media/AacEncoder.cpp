#include "media/AacEncoder.h"

#include "media/MediaError.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <array>
#include <string>

namespace TessaloyMedia {
namespace {

constexpr std::array<int, 13> aacSampleRates{96'000, 88'200, 64'000, 48'000, 44'100, 32'000, 24'000,
                                             22'050, 16'000, 12'000, 11'025, 8'000,  7'350};
constexpr std::int64_t minimumBitrate = 8'000;
constexpr std::int64_t maximumBitrate = 512'000;
// Input is resampled in pieces of at most this many samples per channel.
constexpr std::size_t maximumChunk = 65'536;

AacEncoder::Settings validated(AacEncoder::Settings settings) {
    if (std::find(aacSampleRates.begin(), aacSampleRates.end(), settings.sampleRate) == aacSampleRates.end()) {
        throw MediaError(MediaProblem::invalidInput,
                         "AAC has no sample rate of " + std::to_string(settings.sampleRate));
    }
    if (settings.channels != 1 && settings.channels != 2) {
        throw MediaError(MediaProblem::invalidInput, "unsupported channel count " + std::to_string(settings.channels));
    }
    if (settings.bitrate < minimumBitrate || settings.bitrate > maximumBitrate) {
        throw MediaError(MediaProblem::invalidInput, "unsupported audio bitrate " + std::to_string(settings.bitrate));
    }
    return settings;
}

// swresample mixes channels at -3 dB each way: a stereo downmix would gain 3 dB and clip, a mono
// source would lose 3 dB. Mono is copied to both sides, and no output may exceed full scale.
int keepLevel(SwrContext& resampler, int inputChannels, int outputChannels) {
    if (const int status = av_opt_set_double(&resampler, "rematrix_maxval", 1.0, 0); status < 0) return status;
    if (inputChannels == 1 && outputChannels == 2) {
        const std::array<double, 2> copy{1.0, 1.0};
        return swr_set_matrix(&resampler, copy.data(), 1);
    }
    return 0;
}

MediaError encodeFailure(int status) {
    return MediaError(MediaProblem::encodeFailed, "aac: " + ffmpegErrorText(status));
}

} // namespace

AacEncoder::AacEncoder(Settings settings) : settings_(validated(settings)) {
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (codec == nullptr) throw MediaError(MediaProblem::unavailableCodec, "aac is not available");
    context_.reset(avcodec_alloc_context3(codec));
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    converted_.reset(av_frame_alloc());
    if (!context_ || !packet_ || !frame_ || !converted_) throw MediaError(MediaProblem::openFailed, "out of memory");

    context_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    context_->sample_rate = settings_.sampleRate;
    av_channel_layout_default(&context_->ch_layout, settings_.channels);
    context_->bit_rate = settings_.bitrate;
    context_->profile = FF_PROFILE_AAC_LOW;
    context_->time_base = AVRational{1, settings_.sampleRate};
    if (const int status = avcodec_open2(context_.get(), codec, nullptr); status < 0) {
        throw MediaError(MediaProblem::openFailed, "cannot open aac: " + ffmpegErrorText(status));
    }
    if (context_->frame_size != samplesPerFrame) {
        throw MediaError(MediaProblem::openFailed, "aac wants frames of " + std::to_string(context_->frame_size));
    }

    fifo_.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, settings_.channels, 2 * samplesPerFrame));
    if (!fifo_) throw MediaError(MediaProblem::openFailed, "out of memory");
    frame_->format = AV_SAMPLE_FMT_FLTP;
    frame_->sample_rate = settings_.sampleRate;
    frame_->nb_samples = samplesPerFrame;
    if (av_channel_layout_copy(&frame_->ch_layout, &context_->ch_layout) < 0 ||
        av_frame_get_buffer(frame_.get(), 0) < 0) {
        throw MediaError(MediaProblem::openFailed, "out of memory");
    }
}

AacEncoder::~AacEncoder() = default;

std::vector<TessaloyCore::Bytes> AacEncoder::encode(const TessaloyBase::AudioBufferView& buffer) {
    if (flushed_) throw MediaError(MediaProblem::encodeFailed, "aac: sound after the end of the stream");
    if (buffer.channels < 1 || buffer.channels > maximumInputChannels) {
        throw MediaError(MediaProblem::invalidInput, "unsupported channel count " + std::to_string(buffer.channels));
    }
    if (buffer.sampleRate < 1 || buffer.sampleRate > maximumInputRate) {
        throw MediaError(MediaProblem::invalidInput, "unsupported sample rate " + std::to_string(buffer.sampleRate));
    }
    std::vector<TessaloyCore::Bytes> frames;
    if (buffer.frameCount == 0) return frames;
    if (buffer.samples == nullptr) throw MediaError(MediaProblem::invalidInput, "sound buffer without samples");

    prepareResampler(buffer.sampleRate, buffer.channels);
    for (std::size_t offset = 0; offset < buffer.frameCount; offset += maximumChunk) {
        const std::size_t count = std::min(maximumChunk, buffer.frameCount - offset);
        const auto* start =
            reinterpret_cast<const std::uint8_t*>(buffer.samples + offset * static_cast<std::size_t>(buffer.channels));
        resample(&start, static_cast<int>(count));
        encodeFrames(samplesPerFrame, frames);
    }
    return frames;
}

std::vector<TessaloyCore::Bytes> AacEncoder::flush() {
    std::vector<TessaloyCore::Bytes> frames;
    if (flushed_) return frames;
    flushed_ = true;
    if (resampler_) resample(nullptr, 0);
    encodeFrames(1, frames);
    send(nullptr, frames);
    return frames;
}

void AacEncoder::prepareResampler(int sampleRate, int channels) {
    if (resampler_ && sampleRate == inputRate_ && channels == inputChannels_) return;
    // What the old resampler still holds belongs before the new input.
    if (resampler_) resample(nullptr, 0);
    resampler_.reset();
    AVChannelLayout inputLayout{};
    av_channel_layout_default(&inputLayout, channels);
    SwrContext* raw = nullptr;
    int status = swr_alloc_set_opts2(&raw, &context_->ch_layout, AV_SAMPLE_FMT_FLTP, settings_.sampleRate, &inputLayout,
                                     AV_SAMPLE_FMT_FLT, sampleRate, 0, nullptr);
    av_channel_layout_uninit(&inputLayout);
    resampler_.reset(raw);
    if (status >= 0) status = keepLevel(*resampler_, channels, settings_.channels);
    if (status >= 0) status = swr_init(resampler_.get());
    if (status < 0) {
        resampler_.reset();
        throw MediaError(MediaProblem::invalidInput, "cannot resample " + std::to_string(channels) + " channels at " +
                                                         std::to_string(sampleRate) +
                                                         " Hz: " + ffmpegErrorText(status));
    }
    inputRate_ = sampleRate;
    inputChannels_ = channels;
}

void AacEncoder::resample(const std::uint8_t** input, int inputSamples) {
    const int capacity = swr_get_out_samples(resampler_.get(), inputSamples);
    if (capacity < 0) throw encodeFailure(capacity);
    if (capacity == 0) return;
    if (converted_->nb_samples < capacity) {
        FramePtr frame(av_frame_alloc());
        if (!frame) throw MediaError(MediaProblem::encodeFailed, "out of memory");
        frame->format = AV_SAMPLE_FMT_FLTP;
        frame->sample_rate = settings_.sampleRate;
        frame->nb_samples = capacity;
        if (av_channel_layout_copy(&frame->ch_layout, &context_->ch_layout) < 0 ||
            av_frame_get_buffer(frame.get(), 0) < 0) {
            throw MediaError(MediaProblem::encodeFailed, "out of memory");
        }
        converted_ = std::move(frame);
    }
    const int converted = swr_convert(resampler_.get(), converted_->data, capacity, input, inputSamples);
    if (converted < 0) throw encodeFailure(converted);
    if (converted > 0 &&
        av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(converted_->data), converted) < converted) {
        throw MediaError(MediaProblem::encodeFailed, "out of memory");
    }
}

void AacEncoder::encodeFrames(int minimumSamples, std::vector<TessaloyCore::Bytes>& frames) {
    while (av_audio_fifo_size(fifo_.get()) >= minimumSamples && av_audio_fifo_size(fifo_.get()) > 0) {
        if (const int status = av_frame_make_writable(frame_.get()); status < 0) throw encodeFailure(status);
        const int count = std::min(av_audio_fifo_size(fifo_.get()), samplesPerFrame);
        if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame_->data), count) < count) {
            throw MediaError(MediaProblem::encodeFailed, "aac: lost samples");
        }
        frame_->nb_samples = count;
        frame_->pts = nextPts_;
        nextPts_ += count;
        send(frame_.get(), frames);
    }
}

void AacEncoder::send(const AVFrame* frame, std::vector<TessaloyCore::Bytes>& frames) {
    if (const int status = avcodec_send_frame(context_.get(), frame); status < 0) throw encodeFailure(status);
    while (true) {
        const int status = avcodec_receive_packet(context_.get(), packet_.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return;
        if (status < 0) throw encodeFailure(status);
        const auto size = static_cast<std::size_t>(packet_->size);
        if (size > maximumFrameBytes) {
            throw MediaError(MediaProblem::encodeFailed, "aac: a frame of " + std::to_string(size) + " bytes");
        }
        if (size > 0) frames.emplace_back(packet_->data, packet_->data + size);
        av_packet_unref(packet_.get());
    }
}

} // namespace TessaloyMedia
