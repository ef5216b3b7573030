// What each opening of a software video encoder leaves in the process, as a device that switches
// codecs makes the host reopen it: one encoder at a time is opened at the given size, given a few
// frames and closed, once per iteration, after one warm-up opening that pays for what the library
// sets up once.
//
// Counters, per opening after the warm-up:
//   heap_KiB_per_open  what the allocator handed out and did not get back (mallinfo2)
//   rss_KiB_per_open   the resident set
#include "bench/Measures.h"
#include "media/VideoEncoder.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdint>
#include <vector>

namespace {

using TessaloyCore::VideoCodec;
using TessaloyMedia::VideoEncoder;

constexpr int framesPerOpen = 5;

std::uint64_t allocatedBytes() {
    const struct mallinfo2 info = ::mallinfo2();
    return info.uordblks + info.hblkhd;
}

// A gradient that moves a little each frame, captured as BGRX.
TessaloyBase::FrameView pictureAt(std::vector<std::uint8_t>& pixels, int width, int height, int step) {
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* pixel = pixels.data() + (static_cast<std::size_t>(y) * width + x) * 4;
            pixel[0] = static_cast<std::uint8_t>(x + step * 4);
            pixel[1] = static_cast<std::uint8_t>(y + step * 2);
            pixel[2] = static_cast<std::uint8_t>(x + y);
        }
    }
    TessaloyBase::FrameView view;
    view.pixels = pixels.data();
    view.width = width;
    view.height = height;
    view.bytesPerRow = static_cast<std::size_t>(width) * 4;
    return view;
}

void openEncodeClose(VideoCodec codec, int width, int height, std::vector<std::uint8_t>& pixels) {
    VideoEncoder::Settings settings;
    settings.codec = codec;
    settings.width = width;
    settings.height = height;
    settings.framesPerSecond = 30;
    settings.bitrate = 4'000'000;
    settings.keyframeIntervalSeconds = 4;
    settings.renderNode.clear();
    VideoEncoder encoder(settings);
    for (int frame = 0; frame < framesPerOpen; ++frame) {
        benchmark::DoNotOptimize(
            encoder.encode(pictureAt(pixels, width, height, frame), static_cast<std::uint64_t>(frame) * 33'333, false));
    }
    benchmark::DoNotOptimize(encoder.flush());
}

void reopen(benchmark::State& state, VideoCodec codec) {
    const auto width = static_cast<int>(state.range(0));
    const auto height = static_cast<int>(state.range(1));
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
    openEncodeClose(codec, width, height, pixels);
    ::malloc_trim(0);
    const std::uint64_t heapBefore = allocatedBytes();
    const std::uint64_t residentBefore = Bench::residentBytes();
    std::int64_t opens = 0;
    for (auto _ : state) {
        openEncodeClose(codec, width, height, pixels);
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
