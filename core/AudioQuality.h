#pragma once

#include "core/QualityMode.h"

#include <cstdint>

namespace TessaloyCore {

// The AAC encoder's settings for one quality mode.
struct AudioQuality {
    std::uint32_t sampleRate = 0;
    std::uint8_t channels = 0;
    std::uint32_t bitrate = 0; // bit/s

    // full 48 kHz stereo at 96 kbit/s, saver 24 kHz mono at 32 kbit/s, balanced 48 kHz stereo at 64 kbit/s.
    static AudioQuality of(QualityMode mode) noexcept;

    friend bool operator==(const AudioQuality&, const AudioQuality&) = default;
};

} // namespace TessaloyCore
