#pragma once

#include <cstdint>
#include <optional>

namespace TessaloyCore {

enum class VideoCodec : std::uint8_t { h264 = 1, hevc = 2 };

// "h264" or "hevc".
const char* nameOf(VideoCodec codec) noexcept;
// The codec of a wire byte; nullopt for any other byte.
std::optional<VideoCodec> videoCodecFromByte(std::uint8_t byte) noexcept;

} // namespace TessaloyCore
