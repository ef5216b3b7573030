// Whether a session's frames keep their pace, and what each costs the host, on a moving screen: a
// private Xvfb plays a picture that moves 30 times a second (a scrolling diagonal gradient, full
// screen); the host captures and encodes it as a session does at the balanced mode's rung for the
// size (X11ScreenCapture, CaptureEncodingOutput, VideoSender, the rung's frame rate and bitrate),
// with the codec that the session's rule chooses for the device, and sends it over loopback TLS 1.3
// to a device that decodes every frame (RGB, as its view). One more case shows what that device
// would get were HEVC chosen without a hardware encoder (x265 on the host's cores).
//
// Run it on the host's cores: `taskset -c 6,7 StreamPaceBench`. The host is this process, on the
// cores it was given; Xvfb, the drawing and the device (this program again, as a child process)
// run on every other core. Then ffmpeg's own x11grab -> libx264 (ultrafast, zerolatency, the same
// bitrate and frame rate) captures the same screen, moving the same way, on the host's cores.
//
// Counters, over the frames grabbed while the picture moves (after a warm-up):
//   fps                       pictures decoded by the device per second
//   gap_p50_ms/p99/max        time between consecutive pictures decoded by the device
//   lost                      moves of the picture that the device never saw
//   screen_gap_p99_ms         time between consecutive moves of the picture itself: how steadily
//                             the screen moved on the screen's loaded cores
//   send_gap_p99_ms           time between consecutive frames handed to the sender: how steadily
//                             the host sent them
//   host_cpu_ms_per_frame     the host's CPU time (every thread of this process but the drawing)
//                             per picture the device decoded
//   ffmpeg_cpu_ms_per_frame   ffmpeg's CPU time per frame it encoded (its start included)
//   cpu_vs_ffmpeg             the ratio of the two
//   grab_to_packet_p50/p99_ms grab start to the frame's packets handed to the sender
//   convert_p50/p99_ms        the colour conversion of each picture, inside the encoder
//   grab_to_decoded_p50/p99_ms grab start to the device's decoded picture
// And where lost moves went: missed_by_capture (moves that stayed alone on the screen for half a
// frame interval or more, yet no grab fell while they were shown), held (grabs not encoded because
// the send queue was full) and queue_drops (frames the send queue dropped); the rest of `lost` are
// moves the screen itself showed for less than that, on its loaded cores.
// The label names the codec chosen and the encoder that ran; the context shows the cores and the
// machine's load average.
#include "app/shell/StreamPreferences.h"
#include "bench/ChildProgram.h"
#include "bench/CoreSplit.h"
#include "bench/DecodingDevice.h"
#include "bench/Measures.h"
#include "bench/MovingDesktop.h"
#include "core/QualityMode.h"
#include "core/QualityRung.h"
#include "core/VideoCodec.h"
#include "media/VideoEncoder.h"

#include <benchmark/benchmark.h>
#include <asio/ip/tcp.hpp>

extern "C" {
#include <libavutil/log.h>
}

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <future>
#include <initializer_list>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using TessaloyCore::VideoCodec;

constexpr int movesPerSecond = 30;
constexpr int warmUpMoves = 60;
constexpr int measuredMoves = 600;
constexpr int ffmpegFrames = 300;
constexpr const char* deviceFlag = "--device";

Bench::CoreSplit cores;

