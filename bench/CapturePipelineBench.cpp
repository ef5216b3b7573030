// The whole video path of a session, per frame, on a private Xvfb: X11ScreenCapture grabs a picture
// that moves every frame (a scrolling diagonal gradient, full screen), CaptureEncodingOutput converts
// and encodes it and hands the packets to a VideoSender, and the media channel's queue pulls them.
//
// Counters, over every frame of a run (p50 and p99):
//   capture_*  grab start to the hand-over of the picture (XShm grab, pointer drawn in)
//   convert_*  the colour conversion alone (BGRX to the encoder's YUV, timed again on a copy of the
//              work once the frame's packets have reached the channel, so it holds up no hand-off)
//   encode_*   the encoding output's work per picture minus that conversion: the encoder itself and
//              the hand-over to the sender
//   latency_*  grab start to the packet being pulled on the channel's queue (x265's late frames
//              included)
//   cpu_ms_per_frame  this process's CPU time per encoded frame, every thread (capture, encoder
//              threads, channel), without the drawing and the extra conversion (its threads
//              included: the process's time while it runs); Xvfb's own work is
//              another process and is not counted
// Then the screen stops changing: static_frames counts the frames sent after the last change (one
// refinement frame is expected), static_refinements those marked as refinements.
#include "app/capture/CaptureEncodingOutput.h"
#include "base/SerialQueue.h"
#include "bench/Measures.h"
#include "bench/MovingDesktop.h"
#include "core/ByteReader.h"
#include "media/FrameConverter.h"
#include "media/FramePool.h"
#include "net/channel/PacketChannel.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using TessaloyCore::VideoCodec;
using TessaloyCore::WirePacket;

// What reaches the media channel: each video frame timed against the start of its grab.
class TimingChannel final : public TessaloyNet::PacketChannel {
public:
    // Pulls already queued run on this object.
    ~TimingChannel() override { drain(); }

    TessaloyBase::SerialQueue& queue() override { return queue_; }
    void setEvents(Events) override {}
    void setPacketSource(PacketSource source) override {
        std::lock_guard guard(lock_);
        source_ = std::move(source);
    }
    void resumeSending() override {
        queue_.async([this] {
            PacketSource source;
            {
                std::lock_guard guard(lock_);
                source = source_;
            }
            while (source) {
                std::optional<WirePacket> packet = source();
                if (!packet) break;
                if (packet->kind() == WirePacket::Kind::videoFrame) take(*packet);
            }
        });
    }
    void sendDirect(WirePacket) override {}
    bool sendDroppable(WirePacket, int) override { return true; }
    void pauseReading(bool) override {}
    void close(std::optional<std::string>) override {}
    std::optional<TessaloyCore::Bytes> peerPublicKey() const override { return std::nullopt; }
    TessaloyNet::LatencySamples latency() const override { return {}; }

    void setFirstGrab(Clock::time_point first) {
        std::lock_guard guard(lock_);
        firstGrab_ = first;
    }
    std::vector<double> latencies() const {
        std::lock_guard guard(lock_);
        return latencies_;
    }
    std::size_t frames() const {
        std::lock_guard guard(lock_);
        return sent_.size();
    }
    // Frames grabbed after `moment`, and how many of them are refinements.
    std::pair<std::size_t, std::size_t> grabbedAfter(Clock::time_point moment) const {
        std::lock_guard guard(lock_);
        std::pair<std::size_t, std::size_t> counts;
        for (const auto& [grabbed, refinement] : sent_) {
            if (grabbed <= moment) continue;
            ++counts.first;
            if (refinement) ++counts.second;
        }
        return counts;
    }
    void drain() {
        queue_.sync([] {});
    }

private:
    void take(const WirePacket& packet) {
        // u32 generation, u8 flags (bit 1: refinement), u64 presentation time.
        TessaloyCore::ByteReader reader(packet.payload());
        reader.u32();
        const bool refinement = (reader.u8() & 2) != 0;
        const auto presentation = std::chrono::microseconds(reader.u64());
        std::lock_guard guard(lock_);
        if (!firstGrab_) return;
        const Clock::time_point grabbed = *firstGrab_ + presentation;
        sent_.emplace_back(grabbed, refinement);
        latencies_.push_back(std::chrono::duration<double>(Clock::now() - grabbed).count());
    }

    TessaloyBase::SerialQueue queue_{"dev.tessaloy.channel"};
    mutable std::mutex lock_;
    PacketSource source_;
    std::optional<Clock::time_point> firstGrab_;
    std::vector<double> latencies_;
    std::vector<std::pair<Clock::time_point, bool>> sent_;
};

