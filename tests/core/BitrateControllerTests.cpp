#include "core/BitrateController.h"
#include "tests/core/SendQueueTrace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using namespace TessaloyCore;
using namespace SendQueueTrace;
using Load = BitrateController::Load;

struct Step {
    double seconds;
    BitrateController::Decision decision;
};

std::vector<Step> replay(BitrateController& controller, const std::vector<Line>& trace) {
    std::vector<Step> steps;
    for (const Line& line : trace) steps.push_back({line.seconds, controller.observe(observation(line))});
    return steps;
}

std::vector<Step> changes(const std::vector<Step>& steps) {
    std::vector<Step> result;
    for (const Step& step : steps) {
        if (step.decision.changed) result.push_back(step);
    }
    return result;
}

// The load that one window made of the given lines (from 0 s to 1 s) is judged to have.
Load loadOf(std::vector<Line> window) {
    BitrateController controller({1'000'000, 4'000'000, 2'000'000});
    window.front().seconds = 0;
    window.back().seconds = 1;
    BitrateController::Decision last;
    for (const Line& line : window) last = controller.observe(observation(line));
    return last.load;
}

Line idleAt(double seconds) {
    Line line = idle();
    line.seconds = seconds;
    return line;
}

Line withRoundTrip(Line line, double seconds) {
    line.roundTripSeconds = seconds;
    return line;
}

TEST(BitrateController, StartsAtTheStartBitrateAndWaitsAFullSecond) {
    BitrateController controller({1'000'000, 8'000'000, 4'000'000});
    EXPECT_EQ(controller.bitrate(), 4'000'000);
    for (const double seconds : {0.0, 0.5, 0.999}) {
        Line line = congested();
        line.seconds = seconds;
        const auto decision = controller.observe(observation(line));
        EXPECT_EQ(decision.bitrate, 4'000'000) << seconds;
        EXPECT_FALSE(decision.changed);
        EXPECT_EQ(decision.load, Load::steady);
    }
    Line line = congested();
    line.seconds = 1.0;
    const auto decision = controller.observe(observation(line));
    EXPECT_EQ(decision.bitrate, 2'000'000);
    EXPECT_TRUE(decision.changed);
    EXPECT_EQ(decision.load, Load::pressure);
}

TEST(BitrateController, SustainedPressureHalvesDownToTheMinimum) {
    BitrateController controller({1'000'000, 16'000'000, 16'000'000});
    const auto steps = replay(controller, repeated(congested(), 0, 0.25, 41));

    const auto changed = changes(steps);
    ASSERT_EQ(changed.size(), 4u);
    const std::int64_t expected[] = {8'000'000, 4'000'000, 2'000'000, 1'000'000};
    for (std::size_t i = 0; i < changed.size(); ++i) {
        EXPECT_EQ(changed[i].seconds, static_cast<double>(i + 1));
        EXPECT_EQ(changed[i].decision.bitrate, expected[i]);
        EXPECT_FALSE(changed[i].decision.pressureAtMinimum);
    }
    for (const Step& step : steps) EXPECT_GE(step.decision.bitrate, 1'000'000);
    EXPECT_EQ(controller.bitrate(), 1'000'000);

    // The window judged at 5 s was sent at the minimum: that, and not the one that reached it, counts.
    for (const Step& step : steps) {
        EXPECT_EQ(step.decision.pressureAtMinimum, step.seconds >= 5.0) << step.seconds;
        EXPECT_FALSE(step.decision.headroomAtMaximum);
    }
}

