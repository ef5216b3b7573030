#include "app/capture/CaptureSummaries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Plovander::CaptureEncodingOutput;
using Plovander::CaptureSummaries;

CaptureEncodingOutput::Statistics encoderTest() {
    CaptureEncodingOutput::Statistics statistics;
    statistics.interval = 2s;
    statistics.intervalCapturedFrames = 59;
    statistics.intervalEncodedBytes = 1'050'000;
    statistics.meanEncodeTime = 4.21e-3s;
    statistics.maximumEncodeTime = 9.78e-3s;
    statistics.meanGrabToPacket = 5.06e-3s;
    statistics.encoderName = "libx264";
    statistics.width = 1280;
    statistics.height = 720;
    statistics.framesPerSecond = 30;
    statistics.bitrate = 3'000'000;
    return statistics;
}

CaptureEncodingOutput::Statistics sending() {
    CaptureEncodingOutput::Statistics statistics = encoderTest();
    statistics.queue = TessaloyNet::VideoSendQueue::Counters{2, 49'500, 3, false};
    statistics.maximumQueuedFrames = 16;
    statistics.roundTrip = CaptureEncodingOutput::RoundTrip{12.4e-3s, 29.6e-3s, 41e-3s};
    return statistics;
}

TEST(CaptureSummaries, EachReportGivesTheDocumentedLines) {
    struct Case {
        const char* name;
        CaptureEncodingOutput::Statistics statistics;
        CaptureSummaries expected;
    };
    CaptureEncodingOutput::Statistics idle = encoderTest();
    idle.interval = 0s;
    idle.meanEncodeTime.reset();
    idle.maximumEncodeTime.reset();
    idle.meanGrabToPacket.reset();
    CaptureEncodingOutput::Statistics stalled = sending();
    stalled.queue->waitsForKeyframe = true;
    stalled.roundTrip.reset();

    const std::string encode =
        "Encode: libx264 1280x720, 4.2 ms per frame (max 9.8 ms), grab to packet 5.1 ms, 4200 of 3000 kbit/s";
    const std::vector<Case> cases = {
        {"encoder test", encoderTest(), {"Capture: 29.5 of 30 fps from 1920x1080", encode, std::nullopt, std::nullopt}},
        {"sending",
         sending(),
         {"Capture: 29.5 of 30 fps from 1920x1080", encode, "Send queue: 2 of 16 frames, 48 KiB, 3 dropped",
          "Round trip: median 12 ms, p95 30 ms, max 41 ms"}},
        {"waiting for a keyframe, no round trip yet",
         stalled,
         {"Capture: 29.5 of 30 fps from 1920x1080", encode,
          "Send queue: 2 of 16 frames, 48 KiB, 3 dropped, waiting for a keyframe", std::nullopt}},
        {"an empty interval",
         idle,
         {"Capture: 0.0 of 30 fps from 1920x1080", "Encode: libx264 1280x720, no frames, 0 of 3000 kbit/s",
          std::nullopt, std::nullopt}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const CaptureSummaries summaries = CaptureSummaries::of(test.statistics, 1920, 1080);
        EXPECT_EQ(summaries.capture, test.expected.capture);
        EXPECT_EQ(summaries.encode, test.expected.encode);
        EXPECT_EQ(summaries.queue, test.expected.queue);
        EXPECT_EQ(summaries.roundTrip, test.expected.roundTrip);
    }
}

} // namespace
