// What one captured frame costs: the time from the start of the grab to the hand-over of the
// picture (XShm grab of a whole display, plus drawing the pointer when asked), at two display sizes,
// measured on a private Xvfb server. Counters p50_ms and p99_ms are over all frames of a run.
#include "base/SerialQueue.h"
#include "bench/Measures.h"
#include "platform/Displays.h"
#include "platform/ScreenCapture.h"
#include "tests/support/XvfbServer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace {

void grab(benchmark::State& state, int width, int height, bool showsCursor) {
    const Testing::XvfbServer screen({.width = width, .height = height, .disabledExtensions = {}});
    TessaloyBase::SerialQueue queue("dev.tessaloy.capture");
    const auto displays = Platform::Displays::create(screen.displayName())->list();
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<double> seconds;
    auto capture = Platform::ScreenCapture::create(queue, screen.displayName());
    // The capture lives on its queue: every call is made there.
    queue.sync([&] {
        capture->start({.displayID = displays.front().displayID, .framesPerSecond = 240, .showsCursor = showsCursor},
                       {.onFrame =
                            [&](const TessaloyBase::FrameView& view) {
                                const std::chrono::duration<double> spent =
                                    std::chrono::steady_clock::now() - view.captureTime;
                                {
                                    std::lock_guard guard(lock);
                                    seconds.push_back(spent.count());
                                }
                                arrived.notify_one();
                            },
                        .onStopped = {},
                        .onNote = [&](const std::string& line) { state.SetLabel(line); }});
    });
    {
        // The first frame comes on its own.
        std::unique_lock guard(lock);
        arrived.wait(guard, [&] { return !seconds.empty(); });
        seconds.clear();
    }
    for (auto _ : state) {
        std::unique_lock guard(lock);
        const std::size_t before = seconds.size();
        guard.unlock();
        queue.async([&] { capture->requestFrame(); });
        guard.lock();
        arrived.wait(guard, [&] { return seconds.size() > before; });
        state.SetIterationTime(seconds.back());
    }
    queue.sync([&] { capture->stop(); });
    state.counters["p50_ms"] = Bench::percentile(seconds, 0.50) * 1000;
    state.counters["p99_ms"] = Bench::percentile(seconds, 0.99) * 1000;
}

} // namespace

BENCHMARK_CAPTURE(grab, 1920x1080, 1920, 1080, false)->UseManualTime()->Iterations(600)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(grab, 1920x1080_pointer, 1920, 1080, true)
    ->UseManualTime()
    ->Iterations(600)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(grab, 1280x720, 1280, 720, false)->UseManualTime()->Iterations(600)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(grab, 1280x720_pointer, 1280, 720, true)
    ->UseManualTime()
    ->Iterations(600)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
