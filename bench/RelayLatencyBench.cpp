// What the relay adds to the way from the screen to the device's decoded picture, over loopback:
// one moving desktop on a private Xvfb streams to two devices at once (see DeviceStream), one over
// a direct TLS connection to this computer's listening port, the other through the loopback test
// relay: the device's sealed hello and the relay's reply, the relay's splice, and this computer's
// answer bridging the call to its listener. Both streams see the same screen under the same load,
// so the difference of their latencies is what the relay road costs.
//
// Counters, over every frame decoded while the picture moves (grab start to decoded picture):
//   direct_p50_ms / direct_p99_ms   the direct path
//   relay_p50_ms / relay_p99_ms     through the relay
//   added_p50_ms / added_p99_ms     relay minus direct
#include "base/SerialQueue.h"
#include "bench/DeviceStream.h"
#include "bench/Measures.h"
#include "bench/MovingDesktop.h"
#include "net/channel/DeviceIdentity.h"
#include "net/relay/MeetingIdentity.h"
#include "net/relay/RelayAnswers.h"
#include "net/relay/RelayControlClient.h"
#include "tests/support/RelayedChannel.h"
#include "tests/support/TestRelay.h"

#include <benchmark/benchmark.h>
#include <asio/ip/tcp.hpp>

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
using asio::ip::tcp;
using TessaloyConnectWire::ConnectChannel;
using TessaloyCore::Bytes;

// This computer's listening port for one path, on the loopback address that relayed calls are
// bridged to.
tcp::acceptor listening() {
    return tcp::acceptor(TessaloyBase::sharedIoContext(), tcp::endpoint(asio::ip::address_v6::loopback(), 0));
}

// The device's media channel through the relay to the Mac that registered `meetingID`.
Bench::LoopbackChannels::Dial throughRelay(const TessaloyNet::RelayEndpoint& relay, const Bytes& meetingID) {
    return [route = TessaloyNet::RelayRoute{relay, meetingID}](const tcp::endpoint&,
                                                               const TessaloyNet::TlsParameters& parameters) {
        return Testing::relayedChannel(route, ConnectChannel::media, parameters);
    };
}

void relayLatency(benchmark::State& state, int width, int height) {
    Bench::MovingDesktop desktop(width, height);
    tcp::acceptor directListener = listening();
    tcp::acceptor relayListener = listening();

    // This computer registered with the relay, answering its calls into `relayListener`.
    Testing::TestRelay relay;
    const TessaloyNet::DeviceIdentity mac(TessaloyNet::P256PrivateKey::generate());
    const TessaloyNet::DeviceIdentity phone(TessaloyNet::P256PrivateKey::generate());
    const auto client = TessaloyNet::RelayControlClient::create(relay.endpoint());
    const auto answers = TessaloyNet::RelayAnswers::create();
    client->setOnIncoming([answers, endpoint = relay.endpoint(), port = relayListener.local_endpoint().port()](
                              Bytes sessionID, Bytes, ConnectChannel channel) {
        (void)answers->answer(endpoint, sessionID, channel, port, {});
    });
    client->start({TessaloyNet::MeetingIdentity::meetingID(mac, phone.publicKey())});
    if (!relay.waitUntil([](const auto& heard) { return !heard.controlMessages.empty(); })) {
        state.SkipWithError("this computer did not register with the relay");
        return;
    }

    Bench::DeviceStream direct(desktop, directListener);
    Bench::DeviceStream relayed(
        desktop, relayListener,
        throughRelay(relay.endpoint(), TessaloyNet::MeetingIdentity::meetingID(phone, mac.publicKey())));
    state.SetLabel(direct.encoding.output->backendDescription());

    for (auto _ : state) {
        // A second of moving picture to settle both encoders' rates, then the measured part.
        desktop.play(60, 60);
        direct.device.startCounting();
        relayed.device.startCounting();
        desktop.play(600, 60);
        // The last frames through the encoders and the connections.
        std::this_thread::sleep_for(200ms);
        direct.device.stopCounting();
        relayed.device.stopCounting();
        const auto straight = direct.device.samples();
        const auto around = relayed.device.samples();
        const auto at = [](const Bench::DecodingDevice::Samples& samples, double fraction) {
            return Bench::percentile(samples.latency, fraction) * 1e3;
        };
        state.SetIterationTime(Bench::percentile(around.latency, 0.5));
        state.counters["direct_frames"] = static_cast<double>(straight.latency.size());
        state.counters["relay_frames"] = static_cast<double>(around.latency.size());
        state.counters["direct_p50_ms"] = at(straight, 0.5);
        state.counters["direct_p99_ms"] = at(straight, 0.99);
        state.counters["relay_p50_ms"] = at(around, 0.5);
        state.counters["relay_p99_ms"] = at(around, 0.99);
        state.counters["added_p50_ms"] = at(around, 0.5) - at(straight, 0.5);
        state.counters["added_p99_ms"] = at(around, 0.99) - at(straight, 0.99);
        if (straight.failures + around.failures > 0) state.SkipWithError("a device could not decode every frame");
    }
    client->stop();
}

} // namespace

BENCHMARK_CAPTURE(relayLatency, x264_1280x720, 1280, 720)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
