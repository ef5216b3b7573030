#include "core/CaptureQuality.h"

#include <algorithm>

namespace TessaloyCore {

std::vector<QualityRung> ladderFrom(const QualityRung& rung) {
    for (const auto mode : {QualityMode::full, QualityMode::balanced, QualityMode::saver}) {
        const std::vector<QualityRung> rungs = QualityRung::ladder(mode);
        const auto found = std::find(rungs.begin(), rungs.end(), rung);
        if (found != rungs.end()) return {found, rungs.end()};
    }
    return {rung};
}

BitrateController::Limits clampedLimits(BitrateController::Limits limits, std::int64_t floor, std::int64_t ceiling) {
    const auto clamp = [&](std::int64_t rate) { return std::clamp(rate, floor, ceiling); };
    limits.minimum = clamp(limits.minimum);
    limits.maximum = clamp(std::max(limits.maximum, limits.minimum));
    limits.start = clamp(limits.start);
    return limits;
}

} // namespace TessaloyCore
