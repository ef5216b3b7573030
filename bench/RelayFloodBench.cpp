// What a relay gone wrong costs this computer. The whole host (the real controller and capture
// probe, X11 capture, x264, the listener on loopback, tracing on) runs on a private Xvfb and
// registers with the loopback test relay; a paired device at home streams a moving picture over the
// local network throughout. The relay then calls 300 times a second for 30 seconds and never answers
// the data connections this computer opens for those calls, and the measure goes on until the calls
// it did answer have met their 60-second deadline. The relay and the device run in this process.
//
// Counters:
//   calls                 calls the relay sent
//   answered              the calls this computer answered (opened a data connection for): none
//                         of them ends before the flood does, so all were in flight at once
//   fds_peak              descriptors of this process at their most, the relay's and the device's
//                         included; goal: under 400
//   rss_peak_MiB          resident set of this process at its most; goal: under 400
//   refused_lines         trace lines about refused calls: one per 10-second interval
//   deadline_lines        trace lines about the answers that met their deadline, after the flood:
//                         the trace is still written
//   pictures_during       pictures the device decoded during the flood
//   pictures_after        pictures it decoded after the flood, to the end
// Qt's headers before X11's, whose macros clash with them.
#include "tests/support/host/DesktopHost.h"

#include "bench/Measures.h"
#include "net/channel/PairedDeviceStore.h"
#include "net/relay/MeetingIdentity.h"
#include "tests/support/DeviceSimulator.h"
#include "tests/support/MovingPicture.h"
#include "tests/support/TestRelay.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Testing::DesktopHost;

constexpr int screenWidth = 1280;
constexpr int screenHeight = 720;
constexpr double callsPerSecond = 300;
constexpr auto floodTime = 30s;
// The answers of the first calls end at their 60-second deadline; a little more for their lines.
constexpr auto measuredTime = 65s;
constexpr double mebibyte = 1024.0 * 1024.0;

std::size_t openDescriptors() {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator()));
}

std::size_t linesStartingWith(DesktopHost& host, std::string_view prefix) {
    return host.tracedStartingWith(prefix).size();
}

// The peaks of what the flood may cost, sampled while the host runs.
struct Peaks {
    std::size_t descriptors = 0;
    std::uint64_t resident = 0;

    void sample() {
        descriptors = std::max(descriptors, openDescriptors());
        resident = std::max(resident, Bench::residentBytes());
    }
};

// The paired device comes in over the local network and watches the moving picture.
DesktopHost::Problem streamAtHome(DesktopHost& host, Testing::DeviceSimulator& device) {
    if (!host.until([&] { return host.session->phaseDescription() == "Waiting for a paired device."; })) {
        return "the host did not listen for paired devices: " + host.session->phaseDescription();
    }
    device.connect(host.endpoint());
    if (!host.until([&] { return host.session->isSharing(); })) {
        return "the paired device was not let in: " + host.probe->status();
    }
    return std::nullopt;
}

void relayFlood(benchmark::State& state) {
    Testing::TestRelay relay;
    DesktopHost host({.width = screenWidth, .height = screenHeight, .soundServer = std::nullopt});
    Testing::MovingPicture picture(host.desktop.connection(), screenWidth, screenHeight,
                                   Testing::MovingPicture::Pattern::gradient);
    Testing::DeviceSimulator device("Bench iPhone");
    // Paired earlier: each side keeps the other's key.
    host.environment.defaults.setBoolean("TessaloyConnect", true);
    host.environment.defaults.setText("TessaloyRelay", relay.endpoint().text());
    TessaloyNet::PairedDeviceStore(host.environment.keychain())
        .add({device.identity().publicKey(), device.name(), std::chrono::system_clock::now(), {}});
    device.setMacKey(TessaloyNet::DeviceIdentity::loadOrCreate(host.environment.keychain()).publicKey());

    DesktopHost::Problem problem = host.start();
    if (!problem) host.session->setListensAutomatically(true);
    if (!problem && !host.until([&] { return host.session->relayStatus() == "On"; })) {
        problem = "the host did not register with the relay: " + host.session->relayStatus();
    }
    if (!problem) problem = streamAtHome(host, device);
    for (auto _ : state) {
        if (problem) break;
        Peaks peaks;
        const std::uint64_t picturesBefore = device.media().tally().pictures;
        const auto start = Clock::now();
        relay.flood(callsPerSecond);
        std::uint64_t picturesAtEnd = 0;
        bool flooding = true;
        while (Clock::now() - start < measuredTime && host.session->isSharing()) {
            picture.step();
            host.until([] { return false; }, 16ms);
            peaks.sample();
            if (flooding && Clock::now() - start >= floodTime) {
                relay.stopFlood();
                flooding = false;
                picturesAtEnd = device.media().tally().pictures;
            }
        }
        const auto tally = device.media().tally();
        if (!host.session->isSharing()) problem = "the device's session ended: " + host.session->phaseDescription();
        if (tally.failures > 0) problem = "the device could not decode: " + tally.lastError;
        state.counters["calls"] = static_cast<double>(relay.heard().floodCalls);
        state.counters["answered"] = static_cast<double>(relay.heard().floodAnswers);
        state.counters["fds_peak"] = static_cast<double>(peaks.descriptors);
        state.counters["rss_peak_MiB"] = static_cast<double>(peaks.resident) / mebibyte;
        state.counters["refused_lines"] = static_cast<double>(linesStartingWith(host, "relay: refused a call"));
        state.counters["deadline_lines"] =
            static_cast<double>(linesStartingWith(host, "relay: a call was not answered"));
        state.counters["pictures_during"] = static_cast<double>(picturesAtEnd - picturesBefore);
        state.counters["pictures_after"] = static_cast<double>(tally.pictures - picturesAtEnd);
    }
    device.disconnect();
    host.finish();
    if (problem) state.SkipWithError(problem->c_str());
}

} // namespace

BENCHMARK(relayFlood)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

BENCHMARK_MAIN();