double milliseconds(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

std::string loadAverage() {
    std::string one;
    std::string five;
    std::string fifteen;
    std::ifstream("/proc/loadavg") >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::string thisProgram() {
    std::vector<char> path(4'096);
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
    return length > 0 ? std::string(path.data(), static_cast<std::size_t>(length)) : std::string();
}

// The device: dials the Mac at `port`, decodes every frame until the Mac closes, then prints one
// line per picture: presentation time (µs), arrival and end of decoding (steady clock, ns).
int runDevice(unsigned short port) {
    Bench::DecodingDevice device;
    device.startCounting();
    auto ready = std::make_shared<std::promise<void>>();
    auto closed = std::make_shared<std::promise<void>>();
    const auto channel = TessaloyNet::TlsPacketChannel::connecting(
        asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), port),
        TessaloyNet::LANTransport::pairingClientParameters(Bench::LoopbackChannels::keys(), "Phone"));
    channel->setEvents(device.events(ready, closed));
    channel->start();
    closed->get_future().wait();
    const auto nanoseconds = [](Clock::time_point at) {
        return static_cast<long long>(std::chrono::nanoseconds(at.time_since_epoch()).count());
    };
    for (const auto& picture : device.decoded()) {
        std::printf("%llu %lld %lld\n", static_cast<unsigned long long>(picture.presentationMicroseconds),
                    nanoseconds(picture.arrived), nanoseconds(picture.decoded));
    }
    return device.failures() == 0 ? 0 : 1;
}

std::vector<Bench::DecodingDevice::Decoded> parseDecoded(const std::string& text) {
    std::vector<Bench::DecodingDevice::Decoded> pictures;
    std::istringstream lines(text);
    unsigned long long presentation = 0;
    long long arrived = 0;
    long long decoded = 0;
    while (lines >> presentation >> arrived >> decoded) {
        pictures.push_back({presentation, Clock::time_point(std::chrono::nanoseconds(arrived)),
                            Clock::time_point(std::chrono::nanoseconds(decoded))});
    }
    return pictures;
}

TessaloyMedia::VideoEncoder::Settings rungSettings(VideoCodec codec, const TessaloyCore::QualityRung& rung) {
    TessaloyMedia::VideoEncoder::Settings settings;
    settings.codec = codec;
    settings.width = rung.profile.width;
    settings.height = rung.profile.height;
    settings.framesPerSecond = rung.profile.framesPerSecond;
    settings.bitrate = rung.profile.bitrate;
    settings.keyframeIntervalSeconds = rung.profile.keyframeIntervalSeconds > 0
                                           ? rung.profile.keyframeIntervalSeconds
                                           : TessaloyCore::QualityRung::keyframeIntervalSeconds;
    return settings;
}

// What the capture queue sees of each grab while the picture moves.
struct Grabs {
    std::optional<Clock::time_point> first;
    std::vector<Clock::time_point> times;
    std::vector<double> toPacket;
    std::vector<Clock::time_point> handedOver;
    std::vector<double> conversion;
    std::uint64_t held = 0;
};

// ffmpeg's x11grab -> libx264 at the host's settings on the same moving screen; its CPU seconds
// per frame.
double ffmpegCpuPerFrame(Bench::MovingDesktop& desktop, const TessaloyMedia::VideoEncoder::Settings& settings) {
    const std::string bitrate = std::to_string(settings.bitrate);
    const std::string keyframeInterval =
        std::to_string(static_cast<int>(settings.keyframeIntervalSeconds * settings.framesPerSecond));
    std::vector<std::string> arguments{"ffmpeg", "-nostdin", "-loglevel", "fatal"};
    const auto add = [&](std::initializer_list<std::string> more) { arguments.insert(arguments.end(), more); };
    add({"-f", "x11grab", "-framerate", std::to_string(settings.framesPerSecond), "-video_size",
         std::to_string(desktop.width) + "x" + std::to_string(desktop.height), "-i", desktop.displayName()});
    add({"-frames:v", std::to_string(ffmpegFrames), "-c:v", "libx264", "-preset", "ultrafast", "-tune", "zerolatency"});
    add({"-b:v", bitrate, "-maxrate", bitrate, "-bufsize", std::to_string(settings.bitrate / 2), "-g",
         keyframeInterval});
    add({"-f", "null", "-"});
    Bench::ChildProgram ffmpeg(arguments, cores.host);
    {
        const Bench::ScopedAffinity screen(cores.others);
        while (!ffmpeg.hasEnded()) desktop.play(movesPerSecond / 2, movesPerSecond);
    }
    const auto ending = ffmpeg.finish();
    if (ending.exitStatus != 0) return 0;
    return ending.cpuSeconds / ffmpegFrames;
}

void stream(benchmark::State& state, std::set<VideoCodec> deviceCodecs, std::size_t rungIndex, bool hevcAnyway) {
    const TessaloyCore::QualityRung rung =
        TessaloyCore::QualityRung::ladder(TessaloyCore::QualityMode::balanced).at(rungIndex);
    std::optional<Bench::MovingDesktop> desktop;
    {
        const Bench::ScopedAffinity screen(cores.others);
        desktop.emplace(rung.profile.width, rung.profile.height);
    }
    const bool hevcInHardware = !TessaloyMedia::VideoEncoder::hardwareProblem(VideoCodec::hevc);
    Plovander::StreamPreferences preferences(TessaloyCore::QualityMode::balanced,
                                             [=] { return hevcInHardware || hevcAnyway; });
    preferences.setDeviceCodecs(std::move(deviceCodecs));
    const auto settings = rungSettings(preferences.preferredCodec(), rung);

    asio::ip::tcp::acceptor listener(TessaloyBase::sharedIoContext(),
                                     asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    Bench::ChildProgram device({thisProgram(), deviceFlag, std::to_string(listener.local_endpoint().port())},
                               cores.others);
    const auto macChannel = Bench::LoopbackChannels::acceptMac(listener);

    for (auto _ : state) {
        std::optional<Bench::DesktopEncoding> encoding(std::in_place, *desktop, settings, macChannel);
        state.SetLabel(std::string(TessaloyCore::nameOf(settings.codec)) + " chosen; " +
                       encoding->output->backendDescription());
        Grabs grabs;
        Bench::DesktopEncoding& host = *encoding;
        host.start([&](const TessaloyBase::FrameView& frame) {
            if (!grabs.first) grabs.first = frame.captureTime;
            grabs.times.push_back(frame.captureTime);
            const bool holds = static_cast<double>(host.sendQueue->counters().queuedFrames) >=
                               Plovander::CaptureEncodingOutput::holdFill *
                                   static_cast<double>(host.sendQueue->maximumPendingFrames());
            host.output->take(frame);
            if (holds) {
                ++grabs.held;
                return;
            }
            grabs.handedOver.push_back(Clock::now());
            grabs.toPacket.push_back(milliseconds(grabs.handedOver.back() - frame.captureTime));
            grabs.conversion.push_back(host.output->lastConversionTime().count() * 1e3);
        });

        std::vector<Bench::MovingDesktop::Move> moves;
        {
            const Bench::ScopedAffinity screen(cores.others);
            desktop->play(warmUpMoves, movesPerSecond);
        }
        const std::size_t grabsBefore = host.captureQueue.sync([&] { return grabs.times.size(); });
        const std::uint64_t heldBefore = host.captureQueue.sync([&] { return grabs.held; });
        const std::uint64_t dropsBefore = host.sendQueue->counters().droppedFrames;
        const auto start = Clock::now();
        const double processStart = Bench::cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        const double drawing = [&] {
            const Bench::ScopedAffinity screen(cores.others);
            return desktop->play(measuredMoves, movesPerSecond, &moves);
        }();
        const auto end = Clock::now();
        const double hostCpu = Bench::cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processStart - drawing;
        std::this_thread::sleep_for(300ms);
        const std::uint64_t queueDrops = host.sendQueue->counters().droppedFrames - dropsBefore;
        const Grabs seen = host.captureQueue.sync([&] { return grabs; });
        encoding.reset();
        macChannel->close();
        const auto ending = device.finish();
        const double ffmpegCpu = ffmpegCpuPerFrame(*desktop, settings);

        // The device's pictures of grabs made while the picture moved, in the order shown.
        std::vector<Clock::time_point> decodedAt;
        std::vector<double> grabToDecoded;
        for (const auto& picture : parseDecoded(ending.output)) {
            const Clock::time_point grabbed = *seen.first + std::chrono::microseconds(picture.presentationMicroseconds);
            if (grabbed < start || grabbed > end) continue;
            decodedAt.push_back(picture.decoded);
            grabToDecoded.push_back(milliseconds(picture.decoded - grabbed));
        }
        const auto gapsOf = [](const std::vector<Clock::time_point>& times) {
            std::vector<double> gaps;
            for (std::size_t i = 1; i < times.size(); ++i) gaps.push_back(milliseconds(times[i] - times[i - 1]));
            return gaps;
        };
        const auto gaps = gapsOf(decodedAt);
        // Moves alone on the screen for half a frame interval or more (from drawn to the next one
        // asked) while no grab fell between their asking and the next one's drawing.
        const auto interval =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / movesPerSecond));
        std::uint64_t missed = 0;
        std::size_t grab = grabsBefore;
        for (std::size_t i = 0; i + 1 < moves.size(); ++i) {
            while (grab < seen.times.size() && seen.times[grab] < moves[i].asked) ++grab;
            const bool alone = moves[i + 1].asked - moves[i].drawn >= interval / 2;
            const bool grabbed = grab < seen.times.size() && seen.times[grab] < moves[i + 1].drawn;
            if (alone && !grabbed) ++missed;
        }
        const auto fromIndex = [](const auto& samples, std::size_t first) {
            return std::decay_t<decltype(samples)>(
                samples.begin() + static_cast<std::ptrdiff_t>(std::min(first, samples.size())), samples.end());
        };
        const auto toPacket = fromIndex(seen.toPacket, grabsBefore - heldBefore);
        const auto conversion = fromIndex(seen.conversion, grabsBefore - heldBefore);
        const auto sent = fromIndex(seen.handedOver, grabsBefore - heldBefore);
        const double frames = static_cast<double>(std::max<std::size_t>(decodedAt.size(), 1));
        const double seconds = std::chrono::duration<double>(end - start).count();

        state.SetIterationTime(Bench::percentile(gaps, 0.99) / 1e3);
        state.counters["fps"] = static_cast<double>(decodedAt.size()) / seconds;
        state.counters["gap_p50_ms"] = Bench::percentile(gaps, 0.5);
        state.counters["gap_p99_ms"] = Bench::percentile(gaps, 0.99);
        state.counters["gap_max_ms"] = gaps.empty() ? 0 : *std::max_element(gaps.begin(), gaps.end());
        std::vector<Clock::time_point> drawn;
        for (const auto& one : moves) drawn.push_back(one.drawn);
        state.counters["lost"] = static_cast<double>(moves.size()) - static_cast<double>(decodedAt.size());
        state.counters["screen_gap_p99_ms"] = Bench::percentile(gapsOf(drawn), 0.99);
        state.counters["send_gap_p99_ms"] = Bench::percentile(gapsOf(sent), 0.99);
        state.counters["host_cpu_ms_per_frame"] = hostCpu * 1e3 / frames;
        state.counters["ffmpeg_cpu_ms_per_frame"] = ffmpegCpu * 1e3;
        state.counters["cpu_vs_ffmpeg"] = ffmpegCpu > 0 ? hostCpu / frames / ffmpegCpu : 0;
        state.counters["grab_to_packet_p50_ms"] = Bench::percentile(toPacket, 0.5);
        state.counters["grab_to_packet_p99_ms"] = Bench::percentile(toPacket, 0.99);
        state.counters["convert_p50_ms"] = Bench::percentile(conversion, 0.5);
        state.counters["convert_p99_ms"] = Bench::percentile(conversion, 0.99);
        state.counters["grab_to_decoded_p50_ms"] = Bench::percentile(grabToDecoded, 0.5);
        state.counters["grab_to_decoded_p99_ms"] = Bench::percentile(grabToDecoded, 0.99);
        state.counters["missed_by_capture"] = static_cast<double>(missed);
        state.counters["held"] = static_cast<double>(seen.held - heldBefore);
        state.counters["queue_drops"] = static_cast<double>(queueDrops);
        state.counters["load_1min"] = std::stod(loadAverage());
        if (ending.exitStatus != 0) state.SkipWithError("the device could not decode every frame");
        if (ffmpegCpu <= 0) state.SkipWithError("ffmpeg did not run (is it installed?)");
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == deviceFlag) {
        return runDevice(static_cast<unsigned short>(std::stoi(argv[2])));
    }
    cores = Bench::CoreSplit::ofThisProcess();
    av_log_set_level(AV_LOG_ERROR);
    benchmark::AddCustomContext("host cores", Bench::CoreSplit::describe(cores.host));
    benchmark::AddCustomContext("screen and device cores", Bench::CoreSplit::describe(cores.others));
    benchmark::AddCustomContext("load average at start", loadAverage());
    struct Case {
        const char* name;
        std::set<VideoCodec> deviceCodecs;
        // The balanced mode's rung: 0 for 1080p30, 1 for 720p30.
        std::size_t rung;
        bool hevcAnyway;
    };
    const std::vector<Case> cases = {{"stream/h264_device_1920x1080", {}, 0, false},
                                     {"stream/hevc_device_1920x1080", {VideoCodec::hevc}, 0, false},
                                     {"stream/h264_device_1280x720", {}, 1, false},
                                     {"stream/hevc_device_1280x720", {VideoCodec::hevc}, 1, false},
                                     {"stream/hevc_device_given_hevc_anyway_1920x1080", {VideoCodec::hevc}, 0, true}};
    for (const Case& one : cases) {
        benchmark::RegisterBenchmark(one.name, stream, one.deviceCodecs, one.rung, one.hevcAnyway)
            ->Iterations(1)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
