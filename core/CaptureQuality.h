#pragma once

#include "core/BitrateController.h"
#include "core/QualityRung.h"

#include <cstdint>
#include <vector>

namespace TessaloyCore {

// The rungs a capture started at `rung` may walk: its mode's ladder from that rung down, the mode
// being the first of full, balanced and saver whose ladder holds the rung. A rung of no ladder is
// a ladder of one.
std::vector<QualityRung> ladderFrom(const QualityRung& rung);

// `limits` within what the encoder takes, floor to ceiling; the maximum is never below the minimum.
BitrateController::Limits clampedLimits(BitrateController::Limits limits, std::int64_t floor, std::int64_t ceiling);

} // namespace TessaloyCore