TEST(BitrateController, HeadroomGrowsAdditivelyToTheMaximum) {
    BitrateController controller({500'000, 10'000'000, 1'000'000});
    const auto steps = replay(controller, repeated(idle(), 0, 0.5, 45));

    // 5 % of the maximum per second: 500 kbit/s.
    const auto changed = changes(steps);
    ASSERT_EQ(changed.size(), 18u);
    for (std::size_t i = 0; i < changed.size(); ++i) {
        EXPECT_EQ(changed[i].seconds, static_cast<double>(i + 1));
        EXPECT_EQ(changed[i].decision.bitrate, 1'000'000 + 500'000 * static_cast<std::int64_t>(i + 1));
    }
    EXPECT_EQ(controller.bitrate(), 10'000'000);
    for (const Step& step : steps) {
        EXPECT_EQ(step.decision.headroomAtMaximum, step.seconds >= 19.0) << step.seconds;
        EXPECT_LE(step.decision.bitrate, 10'000'000);
    }
}

TEST(BitrateController, ChangesAtMostOnceASecondWhateverTheObservationRate) {
    BitrateController controller({1'000, 1'000'000'000, 1'000'000'000});
    // Irregular timestamps, some close together, some gaps: the windows close at 1.0, 2.3, 3.35 and 4.8.
    std::vector<Line> trace;
    for (const double seconds :
         {0.0, 0.01, 0.02, 0.9, 0.99, 1.0, 1.001, 1.5, 1.999, 2.3, 2.31, 3.2999, 3.35, 4.8, 4.81}) {
        Line line = congested();
        line.seconds = seconds;
        trace.push_back(line);
    }
    const auto changed = changes(replay(controller, trace));
    ASSERT_EQ(changed.size(), 4u);
    EXPECT_EQ(changed[0].seconds, 1.0);
    EXPECT_EQ(changed[1].seconds, 2.3);
    EXPECT_EQ(changed[2].seconds, 3.35);
    EXPECT_EQ(changed[3].seconds, 4.8);
    for (std::size_t i = 1; i < changed.size(); ++i) EXPECT_GE(changed[i].seconds - changed[i - 1].seconds, 1.0);
}

TEST(BitrateController, LimitsAreClampedIntoShape) {
    EXPECT_EQ(BitrateController({1'000, 2'000, 5'000}).bitrate(), 2'000);
    EXPECT_EQ(BitrateController({1'000, 2'000, 10}).bitrate(), 1'000);
    EXPECT_EQ(BitrateController({0, 0, 0}).limits(), (BitrateController::Limits{1, 1, 1}));
    EXPECT_EQ(BitrateController({-5, 100, 50}).limits(), (BitrateController::Limits{1, 100, 50}));
    EXPECT_EQ(BitrateController({3'000, 2'000, 2'500}).limits(), (BitrateController::Limits{3'000, 3'000, 3'000}));

    // Halving 5 would give 2: held at the minimum of 3.
    BitrateController low({3, 100, 5});
    EXPECT_EQ(replay(low, repeated(congested(), 0, 1, 2)).back().decision.bitrate, 3);
    // One step of 5 from 99 would give 104: held at the maximum of 100.
    BitrateController high({1, 100, 99});
    EXPECT_EQ(replay(high, repeated(idle(), 0, 1, 2)).back().decision.bitrate, 100);
    // A maximum near the top of the range neither overflows nor passes it.
    const std::int64_t top = std::numeric_limits<std::int64_t>::max();
    BitrateController huge({1, top, top - 10});
    EXPECT_EQ(replay(huge, repeated(idle(), 0, 1, 2)).back().decision.bitrate, top);
    // The increase step never rounds down to nothing.
    BitrateController tiny({1, 10, 1});
    EXPECT_EQ(replay(tiny, repeated(idle(), 0, 1, 2)).back().decision.bitrate, 2);
}

TEST(BitrateController, QueueFillAgainstEitherCapDecidesTheLoad) {
    auto frames = [](std::size_t queued) { return Line{0, queued, 0, 0, std::nullopt}; };
    auto bytes = [](std::size_t queued) { return Line{0, 0, queued, 0, std::nullopt}; };
    EXPECT_EQ(loadOf({frames(4), frames(0)}), Load::pressure); // exactly half
    EXPECT_EQ(loadOf({frames(3), frames(3)}), Load::steady);
    EXPECT_EQ(loadOf({frames(2), frames(0)}), Load::steady); // exactly a quarter
    EXPECT_EQ(loadOf({frames(1), frames(1)}), Load::headroom);
    EXPECT_EQ(loadOf({bytes(2'000'000), bytes(0)}), Load::pressure);
    EXPECT_EQ(loadOf({bytes(1'999'999), bytes(0)}), Load::steady);
    EXPECT_EQ(loadOf({bytes(999'999), bytes(999'999)}), Load::headroom);
    // The fullest moment of the window counts, not the last.
    EXPECT_EQ(loadOf({idle(), congested(), idle(), idle()}), Load::pressure);
}

TEST(BitrateController, UncappedQueuesAreNotJudged) {
    BitrateController controller({1'000, 10'000, 5'000});
    BitrateController::Observation first;
    first.at = at(0);
    first.queuedFrames = 1'000;
    first.queuedBytes = 1'000'000;
    controller.observe(first);
    BitrateController::Observation second = first;
    second.at = at(1);
    EXPECT_EQ(controller.observe(second).load, Load::headroom);
}

TEST(BitrateController, ADroppedFrameIsPressure) {
    Line dropped = idle();
    dropped.droppedFrames = 1;
    EXPECT_EQ(loadOf({idle(), dropped, idle()}), Load::pressure);
    EXPECT_EQ(loadOf({idle(), idle(), idle()}), Load::headroom);

    BitrateController controller({1'000, 10'000, 8'000});
    const auto steps = replay(controller, {idle(), Line{0.5, 0, 0, 3, std::nullopt}, Line{1.0, 0, 0, 0, std::nullopt},
                                           Line{2.0, 0, 0, 0, std::nullopt}});
    EXPECT_EQ(steps[2].decision.bitrate, 4'000);
    // Drops are counted per window: the next window is clean again.
    EXPECT_EQ(steps[3].decision.load, Load::headroom);
    EXPECT_EQ(steps[3].decision.bitrate, 4'500);
}

TEST(BitrateController, ARoundTripThatStaysHighAboveItsLowestIsPressure) {
    BitrateController controller({1'000, 10'000, 8'000});
    const auto steps = replay(
        controller, {
                        withRoundTrip(idleAt(0.0), 0.0625), withRoundTrip(idleAt(1.0), 0.0625), // the base: headroom
                        withRoundTrip(idleAt(1.5), 0.5),                                        // a spike ...
                        withRoundTrip(idleAt(2.0), 0.125),  // ... but the lowest rose 0.0625
                        withRoundTrip(idleAt(2.5), 0.1875), // rose 0.125 ...
                        withRoundTrip(idleAt(3.0), 0.25),   // ... and 0.1875: pressure
                        withRoundTrip(idleAt(3.5), 0.0625), // back down
                        idleAt(4.0),                        // no sample at all
                        idleAt(5.0),                        // no sample
                    });
    EXPECT_EQ(steps[1].decision.load, Load::headroom);
    EXPECT_EQ(steps[3].decision.load, Load::headroom);
    EXPECT_EQ(steps[5].decision.load, Load::pressure);
    EXPECT_EQ(steps[7].decision.load, Load::headroom);
    EXPECT_EQ(steps[8].decision.load, Load::headroom);
}

TEST(BitrateController, ImpossibleRoundTripSamplesAreIgnored) {
    BitrateController controller({1'000, 10'000, 8'000});
    const auto steps = replay(controller, {
                                              withRoundTrip(idleAt(0.0), 0.05),
                                              withRoundTrip(idleAt(0.5), -1.0),
                                              withRoundTrip(idleAt(1.0), std::nan("")),
                                              withRoundTrip(idleAt(1.5), std::numeric_limits<double>::infinity()),
                                              withRoundTrip(idleAt(2.0), 0.4),
                                          });
    // Had -1 s become the base, 0.05 s and 0.4 s would both look delayed.
    EXPECT_EQ(steps[2].decision.load, Load::headroom);
    EXPECT_EQ(steps[4].decision.load, Load::pressure);
}

TEST(BitrateController, ARecordedCongestionEpisode) {
    // Lines every half second: clear, a link that fills the queue, a half-full queue, clear again.
    std::vector<Line> trace = repeated(idle(), 0, 0.5, 6);                      // 0 .. 2.5
    for (Line line : repeated(congested(), 3.0, 0.5, 6)) trace.push_back(line); // 3 .. 5.5
    for (Line line : repeated(busy(), 6.0, 0.5, 6)) trace.push_back(line);      // 6 .. 8.5
    for (Line line : repeated(idle(), 9.0, 0.5, 6)) trace.push_back(line);      // 9 .. 11.5

    BitrateController controller({2'000'000, 8'000'000, 4'000'000});
    std::vector<std::pair<double, std::int64_t>> seen;
    for (const Step& step : changes(replay(controller, trace))) seen.emplace_back(step.seconds, step.decision.bitrate);

    // Windows close each whole second. 1, 2: clear (+400 kbit/s). 3: its window holds 2.5 (clear) and
    // 3.0 (congested): pressure, halved. 4: pressure again, held at the 2 Mbit/s floor. 5: pressure,
    // no change. 6: holds 5.5 (congested). 7, 8: busy, held. 9: 8.5 busy and 9.0 clear: steady. 10, 11: clear.
    const std::vector<std::pair<double, std::int64_t>> expected{{1.0, 4'400'000}, {2.0, 4'800'000},  {3.0, 2'400'000},
                                                                {4.0, 2'000'000}, {10.0, 2'400'000}, {11.0, 2'800'000}};
    EXPECT_EQ(seen, expected);
}

} // namespace
