#pragma once

#include "core/Bytes.h"
#include "core/CodecError.h"
#include "core/VideoCodec.h"
#include "core/WirePacket.h"

#include <cstdint>
#include <vector>

namespace TessaloyCore {

// The parameter sets of one encoder generation: SPS and PPS for H.264; VPS, SPS and PPS for HEVC,
// each without start code.
struct VideoConfiguration {
    using Error = CodecError<VideoConfiguration>;

    static constexpr std::size_t maximumParameterSets = 3;
    static constexpr std::size_t maximumParameterSetBytes = 65'536;

    VideoCodec codec = VideoCodec::h264;
    std::uint32_t streamGeneration = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<Bytes> parameterSets;

    static VideoConfiguration decode(const WirePacket& packet);
    // Throws Error tooLong when a limit is broken.
    WirePacket packet() const;

    friend bool operator==(const VideoConfiguration&, const VideoConfiguration&) = default;
};

} // namespace TessaloyCore