// Per-picture timings taken on the capture queue around the encoding output.
struct FrameTimes {
    std::vector<double> capture;
    std::vector<double> convert;
    std::vector<double> encode;
    double extraCpu = 0;
    std::optional<Clock::time_point> firstGrab;
};

void pipeline(benchmark::State& state, VideoCodec codec, int width, int height) {
    Bench::MovingDesktop desktop(width, height);
    auto channel = std::make_shared<TimingChannel>();
    FrameTimes times;
    TessaloyMedia::FramePool pool(width, height, AV_PIX_FMT_YUV420P, 1);
    TessaloyMedia::FrameConverter converter;
    Bench::DesktopEncoding encoding(desktop, codec, channel);
    state.SetLabel(encoding.output->backendDescription());
    TessaloyBase::SerialQueue& captureQueue = encoding.captureQueue;

    encoding.start([&](const TessaloyBase::FrameView& frame) {
        const auto handedOver = Clock::now();
        if (!times.firstGrab) {
            times.firstGrab = frame.captureTime;
            channel->setFirstGrab(frame.captureTime);
        }
        encoding.output->take(frame);
        const auto encoded = Clock::now();
        // Once the channel has pulled the packets, so the extra work delays no hand-off.
        channel->drain();
        const double cpuBefore = Bench::cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const auto converting = Clock::now();
        converter.convert(frame, pool.acquire());
        const std::chrono::duration<double> conversion = Clock::now() - converting;
        times.extraCpu += Bench::cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore;
        times.capture.push_back(std::chrono::duration<double>(handedOver - frame.captureTime).count());
        times.convert.push_back(conversion.count());
        times.encode.push_back(std::chrono::duration<double>(encoded - handedOver).count() - conversion.count());
    });

    const int frames = codec == VideoCodec::hevc ? 150 : 300;
    double drawingCpu = 0;
    const double processCpuStart = Bench::cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    for (auto _ : state) {
        drawingCpu += desktop.play(frames, 30);
        // The last frames through the encoder, then a still screen for three refinement delays.
        const auto lastChange = Clock::now();
        std::this_thread::sleep_for(200ms);
        captureQueue.sync([] {});
        channel->drain();
        const double processCpu = Bench::cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processCpuStart - drawingCpu;
        std::this_thread::sleep_for(3 * Plovander::CaptureEncodingOutput::refinementDelay);
        captureQueue.sync([] {});
        channel->drain();
        // Grabs of the last change come within a frame interval; any later grab is of a still screen.
        const auto [stillFrames, stillRefinements] = channel->grabbedAfter(lastChange + 100ms);
        const std::size_t moving = channel->frames() - stillFrames;

        const double extraCpu = captureQueue.sync([&] { return times.extraCpu; });
        const auto latencies = channel->latencies();
        state.SetIterationTime(Bench::percentile(latencies, 0.5));
        const auto samples = captureQueue.sync([&] { return times; });
        state.counters["frames"] = static_cast<double>(moving);
        state.counters["capture_p50_ms"] = Bench::percentile(samples.capture, 0.5) * 1e3;
        state.counters["capture_p99_ms"] = Bench::percentile(samples.capture, 0.99) * 1e3;
        state.counters["convert_p50_ms"] = Bench::percentile(samples.convert, 0.5) * 1e3;
        state.counters["convert_p99_ms"] = Bench::percentile(samples.convert, 0.99) * 1e3;
        state.counters["encode_p50_ms"] = Bench::percentile(samples.encode, 0.5) * 1e3;
        state.counters["encode_p99_ms"] = Bench::percentile(samples.encode, 0.99) * 1e3;
        state.counters["latency_p50_ms"] = Bench::percentile(latencies, 0.5) * 1e3;
        state.counters["latency_p99_ms"] = Bench::percentile(latencies, 0.99) * 1e3;
        state.counters["cpu_ms_per_frame"] =
            (processCpu - extraCpu) * 1e3 / static_cast<double>(std::max<std::size_t>(moving, 1));
        state.counters["static_frames"] = static_cast<double>(stillFrames);
        state.counters["static_refinements"] = static_cast<double>(stillRefinements);
        if (stillFrames != 1 || stillRefinements != 1) {
            state.SkipWithError("a still screen did not send exactly one refinement frame");
        }
    }
}

} // namespace

BENCHMARK_CAPTURE(pipeline, x264_1920x1080, VideoCodec::h264, 1920, 1080)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pipeline, x264_1280x720, VideoCodec::h264, 1280, 720)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pipeline, x265_1920x1080, VideoCodec::hevc, 1920, 1080)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pipeline, x265_1280x720, VideoCodec::hevc, 1280, 720)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
