#include "app/capture/CaptureEncodingOutput.h"

#include "app/trace/TraceLog.h"
#include "core/ByteReader.h"
#include "media/MediaError.h"

#include <algorithm>
#include <utility>
#include <variant>

namespace Plovander {
namespace {

using Clock = std::chrono::steady_clock;
using TessaloyCore::WirePacket;
using TessaloyMedia::VideoEncoder;

// The presentation time of a videoFrame packet, read in place: u32 generation, u8 flags, then u64.
std::uint64_t presentationMicroseconds(const WirePacket& packet) {
    TessaloyCore::ByteReader reader(packet.payload());
    reader.u32();
    reader.u8();
    return reader.u64();
}

} // namespace

CaptureEncodingOutput::CaptureEncodingOutput(TessaloyBase::SerialQueue& captureQueue, TessaloyBase::MainActor& actor,
                                             VideoEncoder::Settings settings,
                                             std::shared_ptr<TessaloyNet::VideoSender> sender,
                                             std::optional<Adaptation> adaptation,
                                             std::weak_ptr<Platform::ScreenCapture> stream,
                                             std::uint64_t captureGeneration, Events events,
                                             TessaloyBase::QueueClock& clock)
    : queue_(captureQueue),
      actor_(actor),
      clock_(clock),
      framesPerSecond_(settings.framesPerSecond),
      sender_(std::move(sender)),
      sendQueue_(sender_ ? sender_->queue() : nullptr),
      stream_(std::move(stream)),
      captureGeneration_(captureGeneration),
      events_(std::move(events)) {
    if (sender_ && adaptation) {
        bitrate_.emplace(adaptation->limits);
        ladder_ = adaptation->ladder;
        settings.bitrate = bitrate_->bitrate();
    }
    targetBitrate_ = settings.bitrate;
    encoder_ = std::make_unique<VideoEncoder>(settings);
    flushesAfterRefinement_ = encoder_->encoderName() != "libx264";
    if (sendQueue_) baselineQueueDrops_ = sendQueue_->counters().droppedFrames;
    intervalStart_ = clock_.now();
}

CaptureEncodingOutput::~CaptureEncodingOutput() = default;

template <typename Work>
TessaloyBase::ScheduledCall CaptureEncodingOutput::afterOnQueue(Seconds delay, Work work) {
    // Fires on the capture queue itself: a busy main actor never delays a frame.
    return clock_.after(queue_, delay, [weak = weak_from_this(), work = std::move(work)] {
        if (const auto self = weak.lock(); self && !self->finished_) work(*self);
    });
}

void CaptureEncodingOutput::begin() {
    queue_.async([weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self || self->begun_ || self->finished_) return;
        self->begun_ = true;
        self->intervalStart_ = self->clock_.now();
        self->reportTimer_ = self->afterOnQueue(reportInterval, [](CaptureEncodingOutput& output) { output.report(); });
    });
}

void CaptureEncodingOutput::take(const TessaloyBase::FrameView& frame) {
    queue_.assertCurrent();
    if (finished_ || failed_) return;
    ++captured_;
    ++intervalCaptured_;
    if (sendQueue_ && backlogIsHigh()) return hold();
    if (held_) {
        held_ = false;
        pollTimer_.cancel();
        const auto counters = sendQueue_->counters();
        if (counters.droppedFrames > droppedAtHoldStart_ || counters.waitsForKeyframe) keyframeRequested_ = true;
    }
    try {
        encode(frame);
    } catch (const TessaloyMedia::MediaError& error) {
        fail(error.text());
    } catch (const std::exception& error) {
        fail(error.what());
    }
}

void CaptureEncodingOutput::requestKeyframe() {
    queue_.assertCurrent();
    if (finished_ || failed_) return;
    keyframeRequested_ = true;
    if (!held_) askForPicture();
}

void CaptureEncodingOutput::finish() {
    queue_.assertCurrent();
    finished_ = true;
    refinementTimer_.cancel();
    pollTimer_.cancel();
    reportTimer_.cancel();
}

void CaptureEncodingOutput::askForPicture() {
    if (const auto stream = stream_.lock()) stream->requestFrame();
}

bool CaptureEncodingOutput::backlogIsHigh() const {
    const TessaloyNet::VideoSendQueue& queue = *sendQueue_;
    const auto counters = queue.counters();
    return static_cast<double>(counters.queuedFrames) >= holdFill * static_cast<double>(queue.maximumPendingFrames()) ||
           static_cast<double>(counters.queuedBytes) >= holdFill * static_cast<double>(queue.maximumPendingBytes());
}

