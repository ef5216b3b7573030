#pragma once

#include "app/capture/CaptureProbe.h"
#include "app/shell/StreamingSession.h"
#include "base/SerialQueue.h"
#include "tests/support/DeviceMediaReceiver.h"
#include "tests/support/DeviceSimulator.h"
#include "tests/support/QuietUpdater.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/support/X11Environment.h"
#include "tests/support/X11TestDesktop.h"
#include "tests/support/XorgDummyServer.h"
#include "tests/support/XvfbServer.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Testing {

// The whole host on a private X server (Xvfb, or Xorg's dummy driver for several monitors): the real controller and
// capture probe with the real listener on a loopback port, X11 capture, x264, XTest injection, and a trace file of its
// own; the sound is a fake unless a sound server is given. The device is a DeviceSimulator.
//
// The main actor is manual; while the caller waits (until()), its time follows the real clock, so
// the capture's timers and the session's delays run as they would in the product. Build it, and
// start() it, on the thread that drives it.
class DesktopHost {
public:
    struct Options {
        int width = 640;
        int height = 360;
        // The PulseAudio server (PulseAudioServer::server()) whose sound is shared.
        std::optional<std::string> soundServer;
        Plovander::UpdaterFactory updater = QuietUpdater::make;
    };
    // What went wrong, for the caller to report; nothing when all went right.
    using Problem = std::optional<std::string>;

    static constexpr std::chrono::milliseconds patience{20'000};

    explicit DesktopHost(const Options& options);
    // On several monitors side by side (an XorgDummyServer) instead of one Xvfb screen. Throws
    // XorgDummyServer::Unavailable when Xorg cannot run here.
    explicit DesktopHost(const XorgDummyServer::Options& monitors);
    ~DesktopHost();
    DesktopHost(const DesktopHost&) = delete;
    DesktopHost& operator=(const DesktopHost&) = delete;

    // Makes the capture probe and the controller and waits until the controller is ready.
    Problem start();
    // Stops whatever the controller does, waits for capture to stop, and ends both.
    void finish();

    // Runs what is due on the main actor, with its time moved on to the real time.
    void pump();
    // Pumps until `done` holds or `limit` has passed; returns whether it held.
    bool until(const std::function<bool()>& done, std::chrono::milliseconds limit = patience);
    DeviceMediaReceiver::Meanwhile pumping() {
        return [this] { pump(); };
    }

    // Starts sharing and waits until the listener for the offer takes connections.
    Problem startSharing();
    DeviceSimulator::Endpoint endpoint() const;
    // Pairs `device` through the pairing link on screen and waits until the Mac asks to approve it,
    // with the device's own name from its pairing exchange. The device connects to `via` when given
    // (a relay), else to the listener.
    Problem pairAndWait(DeviceSimulator& device, std::optional<DeviceSimulator::Endpoint> via = std::nullopt);
    // The same, then approves and waits until the session streams.
    Problem pairAndApprove(DeviceSimulator& device, std::optional<DeviceSimulator::Endpoint> via = std::nullopt);

    // The messages of the trace file so far, without the prefix and the time.
    std::vector<std::string> traceLines() const;
    std::size_t traceCount(std::string_view message) const;
    bool traced(std::string_view message) const { return traceCount(message) > 0; }
    // Messages that start with `prefix`.
    std::vector<std::string> tracedStartingWith(std::string_view prefix) const;

    std::uint16_t port;
    TemporaryDirectory traceFolder;
    std::unique_ptr<XvfbServer> xvfb;
    std::unique_ptr<XorgDummyServer> xorg;
    // The server's, such as ":3".
    const std::string displayName;
    X11TestDesktop desktop;
    X11Environment environment;
    TessaloyBase::SerialQueue captureQueue{"dev.tessaloy.capture"};
    TessaloyBase::SerialQueue audioQueue{"dev.tessaloy.capture-audio"};
    std::unique_ptr<Plovander::CaptureProbe> probe;
    std::unique_ptr<Plovander::StreamingSession> session;

private:
    DesktopHost(const Options& options, const std::optional<XorgDummyServer::Options>& monitors);

    Plovander::UpdaterFactory updater_;

    std::chrono::steady_clock::time_point lastPump_ = std::chrono::steady_clock::now();
};

} // namespace Testing
