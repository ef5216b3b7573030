// What each opening of a software video encoder leaves in the process, as a device that switches
// codecs makes the host reopen it: one encoder at a time is opened at the given size, given a few
// frames and closed, once per iteration, after one warm-up opening that pays for what the library
// sets up once.
//
// Counters, per opening after the warm-up:
//   heap_KiB_per_open  what the allocator handed out and did not get back (mallinfo2)
//   rss_KiB_per_open   the resident set
#include "bench/Measures.h"
#include "bench/MovingGradient.h"
#include "media/VideoEncoder.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdint>

namespace {

using TessaloyCore::VideoCodec;
using TessaloyMedia::VideoEncoder;

constexpr int framesPerOpen = 5;

std::uint64_t allocatedBytes() {
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
}

void openEncodeClose(VideoCodec codec, Bench::MovingGradient& picture) {
    // Software only, as where no hardware encoder opens.
    VideoEncoder encoder({.codec = codec,
                          .width = picture.view().width,
                          .height = picture.view().height,
                          .framesPerSecond = 30,
                          .bitrate = 4'000'000,
                          .keyframeIntervalSeconds = 4,
                          .renderNode = {}});
    for (int frame = 0; frame < framesPerOpen; ++frame) {
        picture.draw(frame);
        benchmark::DoNotOptimize(encoder.encode(picture.view(), static_cast<std::uint64_t>(frame) * 33'333, false));
    }
    benchmark::DoNotOptimize(encoder.flush());
}

void reopen(benchmark::State& state, VideoCodec codec) {
    Bench::MovingGradient picture(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    openEncodeClose(codec, picture);
    ::malloc_trim(0);
    const std::uint64_t heapBefore = allocatedBytes();
    const std::uint64_t residentBefore = Bench::residentBytes();
    std::int64_t opens = 0;
    for (auto _ : state) {
        openEncodeClose(codec, picture);
        ++opens;
    }
    ::malloc_trim(0);
    const auto perOpen = [&](std::uint64_t before, std::uint64_t after) {
        return (static_cast<double>(after) - static_cast<double>(before)) / 1024.0 / static_cast<double>(opens);
    };
    state.counters["heap_KiB_per_open"] = perOpen(heapBefore, allocatedBytes());
    state.counters["rss_KiB_per_open"] = perOpen(residentBefore, Bench::residentBytes());
}

void x264(benchmark::State& state) { reopen(state, VideoCodec::h264); }
void x265(benchmark::State& state) { reopen(state, VideoCodec::hevc); }

} // namespace

BENCHMARK(x264)->Args({1280, 720})->Args({1920, 1080})->Iterations(30)->Unit(benchmark::kMillisecond);
BENCHMARK(x265)->Args({1280, 720})->Args({1920, 1080})->Iterations(30)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
