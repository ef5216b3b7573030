// What a trace call costs: nearly nothing when tracing is off, one queue hop and two writes when on.
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

static void traceOnToFile(benchmark::State& state) {
    const auto file = std::filesystem::temp_directory_path() / "plovander-trace-bench.log";
    TraceLog::configure({.enabled = true, .file = file, .toStandardError = false});
    int counter = 0;
    for (auto _ : state) {
        TraceLog::message([&] { return "packet " + std::to_string(++counter); });
    }
    TraceLog::configure({});
    std::filesystem::remove(file);
}
BENCHMARK(traceOnToFile);

BENCHMARK_MAIN();
