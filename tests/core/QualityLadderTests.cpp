#include "core/QualityLadder.h"
#include "core/QualityRung.h"
#include "tests/core/SendQueueTrace.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <vector>

namespace {

using namespace TessaloyCore;
using namespace SendQueueTrace;
using Stay = QualityLadder::Stay;
using StepTo = QualityLadder::StepTo;

BitrateController::Decision strained() {
    BitrateController::Decision decision;
    decision.load = BitrateController::Load::pressure;
    decision.pressureAtMinimum = true;
    return decision;
}

BitrateController::Decision roomy() {
    BitrateController::Decision decision;
    decision.load = BitrateController::Load::headroom;
    decision.headroomAtMaximum = true;
    return decision;
}

BitrateController::Decision calm() { return BitrateController::Decision{}; }

TEST(QualityLadder, StartsAtTheTopWithNoTimes) {
    const QualityLadder ladder(3);
    EXPECT_EQ(ladder.rungCount(), 3u);
    EXPECT_EQ(ladder.rung(), 0u);
    EXPECT_FALSE(ladder.pressureSince());
    EXPECT_FALSE(ladder.headroomSince());
    EXPECT_FALSE(ladder.lastChange());
    EXPECT_THROW(QualityLadder(0), std::invalid_argument);
}

TEST(QualityLadder, StepsDownAfterExactlyFiveSecondsOfPressureAtTheMinimum) {
    QualityLadder ladder(3);
    EXPECT_EQ(ladder.observe(at(10), strained()), QualityLadder::Decision(Stay{}));
    EXPECT_EQ(ladder.pressureSince(), at(10));
    EXPECT_EQ(ladder.observe(at(12), strained()), QualityLadder::Decision(Stay{}));
    EXPECT_EQ(ladder.observe(at(14.999), strained()), QualityLadder::Decision(Stay{}));
    EXPECT_EQ(ladder.rung(), 0u);
    EXPECT_EQ(ladder.observe(at(15), strained()), QualityLadder::Decision(StepTo{1}));
    EXPECT_EQ(ladder.rung(), 1u);
    EXPECT_EQ(ladder.lastChange(), at(15));
    EXPECT_FALSE(ladder.pressureSince());

    // The next step needs five more seconds of its own.
    EXPECT_EQ(ladder.observe(at(15), strained()), QualityLadder::Decision(Stay{}));
    EXPECT_EQ(ladder.observe(at(19.999), strained()), QualityLadder::Decision(Stay{}));
    EXPECT_EQ(ladder.observe(at(20), strained()), QualityLadder::Decision(StepTo{2}));
}

TEST(QualityLadder, ABreakInThePressureRestartsItsTime) {
    QualityLadder ladder(3);
    ladder.observe(at(0), strained());
    ladder.observe(at(3), calm());
    EXPECT_FALSE(ladder.pressureSince());
    ladder.observe(at(4), strained());
    EXPECT_EQ(ladder.observe(at(8.999), strained()), QualityLadder::Decision(Stay{}));
    EXPECT_EQ(ladder.observe(at(9), strained()), QualityLadder::Decision(StepTo{1}));

    // Pressure above the minimum is the bitrate controller's business, not the ladder's.
    QualityLadder other(3);
    BitrateController::Decision pressedAboveMinimum = strained();
    pressedAboveMinimum.pressureAtMinimum = false;
    for (int second = 0; second <= 30; ++second) {
        EXPECT_EQ(other.observe(at(second), pressedAboveMinimum), QualityLadder::Decision(Stay{}));
    }
}

TEST(QualityLadder, StepsUpAfterTwentySecondsOfHeadroomAtTheMaximum) {
    QualityLadder ladder(3);
    ladder.observe(at(0), strained());
    ASSERT_EQ(ladder.observe(at(5), strained()), QualityLadder::Decision(StepTo{1}));

    EXPECT_EQ(ladder.observe(at(6), roomy()), QualityLadder::Decision(Stay{}));
    EXPECT_EQ(ladder.headroomSince(), at(6));
    EXPECT_EQ(ladder.observe(at(25.999), roomy()), QualityLadder::Decision(Stay{}));
    EXPECT_EQ(ladder.observe(at(26), roomy()), QualityLadder::Decision(StepTo{0}));
    EXPECT_EQ(ladder.rung(), 0u);
    EXPECT_FALSE(ladder.headroomSince());

    // A calm second in between restarts the twenty.
    QualityLadder other(2);
    other.observe(at(0), strained());
    ASSERT_EQ(other.observe(at(5), strained()), QualityLadder::Decision(StepTo{1}));
    other.observe(at(10), roomy());
    other.observe(at(29), calm());
    other.observe(at(30), roomy());
    EXPECT_EQ(other.observe(at(49.999), roomy()), QualityLadder::Decision(Stay{}));
    EXPECT_EQ(other.observe(at(50), roomy()), QualityLadder::Decision(StepTo{0}));
}

TEST(QualityLadder, NeverStepsBeyondEitherEnd) {
    QualityLadder single(1);
    for (int second = 0; second <= 60; ++second) {
        EXPECT_EQ(single.observe(at(second), strained()), QualityLadder::Decision(Stay{}));
    }
    for (int second = 61; second <= 120; ++second) {
        EXPECT_EQ(single.observe(at(second), roomy()), QualityLadder::Decision(Stay{}));
    }
    EXPECT_EQ(single.rung(), 0u);

    QualityLadder top(3);
    for (int second = 0; second <= 60; ++second) {
        EXPECT_EQ(top.observe(at(second), roomy()), QualityLadder::Decision(Stay{}));
    }

    QualityLadder bottom(3);
    std::vector<std::size_t> steps;
    for (int second = 0; second <= 60; ++second) {
        const auto decision = bottom.observe(at(second), strained());
        if (const auto* step = std::get_if<StepTo>(&decision)) steps.push_back(step->rung);
    }
    EXPECT_EQ(steps, (std::vector<std::size_t>{1, 2}));
    EXPECT_EQ(bottom.rung(), 2u);
}

TEST(QualityLadder, DecisionsDatedBeforeTheLatestStepDoNotCount) {
    QualityLadder ladder(3);
    ladder.observe(at(0), strained());
    ASSERT_EQ(ladder.observe(at(5), strained()), QualityLadder::Decision(StepTo{1}));
    EXPECT_EQ(ladder.observe(at(1), strained()), QualityLadder::Decision(Stay{}));
    EXPECT_FALSE(ladder.pressureSince());
    ladder.observe(at(5.5), strained());
    EXPECT_EQ(ladder.pressureSince(), at(5.5));
    EXPECT_EQ(ladder.observe(at(10.499), strained()), QualityLadder::Decision(Stay{}));
    EXPECT_EQ(ladder.observe(at(10.5), strained()), QualityLadder::Decision(StepTo{2}));
}

// A recorded session on the full ladder: the link fails for 30 s, then clears. Each rung gets a new
// controller, as the capture pipeline does.
TEST(QualityLadder, FollowsARecordedTraceThroughTheControllers) {
    const auto rungs = QualityRung::ladder(QualityMode::full);
    std::vector<Line> trace = repeated(congested(), 0, 0.5, 60);            // 0 .. 29.5
    for (Line line : repeated(idle(), 30, 0.5, 100)) trace.push_back(line); // 30 .. 79.5

    QualityLadder ladder(rungs.size());
    BitrateController controller(rungs[0].limits);
    std::vector<std::pair<double, std::size_t>> steps;
    std::int64_t lowest = controller.bitrate();
    for (const Line& line : trace) {
        const auto decision = controller.observe(observation(line));
        lowest = std::min(lowest, decision.bitrate);
        const auto stepping = ladder.observe(at(line.seconds), decision);
        if (const auto* step = std::get_if<StepTo>(&stepping)) {
            steps.emplace_back(line.seconds, step->rung);
            controller = BitrateController(rungs[step->rung].limits);
        }
    }

    // Rung 0 (6 Mbit/s, floor 3): halved at 1 s, at its floor from the window judged at 2 s, so a
    // step at 7 s. Rung 1 (4 Mbit/s, floor 2) opens its first window at 7.5: floor at 8.5, pressure
    // there from 9.5, step at 14.5. Rung 2 is the bottom. From 31 s its 1 Mbit/s grows by 200 kbit/s
    // a second to 4 Mbit/s at 45 s; headroom at the maximum from 46 s, so a step up at 66 s.
    const std::vector<std::pair<double, std::size_t>> expected{{7.0, 1}, {14.5, 2}, {66.0, 1}};
    EXPECT_EQ(steps, expected);
    EXPECT_EQ(lowest, rungs[2].limits.minimum);
    EXPECT_EQ(ladder.rung(), 1u);
}

} // namespace