void CaptureEncodingOutput::hold() {
    ++heldFrames_;
    if (held_) return;
    held_ = true;
    droppedAtHoldStart_ = sendQueue_->counters().droppedFrames;
    pollTimer_ = afterOnQueue(std::max(minimumPollInterval, Seconds(1.0 / std::max(1, framesPerSecond_))),
                              [](CaptureEncodingOutput& output) { output.pollBacklog(); });
}

void CaptureEncodingOutput::pollBacklog() {
    if (!held_ || failed_) return;
    if (backlogIsHigh()) {
        pollTimer_ = afterOnQueue(std::max(minimumPollInterval, Seconds(1.0 / std::max(1, framesPerSecond_))),
                                  [](CaptureEncodingOutput& output) { output.pollBacklog(); });
        return;
    }
    // The latest picture may have been held: ask for it. take() ends the hold.
    askForPicture();
}

void CaptureEncodingOutput::armRefinement() {
    refinementDueAt_ =
        clock_.now() + std::chrono::duration_cast<TessaloyBase::QueueClock::Instant::duration>(refinementDelay);
    // A timer already running looks at the new due time when it fires: re-arming for every picture
    // would cost a timer per frame.
    if (refinementArmed_) return;
    armRefinementTimer(refinementDelay);
}

void CaptureEncodingOutput::armRefinementTimer(Seconds delay) {
    refinementArmed_ = true;
    refinementTimer_ = afterOnQueue(delay, [](CaptureEncodingOutput& output) { output.refinementTimerFired(); });
}

void CaptureEncodingOutput::cancelRefinement() {
    refinementTimer_.cancel();
    refinementArmed_ = false;
}

void CaptureEncodingOutput::refinementTimerFired() {
    refinementArmed_ = false;
    const Seconds left = refinementDueAt_ - clock_.now();
    if (left > Seconds::zero()) return armRefinementTimer(left);
    refinementDue();
}

void CaptureEncodingOutput::refinementDue() {
    // A held picture is asked for when the hold ends, and a refinement follows that one.
    if (held_ || failed_) return;
    refinementPending_ = true;
    askForPicture();
}

void CaptureEncodingOutput::encode(const TessaloyBase::FrameView& frame) {
    const bool refinement = std::exchange(refinementPending_, false);
    bool keyframe = std::exchange(keyframeRequested_, false);
    if (sendQueue_ && sendQueue_->counters().waitsForKeyframe) keyframe = true;
    if (!firstCaptureTime_) firstCaptureTime_ = frame.captureTime;
    const auto sinceFirst =
        std::chrono::duration_cast<std::chrono::microseconds>(frame.captureTime - *firstCaptureTime_);
    const auto presentation = static_cast<std::uint64_t>(std::max<std::int64_t>(0, sinceFirst.count()));

    encoder_->setRefinement(refinement);
    const auto start = Clock::now();
    std::vector<VideoEncoder::Output> outputs = encoder_->encode(frame, presentation, keyframe);
    if (refinement && flushesAfterRefinement_) {
        std::vector<VideoEncoder::Output> held = encoder_->flush();
        std::move(held.begin(), held.end(), std::back_inserter(outputs));
    }
    const Seconds spent = Clock::now() - start;
    ++intervalEncodeCalls_;
    intervalEncodeTime_ += spent;
    intervalMaximumEncodeTime_ = std::max(intervalMaximumEncodeTime_, spent);

    deliver(outputs);
    if (refinement) {
        cancelRefinement();
    } else {
        armRefinement();
    }
}

void CaptureEncodingOutput::deliver(std::vector<VideoEncoder::Output>& outputs) {
    for (VideoEncoder::Output& output : outputs) {
        if (auto* configuration = std::get_if<TessaloyCore::VideoConfiguration>(&output)) {
            if (sender_) sender_->send(configuration->packet());
            continue;
        }
        auto& frame = std::get<VideoEncoder::EncodedFrame>(output);
        const std::size_t size = frame.packet.payload().size();
        const auto captured = *firstCaptureTime_ + std::chrono::microseconds(presentationMicroseconds(frame.packet));
        if (sender_) sender_->send(std::move(frame.packet));
        ++encoded_;
        ++intervalEncoded_;
        bytes_ += size;
        intervalBytes_ += size;
        ++intervalLatencySamples_;
        intervalLatency_ += Clock::now() - captured;
    }
}

