#include "app/capture/CaptureProbe.h"

#include "app/runtime/Awaiters.h"
#include "app/runtime/BlockingCall.h"
#include "app/trace/TraceLog.h"
#include "core/CaptureQuality.h"
#include "core/QualityMode.h"
#include "media/VideoEncoder.h"

#include <QPointer>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <utility>

namespace Plovander {
namespace {

using Platform::ShareableDisplay;
using TessaloyCore::QualityLadder;
using TessaloyCore::QualityRung;
using TessaloyCore::VideoCodec;
using TessaloyMedia::VideoEncoder;

const char* codecLabel(VideoCodec codec) { return codec == VideoCodec::hevc ? "HEVC" : "H.264"; }

std::string displayLabel(const ShareableDisplay& display) {
    return display.name.empty() ? "display " + std::to_string(display.displayID) : display.name;
}

// The largest even size within the rung's picture that keeps the display's shape; never larger
// than the display itself.
std::pair<int, int> fittedSize(const ShareableDisplay& display, const QualityRung& rung) {
    const int boxWidth = rung.profile.width;
    const int boxHeight = rung.profile.height;
    if (display.width <= 0 || display.height <= 0) return {boxWidth, boxHeight};
    const double scale =
        std::min({1.0, static_cast<double>(boxWidth) / display.width, static_cast<double>(boxHeight) / display.height});
    const auto side = [&](int length) {
        return std::max(VideoEncoder::minimumSide, static_cast<int>(length * scale)) & ~1;
    };
    return {side(display.width), side(display.height)};
}

ShareableDisplay chooseDisplay(const std::vector<ShareableDisplay>& displays, std::uint32_t displayID) {
    if (displays.empty()) throw std::runtime_error("there is no display to capture");
    if (displayID == 0) return displays.front();
    const auto found = std::find_if(displays.begin(), displays.end(),
                                    [&](const ShareableDisplay& display) { return display.displayID == displayID; });
    if (found == displays.end()) {
        throw std::runtime_error("display " + std::to_string(displayID) + " is not available");
    }
    return *found;
}

std::shared_ptr<Platform::Displays> makeDisplays(Platform::Environment& environment) {
    std::string whyNot;
    std::shared_ptr<Platform::Displays> displays = environment.displays(&whyNot);
    if (!displays) throw std::runtime_error(whyNot.empty() ? "no display server answers" : whyNot);
    return displays;
}

VideoEncoder::Settings encoderSettings(const ShareableDisplay& display, const QualityRung& rung, VideoCodec codec,
                                       std::uint32_t streamGeneration) {
    VideoEncoder::Settings settings;
    settings.codec = codec;
    std::tie(settings.width, settings.height) = fittedSize(display, rung);
    settings.framesPerSecond = rung.profile.framesPerSecond;
    settings.bitrate = rung.profile.bitrate;
    settings.keyframeIntervalSeconds = rung.profile.keyframeIntervalSeconds > 0 ? rung.profile.keyframeIntervalSeconds
                                                                                : QualityRung::keyframeIntervalSeconds;
    settings.streamGeneration = streamGeneration;
    return settings;
}

// Runs `work` on the capture queue, which owns the stream and the encoding output, and continues on
// the main actor with what went wrong, if anything. `work` must not touch the probe: it may be gone.
QCoro::Task<std::optional<std::string>> onCaptureQueue(TessaloyBase::SerialQueue& queue, TessaloyBase::MainActor& actor,
                                                       std::function<void()> work) {
    std::optional<std::string> failure;
    co_await resumeOn(queue);
    try {
        work();
    } catch (const std::exception& error) {
        failure = error.what();
    }
    // What the work holds goes on the queue.
    work = nullptr;
    co_await resumeOn(actor);
    co_return failure;
}

QCoro::Task<std::optional<std::string>> stopSound(TessaloyBase::MainActor& actor,
                                                  std::shared_ptr<AudioStreamer> audio) {
    try {
        BlockingCall<bool> silencing(actor, [audio] {
            audio->stop();
            return true;
        });
        co_await silencing;
    } catch (const std::exception& error) {
        co_return std::string(error.what());
    }
    co_return std::nullopt;
}

void startOrStopSound(AudioStreamer& audio, bool sending) {
    if (!sending) return audio.stop();
    try {
        audio.start(
            [](const std::string& reason) { TraceLog::message([&] { return "sound capture stopped: " + reason; }); });
    } catch (const std::exception& error) {
        // The picture goes on without sound.
        TraceLog::message([&] { return std::string("no sound: ") + error.what(); });
    }
}

} // namespace

struct CaptureProbe::Running {
    std::uint64_t generation = 0;
    std::shared_ptr<Platform::ScreenCapture> stream;
    std::shared_ptr<CaptureEncodingOutput> output;
    Request request;
    ShareableDisplay display;

