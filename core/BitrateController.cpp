#include "core/BitrateController.h"

#include <algorithm>
#include <cmath>

namespace TessaloyCore {

namespace {

BitrateController::Limits normalised(BitrateController::Limits limits) noexcept {
    limits.minimum = std::max<std::int64_t>(1, limits.minimum);
    limits.maximum = std::max(limits.maximum, limits.minimum);
    limits.start = std::clamp(limits.start, limits.minimum, limits.maximum);
    return limits;
}

double fill(std::size_t queued, std::size_t maximum) noexcept {
    return maximum == 0 ? 0.0 : static_cast<double>(queued) / static_cast<double>(maximum);
}

} // namespace

BitrateController::BitrateController(Limits limits) noexcept : limits_(normalised(limits)) {
    decision_.bitrate = limits_.start;
}

BitrateController::Decision BitrateController::observe(const Observation& observation) {
    decision_.changed = false;
    if (!windowStart_) windowStart_ = observation.at;
    addToWindow(observation);
    if (observation.at - *windowStart_ < evaluationInterval) return decision_;

    const std::int64_t before = decision_.bitrate;
    decision_.load = judgeWindow();
    decision_.pressureAtMinimum = decision_.load == Load::pressure && before == limits_.minimum;
    decision_.headroomAtMaximum = decision_.load == Load::headroom && before == limits_.maximum;
    switch (decision_.load) {
        case Load::pressure: {
            const auto lowered = static_cast<std::int64_t>(static_cast<double>(before) * decreaseFactor);
            decision_.bitrate = std::max(limits_.minimum, lowered);
            break;
        }
        case Load::headroom: {
            const std::int64_t step =
                std::max<std::int64_t>(1, std::llround(static_cast<double>(limits_.maximum) * increaseFraction));
            decision_.bitrate = limits_.maximum - before <= step ? limits_.maximum : before + step;
            break;
        }
        case Load::steady:
            break;
    }
    decision_.changed = decision_.bitrate != before;

    windowStart_ = observation.at;
    highestFill_ = 0;
    framesDropped_ = false;
    lowestRoundTripInWindow_.reset();
    return decision_;
}

void BitrateController::addToWindow(const Observation& observation) {
    highestFill_ = std::max({highestFill_, fill(observation.queuedFrames, observation.maximumFrames),
                             fill(observation.queuedBytes, observation.maximumBytes)});
    framesDropped_ = framesDropped_ || observation.droppedFrames > 0;
    if (observation.roundTrip && std::isfinite(observation.roundTrip->count()) && observation.roundTrip->count() >= 0) {
        const Seconds sample = *observation.roundTrip;
        lowestRoundTripInWindow_ = lowestRoundTripInWindow_ ? std::min(*lowestRoundTripInWindow_, sample) : sample;
        lowestRoundTrip_ = lowestRoundTrip_ ? std::min(*lowestRoundTrip_, sample) : sample;
    }
}

BitrateController::Load BitrateController::judgeWindow() const {
    const bool delayed = lowestRoundTripInWindow_ && *lowestRoundTripInWindow_ - *lowestRoundTrip_ > roundTripRise;
    if (highestFill_ >= pressureFill || framesDropped_ || delayed) return Load::pressure;
    if (highestFill_ < headroomFill) return Load::headroom;
    return Load::steady;
}

} // namespace TessaloyCore
