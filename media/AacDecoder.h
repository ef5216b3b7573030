#pragma once

#include "core/Bytes.h"
#include "media/FFmpegHandles.h"

#include <vector>

namespace TessaloyMedia {

// Device side: decodes the raw AAC-LC frames of an audio stream into interleaved float samples.
// Confined to its caller's queue.
class AacDecoder {
public:
    // Throws MediaError: invalidInput for a rate outside 1...16,777,215 Hz or a channel count other
    // than 1 or 2; unavailableCodec or openFailed with FFmpeg's text.
    AacDecoder(int sampleRate, int channels);
    ~AacDecoder();
    AacDecoder(const AacDecoder&) = delete;
    AacDecoder& operator=(const AacDecoder&) = delete;

    // The AudioSpecificConfig (ISO/IEC 14496-3) of an AAC-LC stream: what raw frames lack.
    static TessaloyCore::Bytes audioSpecificConfig(int sampleRate, int channels);

    // The samples of one frame (none for the first, which the decoder keeps). Throws MediaError
    // invalidInput for an empty frame, decodeFailed with FFmpeg's text.
    std::vector<float> decode(TessaloyCore::ByteView frame);

    int sampleRate() const { return sampleRate_; }
    int channels() const { return channels_; }

private:
    int sampleRate_;
    int channels_;
    CodecContextPtr context_;
    PacketPtr packet_;
    FramePtr frame_;
};

} // namespace TessaloyMedia
