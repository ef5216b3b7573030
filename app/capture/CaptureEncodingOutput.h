#pragma once

#include "base/FrameView.h"
#include "base/MainActor.h"
#include "base/QueueClock.h"
#include "base/SerialQueue.h"
#include "core/BitrateController.h"
#include "core/QualityLadder.h"
#include "media/VideoEncoder.h"
#include "net/send/VideoSendQueue.h"
#include "net/send/VideoSender.h"
#include "platform/ScreenCapture.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Plovander {

// The encoding end of one capture: takes each picture the screen capture hands over and turns it
// into packets for the session's video sender.
//
//   X11 tick ──FrameView──> take() ──VideoEncoder──> VideoSender ──> VideoSendQueue ──> channel queue
//   └──────────── capture queue "dev.tessaloy.capture" ────────────┘                     (pulls)
//   timers (refinement, backlog poll, report) fire on the capture queue, on a monotonic QueueClock;
//   main actor: statistics, failures and ladder steps hop there in `Events`.
//
// Everything but construction runs on the capture queue. Owned (shared) by the capture probe while
// capture runs; keyframe requests hold it weakly. The screen capture is held weakly too: it only
// asks it for frames.
//
// Pacing:
//  - Hold: while the send queue is at least `holdFill` full (frames against its frame cap, or bytes
//    against its byte cap; with 16 frames that is 8 queued frames), pictures are not encoded but
//    counted as dropped. This is the fill the bitrate controller counts as pressure, so holding
//    also lowers the bitrate. The backlog is looked at again every frame interval; when it has
//    fallen the current picture is asked for, as a keyframe when the queue dropped deltas meanwhile
//    (or waits for a keyframe).
//  - Refinement: `refinementDelay` after the last picture that changed, the current picture is
//    asked for once more and encoded marked as a refinement. Nothing follows until the picture
//    changes again, so a static desktop sends no frames after its refinement frame. Encoders that
//    keep frames back (every one but libx264, which runs with zero latency) are flushed right after
//    it so it leaves at once; the next picture then starts a new stream generation with a keyframe.
//  - Keyframes on request: `requestKeyframe` asks the capture for a picture and encodes it as a
//    keyframe, so one goes out even on a static screen; a refinement follows it as after a change.
//  - Adaptive bitrate (with a sender and `Adaptation`): every `reportInterval` the sender's queue is
//    observed, the BitrateController's rate is applied to the encoder, and its decisions are fed to
//    the QualityLadder; a step is reported once (`onQualityStep`) and the output then stops
//    stepping: the probe restarts capture at the new rung with a new output.
class CaptureEncodingOutput : public std::enable_shared_from_this<CaptureEncodingOutput> {
public:
    using Seconds = std::chrono::duration<double>;

    static constexpr Seconds refinementDelay{0.5};
    static constexpr Seconds reportInterval{1.0};
    static constexpr double holdFill = TessaloyCore::BitrateController::pressureFill;
    // The backlog poll while holding runs at the frame rate, but never faster than this.
    static constexpr Seconds minimumPollInterval{0.01};

    struct Adaptation {
        TessaloyCore::BitrateController::Limits limits;
        TessaloyCore::QualityLadder ladder;
    };

    struct RoundTrip {
        Seconds median{};
        Seconds percentile95{};
        Seconds maximum{};
    };

    // One report. Totals count from the start of this output; "interval" figures cover the time
    // since the previous report.
    struct Statistics {
        std::uint64_t captureGeneration = 0;
        std::uint64_t capturedFrames = 0;
        std::uint64_t encodedFrames = 0;
        std::uint64_t encodedBytes = 0;
        // Pictures held back by the backlog plus frames the send queue dropped.
        std::uint64_t droppedFrames = 0;

        Seconds interval{};
        std::uint64_t intervalCapturedFrames = 0;
        std::uint64_t intervalEncodedFrames = 0;
        std::uint64_t intervalEncodedBytes = 0;
        // Time inside VideoEncoder (conversion and encoding), per encoded picture.
        std::optional<Seconds> meanEncodeTime;
        std::optional<Seconds> maximumEncodeTime;
        // From the start of a grab to its packet reaching the sender (or being dropped locally).
        std::optional<Seconds> meanGrabToPacket;

        std::string encoderName;
        int width = 0;
        int height = 0;
        int framesPerSecond = 0;
        std::int64_t bitrate = 0;

        // With a sender only.
        std::optional<TessaloyNet::VideoSendQueue::Counters> queue;
        std::size_t maximumQueuedFrames = 0;
        std::optional<RoundTrip> roundTrip;
    };

    // Each runs on the main actor.
    struct Events {
        std::function<void(const Statistics&)> onStatistics;
        // "Encoder failed: " followed by the encoder's text. Nothing is encoded after it.
        std::function<void(std::uint64_t captureGeneration, const std::string& text)> onFailure;
        // The ladder after its step; its rung() is the rung to capture at.
        std::function<void(std::uint64_t captureGeneration, const TessaloyCore::QualityLadder& ladder)> onQualityStep;
    };

