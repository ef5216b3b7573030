#include "tests/integration/MainRoadHarness.h"

#include "core/SessionMessage.h"

#include <future>

// A paired device that keeps opening control channels, as one on a flaky network does, holds one
// connection on the Mac: each new control channel replaces and closes the one before it.
namespace {

using Integration::DesktopSessionTest;
using Testing::DeviceSimulator;
using Role = TessaloyCore::ChannelRole;
using TessaloyCore::QualityMode;

constexpr int channelsOpened = 50;

bool isOpen(DeviceSimulator::Connection& connection) {
    std::lock_guard guard(connection.log.lock);
    return connection.log.closedCount == 0;
}

bool heardFromTheMac(DeviceSimulator::Connection& connection) {
    std::lock_guard guard(connection.log.lock);
    return !connection.log.packets.empty() || connection.log.closedCount > 0;
}

TEST_F(DesktopSessionTest, ReplacedControlChannelsAreClosed) {
    DeviceSimulator device("Ada's iPhone");
    pairAndApprove(device);
    ASSERT_TRUE(device.awaitMacExchange());
    session->stopSharing(StopReason::userStopped());
    device.disconnect();
    session->setListensAutomatically(true);
    ASSERT_TRUE(until([&] { return session->phaseDescription() == "Waiting for a paired device."; }));
    device.connect(endpoint());
    ASSERT_TRUE(until([&] { return session->isSharing(); })) << probe->status();

    std::vector<std::shared_ptr<DeviceSimulator::Connection>> opened;
    for (int i = 0; i < channelsOpened; ++i) {
        opened.push_back(device.open(endpoint(), device.trustedParameters(), Role::control));
        // The Mac attaches it (and sends its reachability details) before the next one comes.
        ASSERT_TRUE(until([&] { return heardFromTheMac(*opened.back()); })) << "channel " << i;
    }
    const auto openOnes = [&] {
        int count = isOpen(*device.channel(Role::control)) ? 1 : 0;
        for (const auto& connection : opened) count += isOpen(*connection) ? 1 : 0;
        return count;
    };
    EXPECT_TRUE(until([&] { return openOnes() <= 1; })) << openOnes() << " control channels stay open";
    EXPECT_TRUE(isOpen(*opened.back()));
    EXPECT_TRUE(session->isSharing());
}

TEST_F(DesktopSessionTest, QualityChangesDuringARestartMergeIntoTheNext) {
    using Message = TessaloyCore::SessionMessage;
    DeviceSimulator device("Ada's iPhone");
    pairAndApprove(device);
    ASSERT_TRUE(until([&] { return !probe->isBusy(); }));
    std::promise<void> held; // every change arrives while the first restart waits for the capture queue
    captureQueue.async([gate = held.get_future().share()] { gate.wait(); });
    for (int i = 0; i < 101; ++i) {
        device.send(Role::control,
                    Message{Message::Quality{i % 2 ? QualityMode::balanced : QualityMode::saver}}.packet());
    }
    const bool arrived = until([&] { return tracedStartingWith("quality mode ").size() == 101; });
    held.set_value();
    ASSERT_TRUE(arrived && until([&] { return !probe->isBusy(); }));
    EXPECT_EQ(tracedStartingWith("restarting capture: "),
              std::vector<std::string>(2, "restarting capture: applying saver quality"));
}

} // namespace