    // Capture queue: the stream first, so a refusal leaves everything running.
    void stop() const {
        stream->stop();
        output->finish();
    }
};

// One start as it goes off the main actor: what it needs, nothing of the probe, and in `made` the
// capture it makes (generation and request set on the main actor).
struct CaptureProbe::Launch {
    Platform::Environment* environment;
    TessaloyBase::SerialQueue* queue;
    TessaloyBase::MainActor* actor;
    TessaloyBase::QueueClock* clock;
    std::shared_ptr<AudioStreamer> audio;
    std::optional<CaptureEncodingOutput::Adaptation> adaptation;
    QualityRung rung;
    std::uint32_t displayID;
    bool showsCursor;
    std::uint32_t streamGeneration;
    CaptureEncodingOutput::Events events;
    std::function<void(const std::string& reason)> onStreamStopped;
    Running made;
};

// Counts the probe busy for as long as it lives; the probe may go first.
class CaptureProbe::BusyScope {
public:
    explicit BusyScope(CaptureProbe& probe) : probe_(&probe) {
        if (probe.busyOperations_++ == 0) Q_EMIT probe.isBusyChanged();
    }
    ~BusyScope() {
        if (probe_ && --probe_->busyOperations_ == 0) Q_EMIT probe_->isBusyChanged();
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    QPointer<CaptureProbe> probe_;
};

QualityRung CaptureProbe::encoderTestRung() { return QualityRung::ladder(TessaloyCore::QualityMode::balanced).front(); }

CaptureProbe::HevcHardware CaptureProbe::checkedInBackground() {
    // Written once on the worker pool, read on the main actor.
    auto opens = std::make_shared<std::atomic<bool>>(false);
    TessaloyBase::runBlocking([opens] { opens->store(!VideoEncoder::hardwareProblem(VideoCodec::hevc)); });
    return [opens] { return opens->load(); };
}

CaptureProbe::CaptureProbe(Platform::Environment& environment, TessaloyBase::SerialQueue& captureQueue,
                           TessaloyBase::SerialQueue& audioQueue, TessaloyBase::QueueClock& clock,
                           HevcHardware hevcHardware, QObject* parent)
    : QObject(parent),
      environment_(environment),
      actor_(environment.mainActor()),
      captureQueue_(captureQueue),
      clock_(clock),
      hevcHardware_(std::move(hevcHardware)),
      audio_(std::make_shared<AudioStreamer>(
          audioQueue, [&environment](TessaloyBase::SerialQueue& queue) { return environment.audioCapture(queue); })),
      turns_(actor_) {}

CaptureProbe::~CaptureProbe() {
    if (running_) {
        // The one wait on the capture queue: the queue may go right after the probe.
        try {
            captureQueue_.sync([running = running_] { running->stop(); });
        } catch (const std::exception& error) {
            TraceLog::message([&] { return std::string("capture did not stop: ") + error.what(); });
        }
    }
    audio_->stop();
}

std::shared_ptr<CaptureEncodingOutput> CaptureProbe::encodingOutput() const {
    return running_ ? running_->output : nullptr;
}

void CaptureProbe::setSelectedDisplayID(std::uint32_t displayID) {
    actor_.assertCurrent();
    selectedDisplayID_.set(displayID);
}

QCoro::Task<> CaptureProbe::refreshDisplays() {
    actor_.assertCurrent();
    if (isBusy() || isRunning_) co_return;
    const QPointer<CaptureProbe> self(this);
    const BusyScope busy(*this);
    TurnQueue::Awaiter myTurn = turns_.next();
    const TurnQueue::Turn turn = co_await myTurn;
    if (!self) co_return;

    std::vector<ShareableDisplay> listed;
    try {
        BlockingCall<std::vector<ShareableDisplay>> listing(
            actor_, [environment = &environment_] { return makeDisplays(*environment)->list(); });
        listed = co_await listing;
    } catch (const std::exception& error) {
        if (self) status_.set(cannotList + std::string(error.what()));
        co_return;
    }
    if (!self) co_return;
    const std::uint32_t first = listed.empty() ? 0 : listed.front().displayID;
    const bool empty = listed.empty();
    displays_.set(std::move(listed));
    setSelectedDisplayID(first);
    status_.set(empty ? noDisplays : choosePrompt);
}

QCoro::Task<> CaptureProbe::start(std::shared_ptr<TessaloyNet::VideoSender> sender, std::optional<QualityRung> rung,
                                  VideoCodec codec) {
    std::function<std::optional<Request>()> request = [sender = std::move(sender), rung = std::move(rung),
                                                       codec]() -> std::optional<Request> {
        return Request{sender, rung, codec, std::nullopt};
    };
    co_await launch(std::move(request));
}

QCoro::Task<bool> CaptureProbe::restart(std::optional<QualityRung> rung, std::optional<VideoCodec> codec) {
    std::function<std::optional<Request>()> request = [this, rung = std::move(rung),
                                                       codec]() -> std::optional<Request> {
        if (!running_) return std::nullopt;
        Request again = running_->request;
        if (rung) {
            again.rung = rung;
            again.ladder.reset();
        }
        if (codec) again.codec = *codec;
        return again;
    };
    co_return co_await launch(std::move(request));
}

QCoro::Task<bool> CaptureProbe::launch(std::function<std::optional<Request>()> makeRequest) {
    actor_.assertCurrent();
    const QPointer<CaptureProbe> self(this);
    const BusyScope busy(*this);
    TurnQueue::Awaiter myTurn = turns_.next();
    const TurnQueue::Turn turn = co_await myTurn;
    if (!self) co_return false;
    std::optional<Request> request = makeRequest();
    if (!request) co_return false;
    if (running_) {
        const std::optional<std::string> refusal = co_await stopRunning(false);
        if (!self) co_return false;
        if (refusal) {
            status_.set(couldNotStart + *refusal);
            co_return false;
        }
    }

    const Launch launch = launchFor(std::move(*request));
    std::optional<Running> made;
    std::string failure;
    try {
        made = co_await startOffMainActor(launch);
    } catch (const std::exception& error) {
        failure = error.what();
    }
    // Gone meanwhile: the stream stops as `made` goes.
    if (!self) co_return false;
    if (!made) {
        co_await failToStart(failure);
        co_return false;
    }
    publishRunning(std::move(*made), launch);
    co_return true;
}

QCoro::Task<std::optional<std::string>> CaptureProbe::stopRunning(bool withSound) {
    const QPointer<CaptureProbe> self(this);
    const std::shared_ptr<Running> old = running_;
    reportingGeneration_ = 0;
    std::optional<std::string> refusal = co_await stopOffMainActor(old, withSound);
    if (self && refusal) reportingGeneration_ = old->generation;
    if (self && !refusal) forget(*old);
    co_return refusal;
}

CaptureProbe::Launch CaptureProbe::launchFor(Request request) {
    const QualityRung rung = request.rung.value_or(encoderTestRung());
    std::optional<CaptureEncodingOutput::Adaptation> adaptation;
    if (request.sender && request.rung) {
        if (!request.ladder) {
            std::vector<QualityRung> rungs = TessaloyCore::ladderFrom(rung);
            const std::size_t count = rungs.size();
            request.ladder = Ladder{std::move(rungs), QualityLadder(count)};
        }
        const TessaloyCore::BitrateController::Limits limits =
            TessaloyCore::clampedLimits(rung.limits, VideoEncoder::minimumBitrate, VideoEncoder::maximumBitrate);
        adaptation = CaptureEncodingOutput::Adaptation{limits, request.ladder->ladder};
    }
    const std::uint64_t generation = ++lastCaptureGeneration_;
    auto onStreamStopped = [actor = &actor_, probe = QPointer<CaptureProbe>(this),
                            generation](const std::string& reason) {
        actor->post([probe, generation, reason] {
            if (probe) probe->endRunning(generation, endedOnItsOwn + reason, reason);
        });
    };
    Running made{generation, nullptr, nullptr, std::move(request), {}};
    return Launch(&environment_, &captureQueue_, &actor_, &clock_, audio_, adaptation, rung, selectedDisplayID_,
                  cursorInVideo_, nextStreamGeneration_, outputEvents(), onStreamStopped, std::move(made));
}

QCoro::Task<CaptureProbe::Running> CaptureProbe::startOffMainActor(Launch launch) {
    BlockingCall<Running> making(*launch.actor, [launch] { return makeCapture(launch); });
    launch.made = co_await making;
    std::function<void()> starting = [&launch] { startOnQueue(launch); };
    const std::optional<std::string> refusal =
        co_await onCaptureQueue(*launch.queue, *launch.actor, std::move(starting));
    if (refusal) throw std::runtime_error(*refusal);
    BlockingCall<bool> sound(*launch.actor, [audio = launch.audio, sending = launch.made.request.sender != nullptr] {
        startOrStopSound(*audio, sending);
        return true;
    });
    co_await sound;
    co_return std::move(launch.made);
}

CaptureProbe::Running CaptureProbe::makeCapture(const Launch& launch) {
    Running made = launch.made;
    made.display = chooseDisplay(makeDisplays(*launch.environment)->list(), launch.displayID);
    std::string whyNot;
    made.stream = launch.environment->screenCapture(*launch.queue, &whyNot);
    if (!made.stream) throw std::runtime_error(whyNot.empty() ? "screen capture is not available" : whyNot);
    made.output = std::make_shared<CaptureEncodingOutput>(
        *launch.queue, *launch.actor,
        encoderSettings(made.display, launch.rung, made.request.codec, launch.streamGeneration), made.request.sender,
        launch.adaptation, made.stream, made.generation, launch.events, *launch.clock);
    return made;
}

void CaptureProbe::startOnQueue(const Launch& launch) {
    const Running& made = launch.made;
    made.stream->start(
        {.displayID = made.display.displayID,
         .framesPerSecond = static_cast<double>(launch.rung.profile.framesPerSecond),
         .showsCursor = launch.showsCursor},
        {.onFrame = [output = made.output](const TessaloyBase::FrameView& frame) { output->take(frame); },
         .onStopped = launch.onStreamStopped,
         .onNote = [](const std::string& line) { TraceLog::message(line); }});
    made.output->begin();
}

QCoro::Task<> CaptureProbe::failToStart(std::string failure) {
    const QPointer<CaptureProbe> self(this);
    // What replaced a session's capture may have left its sound running.
    if (audio_->isCapturing()) {
        co_await stopSound(actor_, audio_);
        if (!self) co_return;
    }
    isRunning_.set(false);
    status_.set(couldNotStart + failure);
}

void CaptureProbe::publishRunning(Running made, const Launch& launch) {
    TraceLog::message(made.output->backendDescription());
    const CaptureEncodingOutput& output = *made.output;
    const VideoCodec codec = made.request.codec;
    const std::string picture = CaptureSummaries::size(output.width(), output.height()) + " at " +
                                std::to_string(launch.rung.profile.framesPerSecond) + " fps, " + codecLabel(codec) +
                                " (" + output.encoderName() + ")";
    const bool sending = made.request.sender != nullptr;
    running_ = std::make_shared<Running>(std::move(made));
    reportingGeneration_ = running_->generation;
    if (launch.displayID == 0) setSelectedDisplayID(running_->display.displayID);
    codec_.set(codec);
    rung_.set(launch.rung);
    setCounters(0, 0, 0, 0);
    setSummaries(std::nullopt);
    isRunning_.set(true);
    status_.set(sending ? "Capturing " + displayLabel(running_->display) + " as " + picture + "."
                        : "Testing the encoder on " + displayLabel(running_->display) + ": " + picture +
                              "; nothing is sent.");
}

QCoro::Task<> CaptureProbe::stop() {
    actor_.assertCurrent();
    const QPointer<CaptureProbe> self(this);
    const BusyScope busy(*this);
    TurnQueue::Awaiter myTurn = turns_.next();
    const TurnQueue::Turn turn = co_await myTurn;
    if (!self || !running_) co_return;
    const std::optional<std::string> refusal = co_await stopRunning(true);
    if (!self) co_return;
    if (refusal) {
        status_.set(couldNotStop + *refusal);
        co_return;
    }
    isRunning_.set(false);
    status_.set(stopped);
}

QCoro::Task<bool> CaptureProbe::setCursorInVideo(bool inVideo) {
    actor_.assertCurrent();
    cursorInVideo_ = inVideo;
    const QPointer<CaptureProbe> self(this);
    TurnQueue::Awaiter myTurn = turns_.next();
    const TurnQueue::Turn turn = co_await myTurn;
    if (!self || !running_) co_return false;
    bool took = false;
    std::function<void()> telling = [stream = running_->stream, inVideo, &took] {
        took = stream->setShowsCursor(inVideo);
    };
    const std::optional<std::string> refusal = co_await onCaptureQueue(captureQueue_, actor_, std::move(telling));
    if (refusal) TraceLog::message([&] { return "the pointer setting was refused: " + *refusal; });
    co_return took;
}

QCoro::Task<std::optional<std::string>> CaptureProbe::stopOffMainActor(std::shared_ptr<Running> old, bool withSound) {
    // Touches nothing of this probe after the first wait: the probe may be gone by then.
    TessaloyBase::MainActor& actor = actor_;
    const std::shared_ptr<AudioStreamer> audio = audio_;
    std::function<void()> stopping = [old] { old->stop(); };
    const std::optional<std::string> refusal = co_await onCaptureQueue(captureQueue_, actor, std::move(stopping));
    if (refusal || !withSound) co_return refusal;
    co_return co_await stopSound(actor, audio);
}

void CaptureProbe::forget(const Running& running) {
    nextStreamGeneration_ = std::max(nextStreamGeneration_, running.output->streamGeneration() + 1);
    if (running_.get() == &running) running_.reset();
}

CaptureEncodingOutput::Events CaptureProbe::outputEvents() {
    const QPointer<CaptureProbe> self(this);
    CaptureEncodingOutput::Events events;
    events.onStatistics = [self](const CaptureEncodingOutput::Statistics& statistics) {
        if (self) self->accept(statistics);
    };
    events.onFailure = [self](std::uint64_t generation, const std::string& text) {
        if (self) self->endRunning(generation, text, text);
    };
    events.onQualityStep = [self](std::uint64_t generation, const QualityLadder& ladder) {
        if (self) self->qualityStepped(generation, ladder);
    };
    return events;
}

void CaptureProbe::endRunning(std::uint64_t generation, std::string status, std::string reason) {
    if (!running_ || running_->generation != generation) return;
    ending_ = TaskHandle::start(
        [this, generation, status = std::move(status), reason = std::move(reason)](CancellationToken) -> QCoro::Task<> {
            co_await finishEnded(generation, status, reason);
        });
}

QCoro::Task<> CaptureProbe::finishEnded(std::uint64_t generation, std::string status, std::string reason) {
    const QPointer<CaptureProbe> self(this);
    const BusyScope busy(*this);
    TurnQueue::Awaiter myTurn = turns_.next();
    const TurnQueue::Turn turn = co_await myTurn;
    if (!self || !running_ || running_->generation != generation) co_return;
    const std::shared_ptr<Running> old = running_;
    reportingGeneration_ = 0;
    const std::optional<std::string> refusal = co_await stopOffMainActor(old);
    if (!self) co_return;
    if (refusal) TraceLog::message([&] { return "capture did not stop: " + *refusal; });
    TraceLog::message([&] { return "capture ended: " + reason; });
    forget(*old);
    isRunning_.set(false);
    status_.set(std::move(status));
    if (onStopped) onStopped(reason);
}

void CaptureProbe::qualityStepped(std::uint64_t generation, const QualityLadder& ladder) {
    if (!running_ || running_->generation != generation || !running_->request.ladder) return;
    Ladder stepped = *running_->request.ladder;
    if (ladder.rung() >= stepped.rungs.size()) return;
    stepped.ladder = ladder;
    const QualityRung rung = stepped.rungs[ladder.rung()];
    TraceLog::message([&] {
        return "quality step to " + CaptureSummaries::size(rung.profile.width, rung.profile.height) + " at " +
               std::to_string(rung.profile.framesPerSecond) + " fps";
    });
    std::function<std::optional<Request>()> request = [this, generation, stepped, rung]() -> std::optional<Request> {
        if (!running_ || running_->generation != generation) return std::nullopt;
        Request again = running_->request;
        again.rung = rung;
        again.ladder = stepped;
        return again;
    };
    stepping_ = TaskHandle::start(
        [this, request = std::move(request)](CancellationToken) -> QCoro::Task<> { co_await launch(request); });
}

void CaptureProbe::accept(const CaptureEncodingOutput::Statistics& statistics) {
    if (!running_ || statistics.captureGeneration != reportingGeneration_) return;
    setCounters(static_cast<std::int64_t>(statistics.capturedFrames),
                static_cast<std::int64_t>(statistics.encodedFrames), static_cast<std::int64_t>(statistics.encodedBytes),
                static_cast<std::int64_t>(statistics.droppedFrames));

    setSummaries(CaptureSummaries::of(statistics, running_->display.width, running_->display.height));
}

void CaptureProbe::setCounters(std::int64_t frames, std::int64_t encoded, std::int64_t bytes, std::int64_t dropped) {
    frameCount_.set(frames);
    encodedFrameCount_.set(encoded);
    encodedBytes_.set(bytes);
    droppedFrames_.set(dropped);
}

void CaptureProbe::setSummaries(std::optional<CaptureSummaries> summaries) {
    captureSummary_.set(summaries ? std::optional(summaries->capture) : std::nullopt);
    encodeSummary_.set(summaries ? std::optional(summaries->encode) : std::nullopt);
    queueSummary_.set(summaries ? summaries->queue : std::nullopt);
    roundTripSummary_.set(summaries ? summaries->roundTrip : std::nullopt);
}

} // namespace Plovander
