#pragma once

#include <gtest/gtest.h>

#include "app/capture/CaptureProbe.h"
#include "app/shell/StreamingSession.h"
#include "core/SessionEnd.h"
#include "tests/support/DeviceSimulator.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/X11Environment.h"
#include "tests/support/X11TestDesktop.h"
#include "tests/support/XvfbServer.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Integration {

// The whole host on a private X server: the real controller and capture probe with the real
// listener on a loopback port, X11 capture, x264, XTest injection, and a trace file of the test's
// own; the device is a DeviceSimulator.
//
// The main actor is manual; while a test waits, its time follows the real clock, so the capture's
// timers (refinement, backlog, reports) and the session's delays run as they would in the product.
class DesktopSessionTest : public ::testing::Test {
protected:
    using Bounds = Platform::ShareableDisplay::Bounds;
    using Picture = Testing::DeviceMediaReceiver::Picture;
    using StopReason = Plovander::StreamingSession::StopReason;

    static constexpr int screenWidth = 640;
    static constexpr int screenHeight = 360;
    static constexpr std::chrono::milliseconds patience{20'000};

    DesktopSessionTest();
    ~DesktopSessionTest() override;

    void SetUp() override;
    void TearDown() override;

    // Runs what is due on the main actor, with its time moved on to the real time.
    void pump();
    // Pumps until `done` holds or `limit` has passed; returns whether it held.
    bool until(const std::function<bool()>& done, std::chrono::milliseconds limit = patience);
    Testing::DeviceMediaReceiver::Meanwhile pumping() {
        return [this] { pump(); };
    }

    // Starts sharing and waits until the listener for the offer takes connections.
    void startSharing();
    Testing::DeviceSimulator::Endpoint endpoint() const;
    // Pairs `device` through the pairing link on screen and waits until the Mac asks to approve it,
    // with the device's own name from its pairing exchange. The device connects to `via` when given
    // (a relay), else to the listener.
    void pairAndWait(Testing::DeviceSimulator& device,
                     std::optional<Testing::DeviceSimulator::Endpoint> via = std::nullopt);
    // The same, then approves and waits until the session streams.
    void pairAndApprove(Testing::DeviceSimulator& device,
                        std::optional<Testing::DeviceSimulator::Endpoint> via = std::nullopt);
    // Whether an end of session with `reason` reached the device on its control channel.
    bool deviceLearnsTheEnd(Testing::DeviceSimulator& device, TessaloyCore::SessionEnd::Reason reason);
    // Whether the device's media channel brought this Mac's pairing exchange.
    bool deviceGotTheMacKey(Testing::DeviceSimulator& device);

    // Waits until the device shows a picture whose `area` is `rgb` (0xRRGGBB).
    std::optional<Picture> pictureShowing(Testing::DeviceSimulator& device, const Bounds& area, std::uint32_t rgb,
                                          std::chrono::milliseconds limit = patience);

    // The messages of the trace file so far, without the prefix and the time.
    std::vector<std::string> traceLines() const;
    std::size_t traceCount(std::string_view message) const;
    bool traced(std::string_view message) const { return traceCount(message) > 0; }
    // Messages that start with `prefix`.
    std::vector<std::string> tracedStartingWith(std::string_view prefix) const;

    std::uint16_t port;
    Testing::TemporaryDirectory traceFolder;
    Testing::XvfbServer server{{.width = screenWidth, .height = screenHeight, .disabledExtensions = {}}};
    Testing::X11TestDesktop desktop{server.displayName()};
    Testing::X11Environment environment{server.displayName()};
    TessaloyBase::SerialQueue captureQueue{"dev.tessaloy.capture"};
    TessaloyBase::SerialQueue audioQueue{"dev.tessaloy.capture-audio"};
    std::unique_ptr<Plovander::CaptureProbe> probe;
    std::unique_ptr<Plovander::StreamingSession> session;

private:
    std::chrono::steady_clock::time_point lastPump_ = std::chrono::steady_clock::now();
};

} // namespace Integration
