#pragma once

#include "core/BitrateController.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <variant>

namespace TessaloyCore {

// Which rung of a mode's quality ladder to capture at (rung 0 is the best). Fed with every decision
// of the current rung's BitrateController, it steps one rung down once the controller has been under
// pressure at its minimum bitrate for `stepDownAfter` without a break, and one rung up once it has
// had headroom at its maximum for `stepUpAfter`; it never leaves the ladder. A step restarts both
// times, and decisions dated before the latest step never count: the owner builds a new controller
// for the new rung. A plain value; it never reads a clock.
class QualityLadder {
public:
    using Date = std::chrono::system_clock::time_point;
    using Seconds = std::chrono::duration<double>;

    static constexpr Seconds stepDownAfter{5.0};
    static constexpr Seconds stepUpAfter{20.0};

    struct Stay {
        friend bool operator==(const Stay&, const Stay&) = default;
    };
    struct StepTo {
        std::size_t rung = 0;
        friend bool operator==(const StepTo&, const StepTo&) = default;
    };
    using Decision = std::variant<Stay, StepTo>;

    // Starts at rung 0 with no pressure, headroom or change times. Throws std::invalid_argument for
    // a count of 0.
    explicit QualityLadder(std::size_t rungCount);

    // The rung changes with every StepTo returned.
    Decision observe(Date now, const BitrateController::Decision& bitrate);

    std::size_t rungCount() const noexcept { return rungCount_; }
    std::size_t rung() const noexcept { return rung_; }
    const std::optional<Date>& pressureSince() const noexcept { return pressureSince_; }
    const std::optional<Date>& headroomSince() const noexcept { return headroomSince_; }
    const std::optional<Date>& lastChange() const noexcept { return lastChange_; }

private:
    Decision stepTo(std::size_t rung, Date now);

    std::size_t rungCount_;
    std::size_t rung_ = 0;
    std::optional<Date> pressureSince_;
    std::optional<Date> headroomSince_;
    std::optional<Date> lastChange_;
};

} // namespace TessaloyCore
