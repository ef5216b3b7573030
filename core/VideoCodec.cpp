#include "core/VideoCodec.h"

namespace TessaloyCore {

const char* nameOf(VideoCodec codec) noexcept { return codec == VideoCodec::hevc ? "hevc" : "h264"; }

std::optional<VideoCodec> videoCodecFromByte(std::uint8_t byte) noexcept {
    if (byte == 1) return VideoCodec::h264;
    if (byte == 2) return VideoCodec::hevc;
    return std::nullopt;
}

} // namespace TessaloyCore
