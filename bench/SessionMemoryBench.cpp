// What sessions leave behind in memory. The whole host (the real controller and capture probe, X11
// capture, x264, the sound of a private PulseAudio server) runs on a private Xvfb; a simulated
// device pairs once, then comes back as a paired device over loopback TLS for 40 sessions, each
// streaming a moving picture until the device has decoded a few dozen frames, then leaving. The
// device runs in this process too, and starts afresh with each session, as the phone does. The
// allocator is the process's own, held and released as the application holds and releases it.
//
// Counters (resident set of the process, from /proc/self/statm):
//   rss_first_MiB   after the first session has ended
//   rss_last_MiB    after the last session has ended
//   rss_growth_MiB  the difference; goal: at most 20
//   heap_first_MiB, heap_last_MiB, heap_growth_MiB
//                   the same for what the allocator has handed out and not got back (mallinfo2),
//                   which tells memory still in use from freed memory the allocator keeps
//   session_ms      one session on average, from connecting to listening again
// Qt's headers before X11's, whose macros clash with them.
#include "tests/support/host/DesktopHost.h"

#include "bench/Measures.h"
#include "tests/support/DeviceSimulator.h"
#include "tests/support/MovingPicture.h"
#include "tests/support/PulseAudioServer.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <chrono>
#include <optional>
#include <string>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Testing::DesktopHost;
using Testing::DeviceMediaReceiver;
using Testing::DeviceSimulator;
using Testing::MovingPicture;
using StopReason = Plovander::StreamingSession::StopReason;

constexpr int screenWidth = 1280;
constexpr int screenHeight = 720;
constexpr int sessionCount = 40;
constexpr std::uint64_t picturesPerSession = 30;
constexpr double mebibyte = 1024.0 * 1024.0;

// Bytes handed out by the allocator and not yet freed, over all its arenas and mapped blocks.
std::uint64_t allocatedBytes() {
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
}

struct Sample {
    std::uint64_t resident = 0;
    std::uint64_t allocated = 0;

    static Sample now() { return {Bench::residentBytes(), allocatedBytes()}; }
};

// Waits until the Mac listens for paired devices. It does so a moment after a session ends; that
// pause passes at once in the main actor's time.
DesktopHost::Problem waitForListening(DesktopHost& host) {
    const auto listening = [&] { return host.session->phaseDescription() == "Waiting for a paired device."; };
    for (int paused = 0; paused < 80 && !listening(); ++paused) {
        host.environment.actor.advance(250ms);
        host.until(listening, 20ms);
    }
    if (!listening()) return "the Mac did not listen again: " + host.session->phaseDescription();
    return std::nullopt;
}

// Pairs `device` and ends that first session; the Mac then waits for paired devices.
DesktopHost::Problem pair(DesktopHost& host, DeviceSimulator& device) {
    if (auto problem = host.pairAndApprove(device)) return problem;
    if (!device.awaitMacExchange()) return "the device did not get this Mac's key";
    host.session->stopSharing(StopReason::userStopped());
    device.disconnect();
    host.session->setListensAutomatically(true);
    return waitForListening(host);
}

// One session of the paired device: it connects, watches the moving picture, and leaves.
DesktopHost::Problem stream(DesktopHost& host, DeviceSimulator& device, MovingPicture& picture) {
    device.connect(host.endpoint());
    if (!host.until([&] { return host.session->isSharing(); })) {
        return "the paired device was not let in: " + host.probe->status();
    }
    const auto enough = [](const DeviceMediaReceiver::Tally& tally) { return tally.pictures >= picturesPerSession; };
    const auto deadline = Clock::now() + DesktopHost::patience;
    while (!enough(device.media().tally()) && Clock::now() < deadline) {
        picture.step();
        device.media().waitUntil(enough, 16ms, host.pumping());
    }
    const auto tally = device.media().tally();
    if (!enough(tally)) return "the device decoded " + std::to_string(tally.pictures) + " pictures";
    if (tally.failures > 0) return "the device could not decode: " + tally.lastError;
    device.disconnect();
    if (!host.until([&] { return !host.session->isSharing() && !host.probe->isRunning() && !host.probe->isBusy(); })) {
        return "the session did not end: " + host.probe->status();
    }
    return waitForListening(host);
}

void sessions(benchmark::State& state) {
    const Testing::PulseAudioServer sound;
    DesktopHost host({.width = screenWidth, .height = screenHeight, .soundServer = sound.server()});
    MovingPicture picture(host.desktop.connection(), screenWidth, screenHeight, MovingPicture::Pattern::gradient);
    DeviceSimulator device("Bench iPhone");
    DesktopHost::Problem problem = host.start();
    if (!problem) problem = pair(host, device);
    for (auto _ : state) {
        Sample first;
        const auto start = Clock::now();
        for (int session = 0; session < sessionCount && !problem; ++session) {
            problem = stream(host, device, picture);
            if (session == 0) first = Sample::now();
        }
        const std::chrono::duration<double, std::milli> spent = Clock::now() - start;
        const Sample last = Sample::now();
        if (problem) break;
        const auto report = [&](const std::string& name, std::uint64_t before, std::uint64_t after) {
            state.counters[name + "_first_MiB"] = static_cast<double>(before) / mebibyte;
            state.counters[name + "_last_MiB"] = static_cast<double>(after) / mebibyte;
            state.counters[name + "_growth_MiB"] =
                (static_cast<double>(after) - static_cast<double>(before)) / mebibyte;
        };
        report("rss", first.resident, last.resident);
        report("heap", first.allocated, last.allocated);
        state.counters["session_ms"] = spent.count() / sessionCount;
    }
    if (problem) state.SkipWithError(problem->c_str());
}

} // namespace

BENCHMARK(sessions)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

BENCHMARK_MAIN();
