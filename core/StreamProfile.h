#pragma once

#include <cstdint>

namespace TessaloyCore {

// What capture and the encoder are set up for: picture size in pixels, frame rate, the encoder's
// nominal bitrate in bit/s and the longest time between keyframes.
struct StreamProfile {
    int width = 0;
    int height = 0;
    int framesPerSecond = 0;
    std::int64_t bitrate = 0;
    double keyframeIntervalSeconds = 0;

    friend bool operator==(const StreamProfile&, const StreamProfile&) = default;
};

} // namespace TessaloyCore
