// Whether the paired device still gets in while a local process floods the listener with
// connections that start a handshake and never finish it, and what the flood's pending handshakes
// cost. The listener runs in trusted mode on loopback with its real deadlines; the flood keeps its
// connections open from 127.0.0.1 alone or from 127.0.0.1 to 127.0.0.100, each sending a TLS client
// hello (or nothing) and then nothing, and opens each again as soon as the listener closes it, at
// most so many times a second (0: as fast as it can). Meanwhile the device, on 127.0.0.1 behind a
// relay that delays its flights by half its round trip each way, connects 5 times in a row.
//
// Arguments: the device's round trip in ms, source addresses, connections per address, openings a
// second, whether they send a hello. The floods, at 1,000 openings a second: 16 connections from
// the device's own address and 1,000 (more than one host may have pending); one from each of 100
// addresses and 10 from each (more than all may have pending); 600 from 100 addresses without a
// hello; and the two larger ones without a limit on openings.
// Counters:
//   admitted              attempts of the 5 in which both of the device's channels got in; goal:
//                         5 at up to 1,000 openings a second
//   openings_per_second   the flood's openings while the device tried
//   slowest_entry_ms      the longest an admitted attempt took
//   rss_mib               the process's resident set at the end, the flood still pending
//   pending               connections pending on the listener then
//   kib_per_pending       what the resident set grew by during the flood, per pending connection;
//                         meaningful where the flood fills the listener's limits
#include "bench/Measures.h"
#include "tests/net/channel/IdleFlood.h"
#include "tests/net/channel/ListenerHarness.h"
#include "tests/support/DeviceSimulator.h"
#include "tests/support/LoopbackRelay.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Event = TessaloyNet::LANHostListener::Event;
using Role = TessaloyCore::ChannelRole;

constexpr int attempts = 5;

std::vector<asio::ip::address> loopbackSources(int count) {
    std::vector<asio::ip::address> sources;
    for (int host = 1; host <= count; ++host) {
        sources.push_back(asio::ip::make_address("127.0.0." + std::to_string(host)));
    }
    return sources;
}

bool closed(Testing::DeviceSimulator& device, Role role) {
    auto* connection = device.channel(role);
    if (!connection) return true;
    std::lock_guard guard(connection->log.lock);
    return connection->log.closedCount > 0;
}

// Connects the device; true once both its channels got in, false once the listener closed one.
bool admitted(Testing::ListenerHarness& mac, Testing::DeviceSimulator& device, const asio::ip::tcp::endpoint& at) {
    const std::size_t before = mac.all<Event::Authenticated>().size();
    device.connect(at);
    std::size_t authenticated = 0;
    // Every refusal of the flood's connections wakes the wait; the time-out is the handshake
    // deadline and a little more.
    std::unique_lock guard(mac.lock);
    mac.changed.wait_for(guard, 6s, [&] {
        authenticated = 0;
        for (const auto& event : mac.events) authenticated += std::holds_alternative<Event::Authenticated>(event.value);
        return authenticated >= before + 2 || closed(device, Role::media) || closed(device, Role::control);
    });
    return authenticated >= before + 2;
}

void handshakeFlood(benchmark::State& state) {
    const auto roundTrip = std::chrono::milliseconds(state.range(0));
    const auto addresses = static_cast<int>(state.range(1));
    const auto perAddress = static_cast<int>(state.range(2));
    const auto openingsPerSecond = static_cast<int>(state.range(3));
    Testing::ListenerHarness mac({}, {}, std::nullopt, TessaloyBase::sharedSteadyQueueClock());
    Testing::DeviceSimulator device("Bench iPhone");
    mac.store->add({device.identity().publicKey(), device.name(), std::chrono::system_clock::now(), std::nullopt});
    device.setMacKey(mac.mac.publicKey());
    const asio::ip::tcp::endpoint listener(asio::ip::make_address("127.0.0.1"), mac.start(std::nullopt, false));
    Testing::LoopbackRelay wifi(listener, {.receiveBuffer = 64 * 1024, .segmentSize = 1'400, .roundTrip = roundTrip});
    const TessaloyCore::Bytes hello =
        state.range(4) != 0 ? Testing::clientHello(device.trustedParameters()) : TessaloyCore::Bytes{};
    for (auto _ : state) {
        ::malloc_trim(0);
        const auto residentBefore = static_cast<double>(Bench::residentBytes());
        Testing::IdleFlood flood(listener, loopbackSources(addresses), perAddress,
                                 openingsPerSecond > 0 ? openingsPerSecond : 1'000'000, 1'000'000'000, hello);
        // Every connection of the flood opened once before the device tries.
        mac.waitUntil([&] { return flood.openings() >= addresses * perAddress; }, 60s);
        const int openingsBefore = flood.openings();
        const auto start = Clock::now();
        int in = 0;
        double slowest = 0;
        for (int attempt = 0; attempt < attempts; ++attempt) {
            const auto tried = Clock::now();
            if (admitted(mac, device, wifi.endpoint())) {
                ++in;
                slowest = std::max(slowest, std::chrono::duration<double, std::milli>(Clock::now() - tried).count());
            }
            device.disconnect();
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.counters["admitted"] = in;
        state.counters["openings_per_second"] = (flood.openings() - openingsBefore) / seconds;
        state.counters["slowest_entry_ms"] = slowest;
        const auto resident = static_cast<double>(Bench::residentBytes());
        const int pending = std::max(mac.listener->pendingHandshakes(), 1);
        const double perPending = (resident - residentBefore) / pending / 1024;
        state.counters["rss_mib"] = resident / (1024 * 1024);
        state.counters["pending"] = pending;
        state.counters["kib_per_pending"] = perPending;
    }
}

} // namespace

BENCHMARK(handshakeFlood)
    ->ArgNames({"round_trip", "addresses", "per_address", "rate", "hello"})
    ->ArgsProduct({{20, 50}, {1}, {16, 1000}, {1000}, {1}})
    ->ArgsProduct({{20, 50}, {100}, {1, 10}, {1000}, {1}})
    ->Args({50, 100, 6, 1000, 0})
    ->Args({50, 1, 1000, 0, 1})
    ->Args({50, 100, 10, 0, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

BENCHMARK_MAIN();
