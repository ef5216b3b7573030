#include <gtest/gtest.h>

#include "app/services/ScreenBlanker.h"
#include "platform/linux/ChildProcess.h"
#include "platform/linux/XRandrGamma.h"
#include "tests/support/ManualMainActor.h"
#include "tests/support/XorgDummyServer.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <map>
#include <memory>
#include <sstream>

namespace {

using Platform::Gamma;
using Platform::Linux::XRandrGamma;
using Brightness = std::map<std::string, std::string>;

// Two monitors, each on an output with a CRTC and gamma of its own; the ramps start as identity.
class ScreenBlankerXorg : public ::testing::Test {
protected:
    void SetUp() override {
        try {
            server =
                std::make_unique<Testing::XorgDummyServer>(Testing::XorgDummyServer::Options{{{800, 600}, {640, 480}}});
        } catch (const Testing::XorgDummyServer::Unavailable& why) {
            GTEST_SKIP() << why.what();
        }
        reading = std::make_unique<XRandrGamma>(server->displayName(), XRandrGamma::Guard::none);
    }

    // What `xrandr --verbose` reads for each output that shows a picture: its "Brightness:".
    Brightness brightness() const {
        const auto result =
            Platform::Linux::ChildProcess::run({"xrandr", "--display", server->displayName(), "--verbose"});
        EXPECT_EQ(result.exitStatus, 0) << result.output;
        Brightness found;
        std::istringstream lines(result.output);
        std::string output;
        for (std::string line; std::getline(lines, line);) {
            if (line.find(" connected") != std::string::npos) output = line.substr(0, line.find(' '));
            if (line.rfind("\tBrightness: ", 0) == 0 && !output.empty()) found[output] = line.substr(13);
        }
        return found;
    }

    std::map<std::uint32_t, Gamma::Ramps> everyRamp() const {
        std::map<std::uint32_t, Gamma::Ramps> ramps;
        for (const std::uint32_t display : reading->onlineDisplays()) ramps[display] = reading->ramps(display).value();
        return ramps;
    }

    std::unique_ptr<Testing::XorgDummyServer> server;
    std::unique_ptr<XRandrGamma> reading;
};

const Brightness identity{{"DUMMY0", "1.0"}, {"DUMMY1", "1.0"}};
const Brightness black{{"DUMMY0", "0.0"}, {"DUMMY1", "0.0"}};

TEST_F(ScreenBlankerXorg, EveryMonitorIsBlackWhileBlankedAndGetsItsOwnRampsBack) {
    ASSERT_EQ(brightness(), identity);
    const auto saved = everyRamp();
    ASSERT_EQ(saved.size(), 2u);

    Testing::ManualMainActor actor;
    const auto gamma = Gamma::create(server->displayName());
    Plovander::ScreenBlanker blanker(actor, *gamma);
    blanker.setBlanking(true);
    EXPECT_EQ(brightness(), black);
    actor.advance(Plovander::ScreenBlanker::reapplyInterval);
    EXPECT_EQ(brightness(), black) << "loading black again keeps the first saved ramps";

    blanker.setBlanking(false);
    EXPECT_EQ(brightness(), identity);
    EXPECT_EQ(everyRamp(), saved);
}

TEST_F(ScreenBlankerXorg, AKilledHostsBlackMonitorsGetTheirRampsBackFromTheWatchdog) {
    const auto saved = everyRamp();
    const pid_t host = ::fork();
    ASSERT_GE(host, 0);
    if (host == 0) {
        Testing::ManualMainActor actor;
        const auto gamma = Gamma::create(server->displayName());
        Plovander::ScreenBlanker blanker(actor, *gamma);
        blanker.setBlanking(true);
        ::raise(blanker.blacksOutADisplay() ? SIGKILL : SIGTERM);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(host, &status, 0), host);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the host could not blank the monitors";

    // The watchdog restores in its own time: read until it did, within a bounded patience.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (everyRamp() != saved && std::chrono::steady_clock::now() < deadline) {
    }
    EXPECT_EQ(everyRamp(), saved);
    EXPECT_EQ(brightness(), identity);
}

} // namespace