    // Opens the encoder (any thread; throws MediaError). Without a sender the packets are counted
    // and dropped (the encoder test). The sender's queue is read for the backlog and the bitrate,
    // its channel for round trips. The timers run on `clock`, which must outlive the output.
    CaptureEncodingOutput(TessaloyBase::SerialQueue& captureQueue, TessaloyBase::MainActor& actor,
                          TessaloyMedia::VideoEncoder::Settings settings,
                          std::shared_ptr<TessaloyNet::VideoSender> sender, std::optional<Adaptation> adaptation,
                          std::weak_ptr<Platform::ScreenCapture> stream, std::uint64_t captureGeneration, Events events,
                          TessaloyBase::QueueClock& clock = TessaloyBase::steadyQueueClock());
    ~CaptureEncodingOutput();
    CaptureEncodingOutput(const CaptureEncodingOutput&) = delete;
    CaptureEncodingOutput& operator=(const CaptureEncodingOutput&) = delete;

    TessaloyBase::SerialQueue& captureQueue() const { return queue_; }
    std::uint64_t captureGeneration() const { return captureGeneration_; }
    // Which encoder runs and at what size; fixed for the output's life, so any thread.
    const std::string& backendDescription() const { return encoder_->backendDescription(); }
    const std::string& encoderName() const { return encoder_->encoderName(); }
    int width() const { return encoder_->width(); }
    int height() const { return encoder_->height(); }
    // Capture queue: how long the last picture's colour conversion took.
    Seconds lastConversionTime() const { return encoder_->lastConversionTime(); }
    // The generation of the frames encoded now; any thread.
    std::uint32_t streamGeneration() const { return encoder_->streamGeneration(); }

    // Starts the report timer. Call once, after construction.
    void begin();
    // The screen capture's onFrame: capture queue.
    void take(const TessaloyBase::FrameView& frame);
    // Capture queue: a following picture becomes a keyframe.
    void requestKeyframe();
    // Capture queue: nothing is encoded or reported after it.
    void finish();

private:
    template <typename Work>
    TessaloyBase::ScheduledCall afterOnQueue(Seconds delay, Work work);

    bool backlogIsHigh() const;
    void hold();
    void pollBacklog();
    void armRefinement();
    void armRefinementTimer(Seconds delay);
    void cancelRefinement();
    void refinementTimerFired();
    void refinementDue();
    void encode(const TessaloyBase::FrameView& frame);
    void deliver(std::vector<TessaloyMedia::VideoEncoder::Output>& outputs);
    void report();
    Statistics counted(TessaloyBase::QueueClock::Instant instant) const;
    // Returns the median round trip, when the channel has one.
    std::optional<Seconds> addSenderFigures(Statistics& statistics) const;
    // Fails the output when the encoder refuses the new bitrate; returns the ladder's decision.
    std::optional<TessaloyCore::QualityLadder::Decision> adapt(std::optional<Seconds> roundTrip);
    void startInterval(TessaloyBase::QueueClock::Instant instant);
    void publish(const Statistics& statistics, const std::optional<TessaloyCore::QualityLadder::Decision>& step);
    void fail(const std::string& text);
    void askForPicture();

    TessaloyBase::SerialQueue& queue_;
    TessaloyBase::MainActor& actor_;
    TessaloyBase::QueueClock& clock_;
    const int framesPerSecond_;
    const std::shared_ptr<TessaloyNet::VideoSender> sender_;
    // The sender's own queue, fixed for its life; null without a sender.
    const std::shared_ptr<TessaloyNet::VideoSendQueue> sendQueue_;
    const std::weak_ptr<Platform::ScreenCapture> stream_;
    const std::uint64_t captureGeneration_;
    const Events events_;
    std::unique_ptr<TessaloyMedia::VideoEncoder> encoder_;
    bool flushesAfterRefinement_ = false;

    // Capture queue only.
    std::optional<TessaloyCore::BitrateController> bitrate_;
    std::optional<TessaloyCore::QualityLadder> ladder_;
    std::int64_t targetBitrate_ = 0;
    bool begun_ = false;
    bool finished_ = false;
    bool failed_ = false;
    bool keyframeRequested_ = false;
    bool refinementPending_ = false;
    bool held_ = false;
    std::uint64_t droppedAtHoldStart_ = 0;
    std::optional<std::chrono::steady_clock::time_point> firstCaptureTime_;
    // The last changed picture's time plus refinementDelay; one timer runs towards it at a time.
    TessaloyBase::QueueClock::Instant refinementDueAt_;
    bool refinementArmed_ = false;
    TessaloyBase::ScheduledCall refinementTimer_;
    TessaloyBase::ScheduledCall pollTimer_;
    TessaloyBase::ScheduledCall reportTimer_;

    std::uint64_t baselineQueueDrops_ = 0;
    std::uint64_t captured_ = 0;
    std::uint64_t encoded_ = 0;
    std::uint64_t bytes_ = 0;
    std::uint64_t heldFrames_ = 0;
    TessaloyBase::QueueClock::Instant intervalStart_;
    std::uint64_t intervalCaptured_ = 0;
    std::uint64_t intervalEncoded_ = 0;
    std::uint64_t intervalBytes_ = 0;
    std::uint64_t intervalEncodeCalls_ = 0;
    Seconds intervalEncodeTime_{};
    Seconds intervalMaximumEncodeTime_{};
    std::uint64_t intervalLatencySamples_ = 0;
    Seconds intervalLatency_{};
};

} // namespace Plovander
