#include "platform/linux/GrabPacer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Platform::Linux::GrabPacer;
using Clock = GrabPacer::Clock;

// A screen that changes every `period` (each change late by up to `lateness`, in a fixed pattern),
// looked at every `poll` by a 30 fps capture for 20 s: returns the changes that were never grabbed
// on their own (two changes between grabs) and the grabs made.
std::pair<int, int> watch(Clock::duration period, Clock::duration lateness, Clock::duration poll) {
    const auto interval = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / 30));
    const Clock::time_point start{1s};
    std::vector<Clock::time_point> changes;
    std::uint32_t pattern = 12345;
    for (auto at = start; at < start + 20s; at += period) {
        pattern = pattern * 1'103'515'245u + 12'345u;
        changes.push_back(at + lateness * static_cast<int>((pattern >> 16) % 101) / 100);
    }
    GrabPacer pacer(interval);
    std::size_t seen = 0;
    int missed = 0;
    int grabs = 0;
    for (auto now = start; now < start + 21s; now += poll) {
        std::size_t news = 0;
        while (seen + news < changes.size() && changes[seen + news] <= now) ++news;
        if (news == 0 || !pacer.mayGrab(now)) continue;
        pacer.grabbed(now);
        ++grabs;
        missed += static_cast<int>(news) - 1;
        seen += news;
    }
    return {missed, grabs};
}

TEST(GrabPacer, GrabsEachMoveOfAScreenAtTheFrameRateAndNoMoreThanTheRate) {
    struct Row {
        Clock::duration period;
        Clock::duration lateness;
        int maximumMissed;
        int maximumGrabs;
    };
    const std::vector<Row> rows = {
        // Moves at the frame rate, up to 15 ms late each: every move is grabbed.
        {33'333us, 15ms, 0, 601},
        {33'333us, 0ms, 0, 601},
        // Moves at 60 fps: grabs keep to 30 a second.
        {16'667us, 5ms, 600, 602},
        // A screen that changes all the time.
        {1ms, 0ms, 20'000, 602},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "period " << row.period.count() << ", lateness " << row.lateness.count());
        const auto [missed, grabs] = watch(row.period, row.lateness, 4ms);
        EXPECT_LE(missed, row.maximumMissed);
        EXPECT_LE(grabs, row.maximumGrabs);
        EXPECT_GE(grabs, 595);
    }
}

} // namespace
