#include "media/AacDecoder.h"

#include "media/MediaError.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
}

#include <array>
#include <cstring>
#include <string>

namespace TessaloyMedia {
namespace {

constexpr std::array<int, 13> sampleRateIndices{96'000, 88'200, 64'000, 48'000, 44'100, 32'000, 24'000,
                                                22'050, 16'000, 12'000, 11'025, 8'000,  7'350};
constexpr int audioObjectTypeLowComplexity = 2;
constexpr unsigned explicitRateIndex = 15;
constexpr int maximumExplicitRate = (1 << 24) - 1;

MediaError decodeFailure(int status) {
    return MediaError(MediaProblem::decodeFailed, "aac: " + ffmpegErrorText(status));
}

} // namespace

TessaloyCore::Bytes AacDecoder::audioSpecificConfig(int sampleRate, int channels) {
    // Fields, most significant bit first: object type (5), rate index (4) [explicit rate (24)],
    // channel configuration (4), then GASpecificConfig: frame length, core coder, extension (1 each), all 0.
    std::uint64_t bits = audioObjectTypeLowComplexity;
    int bitCount = 5;
    unsigned index = explicitRateIndex;
    for (unsigned i = 0; i < sampleRateIndices.size(); ++i) {
        if (sampleRateIndices[i] == sampleRate) index = i;
    }
    bits = (bits << 4) | index;
    bitCount += 4;
    if (index == explicitRateIndex) {
        bits = (bits << 24) | static_cast<std::uint64_t>(sampleRate);
        bitCount += 24;
    }
    bits = (bits << 4) | static_cast<std::uint64_t>(channels);
    bits <<= 3;
    bitCount += 7;
    const int bytes = (bitCount + 7) / 8;
    bits <<= bytes * 8 - bitCount;
    TessaloyCore::Bytes config(static_cast<std::size_t>(bytes));
    for (int i = 0; i < bytes; ++i) config[static_cast<std::size_t>(i)] = (bits >> (8 * (bytes - 1 - i))) & 0xFF;
    return config;
}

AacDecoder::AacDecoder(int sampleRate, int channels) : sampleRate_(sampleRate), channels_(channels) {
    if (sampleRate < 1 || sampleRate > maximumExplicitRate) {
        throw MediaError(MediaProblem::invalidInput, "unsupported sample rate " + std::to_string(sampleRate));
    }
    if (channels != 1 && channels != 2) {
        throw MediaError(MediaProblem::invalidInput, "unsupported channel count " + std::to_string(channels));
    }
    const AVCodec* codec = avcodec_find_decoder_by_name("aac");
    if (codec == nullptr) throw MediaError(MediaProblem::unavailableCodec, "aac is not available");
    context_.reset(avcodec_alloc_context3(codec));
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    if (!context_ || !packet_ || !frame_) throw MediaError(MediaProblem::openFailed, "out of memory");

    const TessaloyCore::Bytes config = audioSpecificConfig(sampleRate, channels);
    // FFmpeg reads extradata with padding after it, and frees it with the context.
    context_->extradata = static_cast<std::uint8_t*>(av_mallocz(config.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (context_->extradata == nullptr) throw MediaError(MediaProblem::openFailed, "out of memory");
    std::memcpy(context_->extradata, config.data(), config.size());
    context_->extradata_size = static_cast<int>(config.size());
    context_->sample_rate = sampleRate;
    av_channel_layout_default(&context_->ch_layout, channels);
    if (const int status = avcodec_open2(context_.get(), codec, nullptr); status < 0) {
        throw MediaError(MediaProblem::openFailed, "cannot open the aac decoder: " + ffmpegErrorText(status));
    }
}

AacDecoder::~AacDecoder() = default;

std::vector<float> AacDecoder::decode(TessaloyCore::ByteView frame) {
    if (frame.empty()) throw MediaError(MediaProblem::invalidInput, "empty AAC frame");
    if (const int status = av_new_packet(packet_.get(), static_cast<int>(frame.size())); status < 0) {
        throw decodeFailure(status);
    }
    std::memcpy(packet_->data, frame.data(), frame.size());
    const int sent = avcodec_send_packet(context_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (sent < 0) throw decodeFailure(sent);

    std::vector<float> samples;
    while (true) {
        const int status = avcodec_receive_frame(context_.get(), frame_.get());
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) break;
        if (status < 0) throw decodeFailure(status);
        const int channels = frame_->ch_layout.nb_channels;
        const auto count = static_cast<std::size_t>(frame_->nb_samples);
        const auto format = static_cast<AVSampleFormat>(frame_->format);
        if ((format != AV_SAMPLE_FMT_FLTP && format != AV_SAMPLE_FMT_FLT) || channels != channels_) {
            av_frame_unref(frame_.get());
            throw MediaError(MediaProblem::decodeFailed, "aac: unexpected sample layout");
        }
        const std::size_t start = samples.size();
        samples.resize(start + count * static_cast<std::size_t>(channels));
        if (format == AV_SAMPLE_FMT_FLT) {
            std::memcpy(samples.data() + start, frame_->data[0], count * static_cast<std::size_t>(channels) * 4);
        } else {
            for (int channel = 0; channel < channels; ++channel) {
                const auto* plane = reinterpret_cast<const float*>(frame_->extended_data[channel]);
                for (std::size_t i = 0; i < count; ++i) {
                    samples[start + i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(channel)] =
                        plane[i];
                }
            }
        }
        av_frame_unref(frame_.get());
    }
    return samples;
}

} // namespace TessaloyMedia
