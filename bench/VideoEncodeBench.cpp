// Per-frame cost of the video encoding path on a changing picture (a moving gradient): the colour
// conversion alone (one pass on the calling thread), and the whole VideoEncoder::encode call
// (conversion, then the encoder, both on the `threads` argument), each with its median and 99th
// percentile, plus the process CPU time per frame (every conversion and encoder thread).
// The conversion runs back to back (pause_ms 0) and after a 30 fps frame's idle pause, as in a
// session, where the machine has had time to let the picture and its page tables go cold.
#include "bench/Measures.h"
#include "bench/MovingGradient.h"
#include "media/FrameConverter.h"
#include "media/FramePool.h"
#include "media/VideoEncoder.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <thread>
#include <vector>

namespace {

using Bench::MovingGradient;
using TessaloyCore::VideoCodec;
using TessaloyMedia::VideoEncoder;

// Times `work` per frame, with drawing the next picture and the pause before it left out of both
// clocks.
template <typename Work>
void measureFrames(benchmark::State& state, MovingGradient& picture, Work&& work,
                   std::chrono::milliseconds pause = {}) {
    std::vector<double> milliseconds;
    double drawingCpu = 0;
    const double processCpuStart = Bench::cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    int step = 0;
    for (auto _ : state) {
        const double drawStart = Bench::cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        picture.draw(step++);
        drawingCpu += Bench::cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - drawStart;
        std::this_thread::sleep_for(pause);
        const auto start = std::chrono::steady_clock::now();
        work(step);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        milliseconds.push_back(elapsed.count() * 1e3);
    }
    const double processCpu = Bench::cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processCpuStart - drawingCpu;
    state.counters["p50_ms"] = Bench::percentile(milliseconds, 0.5);
    state.counters["p99_ms"] = Bench::percentile(milliseconds, 0.99);
    state.counters["cpu_ms_per_frame"] = processCpu * 1e3 / static_cast<double>(milliseconds.size());
}

void conversion(benchmark::State& state) {
    const auto width = static_cast<int>(state.range(0));
    const auto height = static_cast<int>(state.range(1));
    MovingGradient picture(width, height);
    TessaloyMedia::FramePool pool(width, height, AV_PIX_FMT_YUV420P, 1);
    TessaloyMedia::FrameConverter converter;
    measureFrames(
        state, picture, [&](int) { converter.convert(picture.view(), pool.acquire()); },
        std::chrono::milliseconds(state.range(2)));
}

void encode(benchmark::State& state, VideoCodec codec) {
    const auto width = static_cast<int>(state.range(0));
    const auto height = static_cast<int>(state.range(1));
    VideoEncoder::Settings settings;
    settings.codec = codec;
    settings.width = width;
    settings.height = height;
    settings.framesPerSecond = 30;
    settings.bitrate = width >= 1'920 ? 8'000'000 : 4'000'000;
    settings.keyframeIntervalSeconds = 4;
    settings.threads = static_cast<int>(state.range(2));
    VideoEncoder encoder(settings);
    MovingGradient picture(width, height);
    std::size_t bytes = 0;
    measureFrames(state, picture, [&](int step) {
        for (const auto& output : encoder.encode(picture.view(), static_cast<std::uint64_t>(step) * 33'333, false)) {
            if (const auto* frame = std::get_if<VideoEncoder::EncodedFrame>(&output)) {
                bytes += frame->packet.payload().size();
            }
        }
    });
    state.counters["kbit_per_frame"] = static_cast<double>(bytes) * 8 / 1e3 / static_cast<double>(state.iterations());
}

void x264(benchmark::State& state) { encode(state, VideoCodec::h264); }
void x265(benchmark::State& state) { encode(state, VideoCodec::hevc); }

} // namespace

BENCHMARK(conversion)
    ->ArgNames({"width", "height", "pause_ms"})
    ->Args({1'920, 1'080, 0})
    ->Args({1'920, 1'080, 33})
    ->Args({1'280, 720, 0})
    ->Args({1'280, 720, 33})
    ->Iterations(300)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(x264)
    ->ArgNames({"width", "height", "threads"})
    ->Args({1'920, 1'080, 2})
    ->Args({1'920, 1'080, 4})
    ->Args({1'280, 720, 2})
    ->Iterations(300)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(x265)
    ->ArgNames({"width", "height", "threads"})
    ->Args({1'920, 1'080, 2})
    ->Args({1'920, 1'080, 4})
    ->Args({1'280, 720, 2})
    ->Iterations(150)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
