#include "core/CaptureQuality.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace TessaloyCore;

TEST(CaptureQuality, EveryRungWalksItsOwnModesLadderDownwards) {
    for (const auto mode : {QualityMode::full, QualityMode::balanced, QualityMode::saver}) {
        const std::vector<QualityRung> rungs = QualityRung::ladder(mode);
        for (std::size_t start = 0; start < rungs.size(); ++start) {
            SCOPED_TRACE(std::string(nameOf(mode)) + " rung " + std::to_string(start));
            EXPECT_EQ(ladderFrom(rungs[start]), std::vector<QualityRung>(rungs.begin() + start, rungs.end()));
        }
    }
}

TEST(CaptureQuality, ARungOfNoLadderIsALadderOfOne) {
    QualityRung odd = QualityRung::ladder(QualityMode::balanced).front();
    odd.profile.framesPerSecond = 24;
    EXPECT_EQ(ladderFrom(odd), std::vector<QualityRung>{odd});
}

TEST(CaptureQuality, LimitsAreClampedWithTheMaximumNeverBelowTheMinimum) {
    struct Case {
        BitrateController::Limits limits;
        BitrateController::Limits expected;
    };
    const std::vector<Case> cases = {
        {{1'000, 8'000, 4'000}, {1'000, 8'000, 4'000}},     // within: unchanged
        {{10, 80, 40}, {100, 100, 100}},                    // all below the floor
        {{5'000, 90'000, 20'000}, {5'000, 10'000, 10'000}}, // above the ceiling
        {{3'000, 2'000, 2'500}, {3'000, 3'000, 2'500}},     // maximum raised to the minimum
        {{20'000, 50, 30'000}, {10'000, 10'000, 10'000}},   // both ends at the ceiling
    };
    for (const Case& test : cases) {
        EXPECT_EQ(clampedLimits(test.limits, 100, 10'000), test.expected)
            << test.limits.minimum << " " << test.limits.maximum << " " << test.limits.start;
    }
}

} // namespace
