#pragma once

#include "core/Bytes.h"
#include "core/VideoCodec.h"
#include "core/VideoConfiguration.h"
#include "core/VideoFrame.h"
#include "media/FFmpegHandles.h"
#include "media/SampleAssembler.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace TessaloyMedia {

// Device side: decodes the stream the host sends (a configuration, then its frames) into pictures
// in memory. Frames the SampleAssembler drops give no picture. Confined to its caller's queue.
class VideoDecoder {
public:
    enum class PixelLayout { rgb, bgra };

    struct Picture {
        int width = 0;
        int height = 0;
        std::size_t bytesPerRow = 0;
        // 3 (rgb: R, G, B) or 4 (bgra: B, G, R, A) bytes per pixel, rows without padding.
        TessaloyCore::Bytes pixels;
        std::uint64_t presentationMicroseconds = 0;
    };

    explicit VideoDecoder(PixelLayout layout);
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Opens FFmpeg's decoder for the codec (again when the codec changes). Throws MediaError:
    // invalidInput for a configuration without its parameter sets, unavailableCodec, openFailed.
    void configure(const TessaloyCore::VideoConfiguration& configuration);

    // The pictures that came out; none for a dropped frame. Throws MediaError decodeFailed with
    // FFmpeg's text for data the decoder refuses.
    std::vector<Picture> decode(const TessaloyCore::VideoFrame& frame);

    const SampleAssembler& assembler() const { return assembler_; }

private:
    Picture convert(const AVFrame& frame) const;

    PixelLayout layout_;
    SampleAssembler assembler_;
    std::optional<TessaloyCore::VideoCodec> codec_;
    CodecContextPtr context_;
    PacketPtr packet_;
    FramePtr frame_;
};

} // namespace TessaloyMedia
