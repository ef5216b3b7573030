#pragma once

#include "core/Bytes.h"
#include "core/CodecError.h"
#include "core/WirePacket.h"

#include <cstdint>
#include <vector>

namespace TessaloyCore {

// Up to 16 raw AAC-LC frames (no ADTS headers) of one stream.
struct AudioPacket {
    using Error = CodecError<AudioPacket>;

    static constexpr std::size_t maximumFrames = 16;
    static constexpr std::size_t maximumFrameBytes = 8'192;

    std::uint32_t sequence = 0;
    std::uint32_t sampleRate = 0;
    std::uint8_t channels = 0;
    std::vector<Bytes> frames;

    static AudioPacket decode(const WirePacket& packet);
    // Throws Error invalidValue for a channel count other than 1 or 2 or an empty frame, tooLong
    // for more frames or longer frames than the limits.
    WirePacket packet() const;

    friend bool operator==(const AudioPacket&, const AudioPacket&) = default;
};

} // namespace TessaloyCore
