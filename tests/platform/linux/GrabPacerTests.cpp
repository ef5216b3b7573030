#include "platform/linux/GrabPacer.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using namespace std::chrono_literals;
using Platform::Linux::GrabPacer;
using Clock = GrabPacer::Clock;

// A 30 fps capture that looks every 4 ms, for 20 s, at a screen that changes every `period`, each
// change late by up to `lateness` in a fixed pattern: the changes never grabbed on their own (two
// or more between grabs), and the grabs.
std::pair<int, int> watch(Clock::duration period, Clock::duration lateness) {
    GrabPacer pacer(33'333us);
    const auto changeAt = [&](int k) { return Clock::time_point{} + k * period + lateness * (k * 7'919 % 101) / 100; };
    int next = 0, unseen = 0, missed = 0, grabs = 0;
    for (auto now = Clock::time_point{}; now < Clock::time_point{20s}; now += 4ms) {
        for (; changeAt(next) <= now; ++next) ++unseen;
        if (unseen == 0 || !pacer.mayGrab(now)) continue;
        pacer.grabbed(now);
        ++grabs;
        missed += unseen - 1;
        unseen = 0;
    }
    return {missed, grabs};
}

TEST(GrabPacer, GrabsEveryMoveOfAScreenAtTheFrameRateButNeverGrabsFasterThanIt) {
    EXPECT_EQ(watch(33'333us, 0ms), std::make_pair(0, 600));
    EXPECT_EQ(watch(33'333us, 15ms).first, 0);
    for (const auto period : {16'667us, 1'000us}) EXPECT_NEAR(watch(period, 5ms).second, 600, 1);
}

} // namespace
