#pragma once

#include "base/AudioBufferView.h"
#include "core/Bytes.h"
#include "media/FFmpegHandles.h"

#include <cstdint>
#include <vector>

namespace TessaloyMedia {

// Encodes captured sound as raw AAC-LC frames (no ADTS headers) of 1,024 samples per channel,
// with FFmpeg's native encoder, resampling any input rate and channel count to the stream's.
// Confined to its caller's queue (the audio capture queue).
class AacEncoder {
public:
    struct Settings {
        int sampleRate = 0;
        int channels = 0;
        std::int64_t bitrate = 0;
    };

    static constexpr int samplesPerFrame = 1'024;
    static constexpr std::size_t maximumFrameBytes = 8'192;
    static constexpr int maximumInputChannels = 16;
    static constexpr int maximumInputRate = 384'000;

    // Throws MediaError: invalidInput for a rate AAC does not have, a channel count other than 1 or
    // 2 or a bitrate outside 8,000...512,000 bit/s; unavailableCodec or openFailed with FFmpeg's text.
    explicit AacEncoder(Settings settings);
    ~AacEncoder();
    AacEncoder(const AacEncoder&) = delete;
    AacEncoder& operator=(const AacEncoder&) = delete;

    const Settings& settings() const { return settings_; }

    // The frames completed by these samples, each 1...maximumFrameBytes bytes. The input may
    // change rate or channel count between calls. Throws MediaError invalidInput for an unusable
    // buffer, encodeFailed with FFmpeg's text.
    std::vector<TessaloyCore::Bytes> encode(const TessaloyBase::AudioBufferView& buffer);

    // Encodes what is left (the last frame shorter) and drains the encoder; nothing may follow.
    std::vector<TessaloyCore::Bytes> flush();

private:
    void prepareResampler(int sampleRate, int channels);
    void resample(const std::uint8_t** input, int inputSamples);
    void encodeFrames(int minimumSamples, std::vector<TessaloyCore::Bytes>& frames);
    void send(const AVFrame* frame, std::vector<TessaloyCore::Bytes>& frames);

    Settings settings_;
    CodecContextPtr context_;
    SwrContextPtr resampler_;
    int inputRate_ = 0;
    int inputChannels_ = 0;
    AudioFifoPtr fifo_;
    FramePtr converted_;
    FramePtr frame_;
    PacketPtr packet_;
    std::int64_t nextPts_ = 0;
    bool flushed_ = false;
};

} // namespace TessaloyMedia
