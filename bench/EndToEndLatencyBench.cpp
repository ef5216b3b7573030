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
#include "app/capture/CaptureEncodingOutput.h"
#include "base/MainActor.h"
#include "base/SerialQueue.h"
#include "bench/LiveVideoSettings.h"
#include "bench/Measures.h"
#include "bench/QueueActor.h"
#include "core/ByteReader.h"
#include "core/VideoConfiguration.h"
#include "core/VideoFrame.h"
#include "media/VideoDecoder.h"
#include "net/channel/LANTransport.h"
#include "net/channel/PairingCode.h"
#include "net/channel/PairingKeys.h"
#include "net/channel/TlsPacketChannel.h"
#include "net/send/VideoSendQueue.h"
#include "net/send/VideoSender.h"
#include "platform/Displays.h"
#include "platform/ScreenCapture.h"
#include "tests/support/MovingPicture.h"
#include "tests/support/X11TestDesktop.h"
#include "tests/support/XvfbServer.h"

#include <benchmark/benchmark.h>
#include <asio/ip/tcp.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using TessaloyCore::WirePacket;

// The device's end: decodes every frame as its packet arrives, on the channel's queue, and times
// it against the start of its grab (the same process, so the same clock).
class DecodingDevice {
public:
    TessaloyNet::PacketChannel::Events events(std::shared_ptr<std::promise<void>> ready) {
        return {.ready = [ready] { ready->set_value(); },
                .packet = [this](WirePacket packet) { take(packet); },
                .closed = nullptr};
    }
    void setFirstGrab(Clock::time_point first) {
        std::lock_guard guard(lock_);
        firstGrab_ = first;
    }
    // Samples from now on only.
    void startCounting() {
        std::lock_guard guard(lock_);
        counting_ = true;
    }
    void stopCounting() {
        std::lock_guard guard(lock_);
        counting_ = false;
    }

    struct Samples {
        std::vector<double> latency;
        std::vector<double> arrival;
        std::vector<double> decode;
        std::size_t failures = 0;
    };
    Samples samples() const {
        std::lock_guard guard(lock_);
        return samples_;
    }

private:
    void take(const WirePacket& packet) {
        const auto arrived = Clock::now();
        std::lock_guard guard(lock_);
        try {
            if (packet.kind() == WirePacket::Kind::videoConfiguration) {
                decoder_.configure(TessaloyCore::VideoConfiguration::decode(packet));
                return;
            }
            if (packet.kind() != WirePacket::Kind::videoFrame) return;
            const auto frame = TessaloyCore::VideoFrame::decode(packet);
            const auto pictures = decoder_.decode(frame);
            const auto decoded = Clock::now();
            if (!firstGrab_ || !counting_ || pictures.empty()) return;
            const Clock::time_point grabbed =
                *firstGrab_ + std::chrono::microseconds(pictures.back().presentationMicroseconds);
            samples_.latency.push_back(std::chrono::duration<double>(decoded - grabbed).count());
            samples_.arrival.push_back(std::chrono::duration<double>(arrived - grabbed).count());
            samples_.decode.push_back(std::chrono::duration<double>(decoded - arrived).count());
        } catch (const std::exception&) {
            ++samples_.failures;
        }
    }

    mutable std::mutex lock_;
    TessaloyMedia::VideoDecoder decoder_{TessaloyMedia::VideoDecoder::PixelLayout::rgb};
    std::optional<Clock::time_point> firstGrab_;
    bool counting_ = false;
    Samples samples_;
};

const TessaloyNet::PairingKeys& keys() {
    static const TessaloyCore::Bytes salt(16, 0x42);
    static const TessaloyNet::PairingKeys derived =
        TessaloyNet::PairingKeys::derive(*TessaloyNet::PairingCode::parse("ABCD-EFGH"), salt);
    return derived;
}

void endToEnd(benchmark::State& state, int width, int height) {
    const Testing::XvfbServer screen({.width = width, .height = height, .disabledExtensions = {}});
    Testing::X11TestDesktop desktop(screen.displayName());
    Testing::MovingPicture picture(desktop.connection(), width, height, Testing::MovingPicture::Pattern::gradient);
    Bench::QueueActor actor;
    TessaloyBase::SerialQueue captureQueue("dev.tessaloy.capture");
    const auto displays = Platform::Displays::create(screen.displayName())->list();
    std::shared_ptr<Platform::ScreenCapture> stream =
        Platform::ScreenCapture::create(captureQueue, screen.displayName());

    // The Mac's channel and the device's, joined over loopback TLS 1.3 with pairing identities.
    asio::ip::tcp::acceptor acceptor(TessaloyBase::sharedIoContext(),
                                     asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    DecodingDevice device;
    auto deviceReady = std::make_shared<std::promise<void>>();
    auto macReady = std::make_shared<std::promise<void>>();
    auto deviceChannel = TessaloyNet::TlsPacketChannel::connecting(
        acceptor.local_endpoint(), TessaloyNet::LANTransport::pairingClientParameters(keys(), "Phone"));
    deviceChannel->setEvents(device.events(deviceReady));
    deviceChannel->start();
    auto macChannel = TessaloyNet::TlsPacketChannel::accepted(
        acceptor.accept(), TessaloyNet::LANTransport::pairingServerParameters(keys(), "Mac", nullptr));
    macChannel->setEvents({.ready = [macReady] { macReady->set_value(); }, .packet = nullptr, .closed = nullptr});
    macChannel->start();
    deviceReady->get_future().wait();
    macReady->get_future().wait();

    auto sendQueue = std::make_shared<TessaloyNet::VideoSendQueue>(16, 8'388'608);
    auto sender = std::make_shared<TessaloyNet::VideoSender>(macChannel, sendQueue);
    sender->attach();

    const TessaloyMedia::VideoEncoder::Settings settings =
        Bench::liveVideoSettings(TessaloyCore::VideoCodec::h264, width, height);
    auto output = std::make_shared<Plovander::CaptureEncodingOutput>(
        captureQueue, actor, settings, sender, std::nullopt, stream, 1, Plovander::CaptureEncodingOutput::Events{});
    state.SetLabel(output->backendDescription());

    std::atomic<std::uint64_t> held{0};
    bool firstGrabSet = false;
    stream->start({.displayID = displays.front().displayID, .framesPerSecond = 60, .showsCursor = true},
                  {.onFrame =
                       [&](const TessaloyBase::FrameView& frame) {
                           if (!firstGrabSet) {
                               firstGrabSet = true;
                               device.setFirstGrab(frame.captureTime);
                           }
                           if (sendQueue->counters().queuedFrames >= 8) ++held;
                           output->take(frame);
                       },
                   .onStopped = {},
                   .onNote = {}});
    output->begin();

    const auto interval = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / 60));
    const int frames = 600;
    for (auto _ : state) {
        // A second of moving picture to settle the encoder's rate, then the measured part.
        auto next = Clock::now();
        for (int step = 0; step < 60; ++step) {
            picture.step();
            next += interval;
            std::this_thread::sleep_until(next);
        }
        device.startCounting();
        const std::uint64_t heldBefore = held.load();
        const auto start = Clock::now();
        for (int step = 0; step < frames; ++step) {
            picture.step();
            next += interval;
            std::this_thread::sleep_until(next);
        }
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
    stream->stop();
    captureQueue.sync([&] { output->finish(); });
    sender->stop();
    macChannel->close();
    deviceChannel->close();
}

} // namespace

BENCHMARK_CAPTURE(endToEnd, x264_1920x1080, 1920, 1080)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(endToEnd, x264_1280x720, 1280, 720)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