void CaptureEncodingOutput::report() {
    if (failed_) return;
    const TessaloyBase::QueueClock::Instant instant = clock_.now();
    Statistics statistics = counted(instant);
    std::optional<Seconds> roundTrip;
    if (sender_) roundTrip = addSenderFigures(statistics);
    std::optional<TessaloyCore::QualityLadder::Decision> step;
    if (bitrate_) step = adapt(roundTrip);
    if (failed_) return;
    statistics.bitrate = targetBitrate_;
    startInterval(instant);
    publish(statistics, step);
    reportTimer_ = afterOnQueue(reportInterval, [](CaptureEncodingOutput& output) { output.report(); });
}

CaptureEncodingOutput::Statistics CaptureEncodingOutput::counted(TessaloyBase::QueueClock::Instant instant) const {
    Statistics statistics;
    statistics.captureGeneration = captureGeneration_;
    statistics.capturedFrames = captured_;
    statistics.encodedFrames = encoded_;
    statistics.encodedBytes = bytes_;
    statistics.droppedFrames = heldFrames_;
    statistics.interval = instant - intervalStart_;
    statistics.intervalCapturedFrames = intervalCaptured_;
    statistics.intervalEncodedFrames = intervalEncoded_;
    statistics.intervalEncodedBytes = intervalBytes_;
    if (intervalEncodeCalls_ > 0) {
        statistics.meanEncodeTime = intervalEncodeTime_ / static_cast<double>(intervalEncodeCalls_);
        statistics.maximumEncodeTime = intervalMaximumEncodeTime_;
    }
    if (intervalLatencySamples_ > 0) {
        statistics.meanGrabToPacket = intervalLatency_ / static_cast<double>(intervalLatencySamples_);
    }
    statistics.encoderName = encoder_->encoderName();
    statistics.width = encoder_->width();
    statistics.height = encoder_->height();
    statistics.framesPerSecond = framesPerSecond_;
    return statistics;
}

std::optional<CaptureEncodingOutput::Seconds> CaptureEncodingOutput::addSenderFigures(Statistics& statistics) const {
    const auto counters = sendQueue_->counters();
    statistics.queue = counters;
    statistics.droppedFrames += counters.droppedFrames - baselineQueueDrops_;
    statistics.maximumQueuedFrames = sendQueue_->maximumPendingFrames();
    const auto channel = sender_->channel().lock();
    if (!channel) return std::nullopt;
    const TessaloyNet::LatencySamples samples = channel->latency();
    const auto median = samples.median();
    if (!median) return std::nullopt;
    statistics.roundTrip = RoundTrip{Seconds(*median), Seconds(samples.percentile95().value_or(*median)),
                                     Seconds(samples.maximum().value_or(*median))};
    return Seconds(*median);
}

std::optional<TessaloyCore::QualityLadder::Decision> CaptureEncodingOutput::adapt(std::optional<Seconds> roundTrip) {
    const auto now = actor_.now();
    const auto decision = bitrate_->observe(sendQueue_->observation(now, roundTrip));
    if (decision.changed) {
        try {
            encoder_->setBitrate(decision.bitrate);
            targetBitrate_ = decision.bitrate;
        } catch (const TessaloyMedia::MediaError& error) {
            fail(error.text());
            return std::nullopt;
        }
    }
    if (!ladder_) return std::nullopt;
    return ladder_->observe(now, decision);
}

void CaptureEncodingOutput::startInterval(TessaloyBase::QueueClock::Instant instant) {
    intervalStart_ = instant;
    intervalCaptured_ = intervalEncoded_ = intervalBytes_ = intervalEncodeCalls_ = intervalLatencySamples_ = 0;
    intervalEncodeTime_ = intervalMaximumEncodeTime_ = intervalLatency_ = Seconds{};
}

void CaptureEncodingOutput::publish(const Statistics& statistics,
                                    const std::optional<TessaloyCore::QualityLadder::Decision>& step) {
    actor_.post([events = events_, statistics] {
        if (events.onStatistics) events.onStatistics(statistics);
    });
    if (!step || !std::holds_alternative<TessaloyCore::QualityLadder::StepTo>(*step)) return;
    actor_.post([events = events_, generation = captureGeneration_, ladder = *ladder_] {
        if (events.onQualityStep) events.onQualityStep(generation, ladder);
    });
    // The probe restarts capture at the new rung with a fresh output and controller.
    ladder_.reset();
}

void CaptureEncodingOutput::fail(const std::string& text) {
    if (failed_) return;
    failed_ = true;
    refinementTimer_.cancel();
    pollTimer_.cancel();
    reportTimer_.cancel();
    TraceLog::message([&] { return "Encoder failed: " + text; });
    actor_.post([events = events_, generation = captureGeneration_, text] {
        if (events.onFailure) events.onFailure(generation, "Encoder failed: " + text);
    });
}

} // namespace Plovander
