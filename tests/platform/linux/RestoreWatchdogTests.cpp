#include <gtest/gtest.h>

#include "platform/linux/RestoreWatchdog.h"
#include "platform/linux/XRandrGamma.h"
#include "tests/support/XvfbServer.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

namespace {

using Platform::Gamma;
using Platform::Linux::RestoreWatchdog;
using Platform::Linux::XRandrGamma;

class RestoreWatchdogTest : public ::testing::Test {
protected:
    RestoreWatchdogTest() {
        display = calibrating.onlineDisplays().at(0);
        // The display's own calibration, set by someone else.
        EXPECT_TRUE(calibrating.setRamps(display, {{0.0f, 1.0f}, {0.0f, 0.5f}, {1.0f, 1.0f}}));
        calibration = *calibrating.ramps(display);
    }

    Testing::XvfbServer server{{.width = 320, .height = 200, .disabledExtensions = {}}};
    XRandrGamma calibrating{server.displayName(), XRandrGamma::Guard::none};
    std::uint32_t display = 0;
    Gamma::Ramps calibration;
};

TEST_F(RestoreWatchdogTest, AKilledHostsBlackDisplayGetsItsRampsBack) {
    // The host: a child that blacks out the display and is killed while it shows black.
    const pid_t host = ::fork();
    ASSERT_GE(host, 0);
    if (host == 0) {
        XRandrGamma gamma(server.displayName());
        const bool black = gamma.setRamps(display, {{0.0f}, {0.0f}, {0.0f}});
        ::raise(black ? SIGKILL : SIGTERM);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(host, &status, 0), host);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the host could not black out the display";

    // The watchdog restores in its own time; the server answers each read in order, so read until
    // it did, within a bounded patience.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (calibrating.ramps(display) != calibration && std::chrono::steady_clock::now() < deadline) {
    }
    EXPECT_EQ(calibrating.ramps(display), calibration);
}

TEST_F(RestoreWatchdogTest, WhatTheHostGaveBackItselfIsNotRestoredAgain) {
    {
        // Guards black as if it were the saved ramps: restoring them would show.
        RestoreWatchdog watchdog(server.displayName());
        ASSERT_TRUE(watchdog.guardRamps(display, {{0.0f}, {0.0f}, {0.0f}}));
    } // the host goes normally, and waits for its watchdog to end
    EXPECT_EQ(calibrating.ramps(display), calibration);
}

} // namespace
