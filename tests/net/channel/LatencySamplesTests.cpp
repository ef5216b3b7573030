#include "net/channel/LatencySamples.h"

#include <gtest/gtest.h>

namespace {

using TessaloyNet::LatencySamples;

TEST(LatencySamples, EmptyWindowHasNoFigures) {
    const LatencySamples samples;
    EXPECT_EQ(samples.median(), std::nullopt);
    EXPECT_EQ(samples.percentile95(), std::nullopt);
    EXPECT_EQ(samples.maximum(), std::nullopt);
}

TEST(LatencySamples, NearestRankFigures) {
    LatencySamples samples;
    for (int i = 20; i >= 1; --i) samples.add(i / 1000.0);
    EXPECT_DOUBLE_EQ(*samples.median(), 0.010);
    EXPECT_DOUBLE_EQ(*samples.percentile95(), 0.019);
    EXPECT_DOUBLE_EQ(*samples.maximum(), 0.020);
}

TEST(LatencySamples, KeepsOnlyTheLastWindowAndIgnoresNonsense) {
    LatencySamples samples;
    samples.add(5.0);
    for (std::size_t i = 0; i < LatencySamples::capacity; ++i) samples.add(0.001);
    samples.add(-1);
    samples.add(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(samples.count(), LatencySamples::capacity);
    EXPECT_DOUBLE_EQ(*samples.maximum(), 0.001);
}

} // namespace
