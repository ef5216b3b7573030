#pragma once

#include <gtest/gtest.h>

#include "core/SessionEnd.h"
#include "tests/support/host/DesktopHost.h"

#include <chrono>
#include <cstdint>
#include <optional>

namespace Integration {

// A test of the whole host on a private X server (see DesktopHost), 640x360; the device is a
// DeviceSimulator. The host starts in SetUp, so a test may set `environment.beforeScreenCapture` before.
class DesktopSessionTest : public ::testing::Test, protected Testing::DesktopHost {
protected:
    using Bounds = Platform::ShareableDisplay::Bounds;
    using Picture = Testing::DeviceMediaReceiver::Picture;
    using StopReason = Plovander::StreamingSession::StopReason;

    static constexpr int screenWidth = 640;
    static constexpr int screenHeight = 360;

    DesktopSessionTest();

    void SetUp() override;
    void TearDown() override;

    // DesktopHost's, failing the test on a problem.
    void startSharing();
    void pairAndWait(Testing::DeviceSimulator& device,
                     std::optional<Testing::DeviceSimulator::Endpoint> via = std::nullopt);
    void pairAndApprove(Testing::DeviceSimulator& device,
                        std::optional<Testing::DeviceSimulator::Endpoint> via = std::nullopt);
    // Whether an end of session with `reason` reached the device on its control channel.
    bool deviceLearnsTheEnd(Testing::DeviceSimulator& device, TessaloyCore::SessionEnd::Reason reason);
    // Whether the device's media channel brought this Mac's pairing exchange.
    bool deviceGotTheMacKey(Testing::DeviceSimulator& device);

    // Waits until the device shows a picture whose `area` is `rgb` (0xRRGGBB).
    std::optional<Picture> pictureShowing(Testing::DeviceSimulator& device, const Bounds& area, std::uint32_t rgb,
                                          std::chrono::milliseconds limit = patience);
};

} // namespace Integration
