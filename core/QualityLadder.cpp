#include "core/QualityLadder.h"

#include <stdexcept>

namespace TessaloyCore {

QualityLadder::QualityLadder(std::size_t rungCount) : rungCount_(rungCount) {
    if (rungCount == 0) throw std::invalid_argument("a quality ladder needs at least one rung");
}

QualityLadder::Decision QualityLadder::observe(Date now, const BitrateController::Decision& bitrate) {
    if (lastChange_ && now < *lastChange_) return Stay{};

    if (!bitrate.pressureAtMinimum) {
        pressureSince_.reset();
    } else if (!pressureSince_) {
        pressureSince_ = now;
    }
    if (!bitrate.headroomAtMaximum) {
        headroomSince_.reset();
    } else if (!headroomSince_) {
        headroomSince_ = now;
    }

    if (pressureSince_ && now - *pressureSince_ >= stepDownAfter && rung_ + 1 < rungCount_) {
        return stepTo(rung_ + 1, now);
    }
    if (headroomSince_ && now - *headroomSince_ >= stepUpAfter && rung_ > 0) return stepTo(rung_ - 1, now);
    return Stay{};
}

QualityLadder::Decision QualityLadder::stepTo(std::size_t rung, Date now) {
    rung_ = rung;
    lastChange_ = now;
    pressureSince_.reset();
    headroomSince_.reset();
    return StepTo{rung};
}

} // namespace TessaloyCore
