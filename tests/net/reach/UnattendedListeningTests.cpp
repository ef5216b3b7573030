#include "net/reach/UnattendedListening.h"

#include <gtest/gtest.h>

namespace {

using TessaloyNet::UnattendedListening;
using StopReason = TessaloyNet::HostSessionState::StopReason;

TEST(UnattendedListening, BacksOffByPowersOfTwoUpToAMinute) {
    UnattendedListening unattended;
    const std::vector<double> expected{1, 2, 4, 8, 16, 32, 60, 60, 60};
    for (const double delay : expected) {
        EXPECT_EQ(unattended.restartDelay(StopReason::peerDisconnected(), true), delay)
            << unattended.consecutiveFailures();
        unattended.failed();
    }
    unattended.listening();
    EXPECT_EQ(unattended.restartDelay(StopReason::failed("capture"), true), 1.0);
}

TEST(UnattendedListening, NoRestartAfterAUserStopOrWhenOff) {
    UnattendedListening unattended;
    for (int i = 0; i < 3; ++i) unattended.failed();
    EXPECT_EQ(unattended.restartDelay(StopReason::userStopped(), true), std::nullopt);
    EXPECT_EQ(unattended.restartDelay(StopReason::offerExpired(), false), std::nullopt);
    EXPECT_EQ(unattended.restartDelay(StopReason::hostDisconnected(), true), 8.0);
    EXPECT_EQ(unattended.restartDelay(StopReason::rejected(), true), 8.0);
}

} // namespace
