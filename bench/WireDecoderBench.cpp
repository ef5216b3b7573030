// What the wire decoder costs next to copying the same bytes with memcpy: a stream of packets,
// cut into reads of random sizes (fixed seed), fed through WireDecoder::feed, read in place
// through writableSpace()/commit(), or just copied (into one warm buffer, or along a 4 MiB ring).
// The in-place variant's copy stands for the socket read itself; a feed() reader pays for its own
// read into its buffer on top of what is measured here.
#include "core/WireDecoder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

using namespace TessaloyCore;

namespace {

struct Workload {
    Bytes stream;
    std::vector<std::size_t> reads;
    std::size_t packets = 0;
};

// Fits the last-level cache, as bytes just received would be.
constexpr std::size_t streamBytes = 16 << 20;
constexpr std::size_t largestRead = 64 << 10;

// Payload sizes log-uniform between `smallest` and `largest` bytes, reads uniform in 1...64 KiB.
Workload makeWorkload(std::size_t smallest, std::size_t largest, std::uint32_t seed) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> exponent(std::log2(static_cast<double>(smallest)),
                                                    std::log2(static_cast<double>(largest)));
    std::uniform_int_distribution<int> kind(1, 11);
    Workload workload;
    while (workload.stream.size() < streamBytes) {
        const auto size = std::min(largest, static_cast<std::size_t>(std::exp2(exponent(random))));
        Bytes payload(size);
        for (std::size_t i = 0; i < size; i += 64) payload[i] = static_cast<std::uint8_t>(random());
        const Bytes encoded = WirePacket(static_cast<WirePacket::Kind>(kind(random)), std::move(payload)).encoded();
        workload.stream.insert(workload.stream.end(), encoded.begin(), encoded.end());
        ++workload.packets;
    }
    std::uniform_int_distribution<std::size_t> read(1, largestRead);
    for (std::size_t offset = 0; offset < workload.stream.size();) {
        const std::size_t size = std::min(read(random), workload.stream.size() - offset);
        workload.reads.push_back(size);
        offset += size;
    }
    return workload;
}

const Workload& mixed() {
    static const Workload workload = makeWorkload(64, WirePacket::maximumPayloadBytes, 1);
    return workload;
}

const Workload& large() {
    static const Workload workload = makeWorkload(256 << 10, WirePacket::maximumPayloadBytes, 2);
    return workload;
}

const Workload& small() {
    static const Workload workload = makeWorkload(64, 4 << 10, 3);
    return workload;
}

void report(benchmark::State& state, const Workload& workload) {
    const auto bytes = static_cast<double>(state.iterations()) * static_cast<double>(workload.stream.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["GB/s"] = benchmark::Counter(bytes / 1e9, benchmark::Counter::kIsRate);
    state.counters["packets/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(workload.packets), benchmark::Counter::kIsRate);
}

// Every read into the same cache-warm buffer: the cost of just moving the bytes.
void memcpyToOneBuffer(benchmark::State& state, const Workload& (*load)()) {
    const Workload& workload = load();
    Bytes destination(largestRead);
    for (auto _ : state) {
        const std::uint8_t* source = workload.stream.data();
        for (const std::size_t size : workload.reads) {
            std::memcpy(destination.data(), source, size);
            benchmark::ClobberMemory();
            source += size;
        }
        benchmark::DoNotOptimize(destination.data());
    }
    report(state, workload);
}

// Reads laid out one after another in a reused 4 MiB buffer, as large as two of the largest
// payloads: the memory the decoder's packets occupy.
void memcpyToRing(benchmark::State& state, const Workload& (*load)()) {
    const Workload& workload = load();
    Bytes destination(4 << 20);
    for (auto _ : state) {
        const std::uint8_t* source = workload.stream.data();
        std::size_t offset = 0;
        for (const std::size_t size : workload.reads) {
            if (offset + size > destination.size()) offset = 0;
            std::memcpy(destination.data() + offset, source, size);
            benchmark::ClobberMemory();
            source += size;
            offset += size;
        }
        benchmark::DoNotOptimize(destination.data());
    }
    report(state, workload);
}

void decoderFeed(benchmark::State& state, const Workload& (*load)()) {
    const Workload& workload = load();
    std::size_t received = 0;
    const WireDecoder::OnPacket onPacket = [&](WirePacket packet) {
        benchmark::DoNotOptimize(packet.payload().data());
        ++received;
    };
    for (auto _ : state) {
        WireDecoder decoder;
        ByteView rest = workload.stream;
        for (const std::size_t size : workload.reads) {
            decoder.feed(rest.first(size), onPacket);
            rest = rest.subspan(size);
        }
    }
    if (received != workload.packets * state.iterations()) state.SkipWithError("packets went missing");
    report(state, workload);
}

// Each read lands straight in the decoder's header or payload, as a socket read would.
void decoderWritableSpace(benchmark::State& state, const Workload& (*load)()) {
    const Workload& workload = load();
    std::size_t received = 0;
    for (auto _ : state) {
        WireDecoder decoder;
        const std::uint8_t* source = workload.stream.data();
        for (std::size_t size : workload.reads) {
            while (size > 0) {
                const std::span<std::uint8_t> space = decoder.writableSpace();
                const std::size_t count = std::min(size, space.size());
                std::memcpy(space.data(), source, count);
                source += count;
                size -= count;
                if (auto packet = decoder.commit(count)) {
                    benchmark::DoNotOptimize(packet->payload().data());
                    ++received;
                }
            }
        }
    }
    if (received != workload.packets * state.iterations()) state.SkipWithError("packets went missing");
    report(state, workload);
}

} // namespace

BENCHMARK_CAPTURE(memcpyToOneBuffer, mixed, mixed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(memcpyToRing, mixed, mixed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decoderFeed, mixed, mixed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decoderWritableSpace, mixed, mixed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(memcpyToOneBuffer, large, large)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(memcpyToRing, large, large)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decoderFeed, large, large)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decoderWritableSpace, large, large)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(memcpyToOneBuffer, small, small)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(memcpyToRing, small, small)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decoderFeed, small, small)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decoderWritableSpace, small, small)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
