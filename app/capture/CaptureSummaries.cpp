#include "app/capture/CaptureSummaries.h"

#include <charconv>

namespace Plovander {
namespace {

std::string decimal(double value, int precision) {
    char buffer[48];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
    return std::string(buffer, result.ptr);
}

std::string milliseconds(std::chrono::duration<double> value, int precision) {
    return decimal(value.count() * 1e3, precision);
}

} // namespace

std::string CaptureSummaries::size(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

CaptureSummaries CaptureSummaries::of(const CaptureEncodingOutput::Statistics& statistics, int displayWidth,
                                      int displayHeight) {
    const double seconds = statistics.interval.count();
    const auto perSecond = [&](std::uint64_t count) {
        return seconds > 0 ? static_cast<double>(count) / seconds : 0.0;
    };
    CaptureSummaries summaries;
    summaries.capture = "Capture: " + decimal(perSecond(statistics.intervalCapturedFrames), 1) + " of " +
                        std::to_string(statistics.framesPerSecond) + " fps from " + size(displayWidth, displayHeight);

    std::string& encode = summaries.encode;
    encode = "Encode: " + statistics.encoderName + " " + size(statistics.width, statistics.height) + ", ";
    if (statistics.meanEncodeTime && statistics.maximumEncodeTime) {
        encode += milliseconds(*statistics.meanEncodeTime, 1) + " ms per frame (max " +
                  milliseconds(*statistics.maximumEncodeTime, 1) + " ms)";
    } else {
        encode += "no frames";
    }
    if (statistics.meanGrabToPacket)
        encode += ", grab to packet " + milliseconds(*statistics.meanGrabToPacket, 1) + " ms";
    encode += ", " + decimal(perSecond(statistics.intervalEncodedBytes) * 8 / 1e3, 0) + " of " +
              std::to_string(statistics.bitrate / 1'000) + " kbit/s";

    if (statistics.queue) {
        const auto& counters = *statistics.queue;
        summaries.queue = "Send queue: " + std::to_string(counters.queuedFrames) + " of " +
                          std::to_string(statistics.maximumQueuedFrames) + " frames, " +
                          std::to_string(counters.queuedBytes / 1024) + " KiB, " +
                          std::to_string(counters.droppedFrames) + " dropped" +
                          (counters.waitsForKeyframe ? ", waiting for a keyframe" : "");
    }
    if (statistics.roundTrip) {
        summaries.roundTrip = "Round trip: median " + milliseconds(statistics.roundTrip->median, 0) + " ms, p95 " +
                              milliseconds(statistics.roundTrip->percentile95, 0) + " ms, max " +
                              milliseconds(statistics.roundTrip->maximum, 0) + " ms";
    }
    return summaries;
}

} // namespace Plovander
