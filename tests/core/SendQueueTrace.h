#pragma once

#include "core/BitrateController.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace SendQueueTrace {

using TessaloyCore::BitrateController;

// One recorded look at the video send queue, `seconds` after the trace began.
struct Line {
    double seconds = 0;
    std::size_t queuedFrames = 0;
    std::size_t queuedBytes = 0;
    std::uint64_t droppedFrames = 0;
    std::optional<double> roundTripSeconds;
};

// The queue's caps in the recordings.
inline constexpr std::size_t maximumFrames = 8;
inline constexpr std::size_t maximumBytes = 4'000'000;

inline const BitrateController::Date origin{std::chrono::hours(24 * 365 * 50)};

inline BitrateController::Date at(double seconds) {
    return origin +
           std::chrono::duration_cast<BitrateController::Date::duration>(std::chrono::duration<double>(seconds));
}

inline BitrateController::Observation observation(const Line& line) {
    BitrateController::Observation result;
    result.at = at(line.seconds);
    result.queuedFrames = line.queuedFrames;
    result.maximumFrames = maximumFrames;
    result.queuedBytes = line.queuedBytes;
    result.maximumBytes = maximumBytes;
    result.droppedFrames = line.droppedFrames;
    if (line.roundTripSeconds) result.roundTrip = std::chrono::duration<double>(*line.roundTripSeconds);
    return result;
}

// `count` lines `interval` apart from `start`, each a copy of `pattern` at its own time.
inline std::vector<Line> repeated(Line pattern, double start, double interval, std::size_t count) {
    std::vector<Line> lines;
    for (std::size_t i = 0; i < count; ++i) {
        pattern.seconds = start + interval * static_cast<double>(i);
        lines.push_back(pattern);
    }
    return lines;
}

// A queue holding 6 of 8 frames: over the pressure mark.
inline Line congested() { return Line{0, 6, 500'000, 0, std::nullopt}; }
// An empty queue: headroom.
inline Line idle() { return Line{0, 0, 0, 0, std::nullopt}; }
// 3 of 8 frames: between the marks.
inline Line busy() { return Line{0, 3, 300'000, 0, std::nullopt}; }

} // namespace SendQueueTrace
