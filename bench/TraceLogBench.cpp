// What a trace call costs: nearly nothing when tracing is off; when on, what the caller pays (the
// line made and posted to the trace queue), and what a line costs until it is in the file.
#include "app/trace/TraceLog.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

using Plovander::TraceLog;

static void traceOff(benchmark::State& state) {
    TraceLog::configure({});
    int counter = 0;
    for (auto _ : state) {
        TraceLog::message([&] { return "packet " + std::to_string(++counter); });
    }
    benchmark::DoNotOptimize(counter);
}
BENCHMARK(traceOff);

// Lines are written in batches of `batch` (state.range(0)): 1 is one line at a time, waiting for
// each; a larger batch lets the caller run ahead of the writer, as a caller does.
static void traceOnToFile(benchmark::State& state) {
    const auto file = std::filesystem::temp_directory_path() / "plovander-trace-bench.log";
    TraceLog::configure({.enabled = true, .file = file, .toStandardError = false});
    const auto batch = state.range(0);
    int counter = 0;
    for (auto _ : state) {
        TraceLog::message([&] { return "packet " + std::to_string(++counter); });
        if (counter % batch == 0) TraceLog::flush();
    }
    TraceLog::configure({});
    std::filesystem::remove(file);
}
BENCHMARK(traceOnToFile)->Arg(1)->Arg(1000);

BENCHMARK_MAIN();
