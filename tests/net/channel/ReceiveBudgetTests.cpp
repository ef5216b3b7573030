#include "net/channel/ReceiveBudget.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using TessaloyNet::ReceiveBudget;

TEST(ReceiveBudget, TakesABurstOf720ThenRefillsAt240PerSecond) {
    ReceiveBudget budget;
    const ReceiveBudget::Clock::time_point start{1000s};
    for (int i = 0; i < 720; ++i) ASSERT_TRUE(budget.admit(start)) << i;
    EXPECT_FALSE(budget.admit(start));
    // 100 ms later: 24 more.
    for (int i = 0; i < 24; ++i) ASSERT_TRUE(budget.admit(start + 100ms)) << i;
    EXPECT_FALSE(budget.admit(start + 100ms));
}

TEST(ReceiveBudget, NeverHoldsMoreThanTheBurst) {
    ReceiveBudget budget({.packetsPerSecond = 240, .burstPackets = 720});
    const ReceiveBudget::Clock::time_point start{1000s};
    EXPECT_TRUE(budget.admit(start));
    const auto later = start + 1h;
    for (int i = 0; i < 720; ++i) ASSERT_TRUE(budget.admit(later)) << i;
    EXPECT_FALSE(budget.admit(later));
}

TEST(ReceiveBudget, SteadyTrafficAtTheRateIsAdmitted) {
    ReceiveBudget budget({.packetsPerSecond = 240, .burstPackets = 1});
    auto now = ReceiveBudget::Clock::time_point{1000s};
    const auto gap =
        std::chrono::duration_cast<ReceiveBudget::Clock::duration>(std::chrono::duration<double>(1.0 / 240));
    for (int i = 0; i < 2400; ++i) {
        ASSERT_TRUE(budget.admit(now)) << i;
        now += gap + 1us;
    }
    EXPECT_FALSE(budget.admit(now - gap)) << "a time before the last one adds nothing";
}

} // namespace
