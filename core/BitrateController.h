#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace TessaloyCore {

// Adaptive video bitrate: additive increase, multiplicative decrease, judged from the send queue's
// fill, dropped frames and round-trip samples. A plain value, used from one thread at a time; it never
// reads a clock: every observation carries its own time, so a recorded trace replays exactly.
//
// Observations are gathered into a window. The first observation opens it; an observation that
// comes at least `evaluationInterval` after the window opened closes it (itself included), the
// window is judged, and the next window opens at that observation. The bitrate therefore changes at
// most once per `evaluationInterval` of observation time.
//
// A window is under pressure when any of these holds:
//  - the send queue was at least `pressureFill` full (queued frames against the frame cap, or queued
//    bytes against the byte cap, whichever is fuller) at some observation;
//  - a frame was dropped;
//  - even its lowest round-trip sample lay more than `roundTripRise` above the lowest sample this
//    controller has seen (a standing queue somewhere on the path).
// It has headroom when none of that holds and the queue stayed below `headroomFill` at every
// observation. Anything between is steady.
//
// Pressure multiplies the bitrate by `decreaseFactor`, headroom adds `increaseFraction` of the
// maximum, steady keeps it; the result is always kept within the limits.
class BitrateController {
public:
    using Date = std::chrono::system_clock::time_point;
    using Seconds = std::chrono::duration<double>;

    static constexpr Seconds evaluationInterval{1.0};
    static constexpr double pressureFill = 0.5;
    static constexpr double headroomFill = 0.25;
    static constexpr Seconds roundTripRise{0.1};
    static constexpr double decreaseFactor = 0.5;
    static constexpr double increaseFraction = 0.05;

    // Bitrates in bit/s. The controller keeps 1 <= minimum <= maximum and starts at `start` clamped
    // into that range.
    struct Limits {
        std::int64_t minimum = 0;
        std::int64_t maximum = 0;
        std::int64_t start = 0;

        friend bool operator==(const Limits&, const Limits&) = default;
    };

    // One look at the sender. A cap of 0 means that dimension is not limited and is not judged.
    // Round-trip samples that are negative or not finite are ignored.
    struct Observation {
        Date at;
        std::size_t queuedFrames = 0;
        std::size_t maximumFrames = 0;
        std::size_t queuedBytes = 0;
        std::size_t maximumBytes = 0;
        std::uint64_t droppedFrames = 0; // since the previous observation
        std::optional<Seconds> roundTrip;
    };

    enum class Load { pressure, steady, headroom };

    struct Decision {
        std::int64_t bitrate = 0; // to encode at from now on
        bool changed = false;     // this observation changed the bitrate
        Load load = Load::steady; // found by the latest judged window; steady before the first
        // The latest judged window was under pressure while the bitrate already was the minimum.
        bool pressureAtMinimum = false;
        // The latest judged window had headroom while the bitrate already was the maximum.
        bool headroomAtMaximum = false;

        friend bool operator==(const Decision&, const Decision&) = default;
    };

    explicit BitrateController(Limits limits) noexcept;

    // Observations are expected in time order; one earlier than the open window's start is counted
    // in that window but cannot close it.
    Decision observe(const Observation& observation);

    const Limits& limits() const noexcept { return limits_; }
    std::int64_t bitrate() const noexcept { return decision_.bitrate; }

private:
    Load judgeWindow() const;
    void addToWindow(const Observation& observation);

    Limits limits_;
    Decision decision_;
    std::optional<Date> windowStart_;
    double highestFill_ = 0;
    bool framesDropped_ = false;
    std::optional<Seconds> lowestRoundTripInWindow_;
    std::optional<Seconds> lowestRoundTrip_;
};

} // namespace TessaloyCore
