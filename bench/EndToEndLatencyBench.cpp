// From the screen to the device's decoded picture, on a private Xvfb and over a real loopback TLS
// connection: X11ScreenCapture grabs a picture that moves every frame (a scrolling diagonal
// gradient, full screen), CaptureEncodingOutput encodes it with x264 and hands the packets to a
// VideoSender, the Mac's TlsPacketChannel sends them, and a device-side TlsPacketChannel receives
// them and decodes each frame with VideoDecoder (RGB, as the device's view) on its own queue.
//
// Counters, over every frame decoded while the picture moves:
//   latency_p50_ms / latency_p99_ms   grab start to the decoded picture on the device
//   arrival_p50_ms / arrival_p99_ms   grab start to the frame's packet read by the device's channel
//   decode_p50_ms                     the device's decoding of one frame (picture conversion included)
//   fps                               frames decoded on the device per second of moving picture
//   held                              pictures the capture held back because the send queue was full
#include "base/SerialQueue.h"
#include "bench/DeviceStream.h"
#include "bench/Measures.h"
#include "bench/MovingDesktop.h"

#include <benchmark/benchmark.h>
#include <asio/ip/tcp.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void endToEnd(benchmark::State& state, int width, int height) {
    Bench::MovingDesktop desktop(width, height);
    asio::ip::tcp::acceptor listener(TessaloyBase::sharedIoContext(),
                                     asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    Bench::DeviceStream stream(desktop, listener);
    state.SetLabel(stream.encoding.output->backendDescription());
    Bench::DecodingDevice& device = stream.device;
    const std::atomic<std::uint64_t>& held = stream.held;

    const int frames = 600;
    for (auto _ : state) {
        // A second of moving picture to settle the encoder's rate, then the measured part.
        desktop.play(60, 60);
        device.startCounting();
        const std::uint64_t heldBefore = held.load();
        const auto start = Clock::now();
        desktop.play(frames, 60);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        // The last frames through the encoder and the connection.
        std::this_thread::sleep_for(200ms);
        device.stopCounting();
        const auto samples = device.samples();
        state.SetIterationTime(Bench::percentile(samples.latency, 0.5));
        state.counters["frames"] = static_cast<double>(samples.latency.size());
        state.counters["fps"] = static_cast<double>(samples.latency.size()) / seconds;
        state.counters["latency_p50_ms"] = Bench::percentile(samples.latency, 0.5) * 1e3;
        state.counters["latency_p99_ms"] = Bench::percentile(samples.latency, 0.99) * 1e3;
        state.counters["arrival_p50_ms"] = Bench::percentile(samples.arrival, 0.5) * 1e3;
        state.counters["arrival_p99_ms"] = Bench::percentile(samples.arrival, 0.99) * 1e3;
        state.counters["decode_p50_ms"] = Bench::percentile(samples.decode, 0.5) * 1e3;
        state.counters["held"] = static_cast<double>(held.load() - heldBefore);
        if (samples.failures > 0) state.SkipWithError("the device could not decode every frame");
    }
}

} // namespace

BENCHMARK_CAPTURE(endToEnd, x264_1920x1080, 1920, 1080)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(endToEnd, x264_1280x720, 1280, 720)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
