#pragma once

#include "app/capture/AudioStreamer.h"
#include "app/capture/CaptureEncodingOutput.h"
#include "app/capture/CaptureSummaries.h"
#include "app/capture/TurnQueue.h"
#include "app/runtime/Published.h"
#include "app/runtime/TaskHandle.h"
#include "base/MainActor.h"
#include "base/QueueClock.h"
#include "base/SerialQueue.h"
#include "core/QualityLadder.h"
#include "core/QualityRung.h"
#include "core/VideoCodec.h"
#include "net/send/VideoSender.h"
#include "platform/Displays.h"
#include "platform/Environment.h"
#include "platform/ScreenCapture.h"
#include "platform/ShareableDisplay.h"

#include <qcoro/qcorotask.h>
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Plovander {

// The observable owner of the capture stream, on the main actor: the display list, starting and
// stopping capture for a session or for the encoder test, the pointer in the picture, and the
// measurements of the running capture.
//
//   main actor ── start/stop/setCursorInVideo (one at a time, in order) ──> worker pool: X connection,
//       encoder, audio start/stop; capture queue: ScreenCapture::start/stop ──> back on the main actor
//   capture queue: ScreenCapture ──> CaptureEncodingOutput ──> VideoSender   (see that header)
//   audio queue:   AudioCapture ──> AudioStreamer ──> its `send`
//
// Every member is for the main actor. Published properties are a getter and a `<name>Changed()`
// signal emitted only when the value changes.
//
// Summaries, one line each, from the statistics report of every second (absent before the first;
// the send queue and round trip only while sending, the round trip once the channel has samples):
//   captureSummary   "Capture: 29.8 of 30 fps from 1920x1080"
//   encodeSummary    "Encode: libx264 1280x720, 4.2 ms per frame (max 9.8 ms), grab to packet 5.1 ms,
//                     2400 of 3000 kbit/s"
//   queueSummary     "Send queue: 2 of 16 frames, 48 KiB, 3 dropped" (+ ", waiting for a keyframe")
//   roundTripSummary "Round trip: median 12 ms, p95 30 ms, max 41 ms"
// Rates are over the report's interval; "of 3000 kbit/s" is the encoder's target; the queue's
// dropped frames count over the queue's life. Counters and summaries start again with each capture.
//
// Quality ladder (the seam towards the session's own ladder handling): a capture started with a
// sender and a rung adapts its bitrate within that rung and walks the mode's ladder from that rung
// down (the mode found by the rung's place in `QualityRung::ladder`; an unknown rung is a ladder of
// one). A step restarts capture at the new rung, with the same sender, codec and display, and
// publishes it in `rung`.
class CaptureProbe : public QObject {
    Q_OBJECT

public:
    static constexpr const char* choosePrompt = "Choose a display, then start capture.";
    static constexpr const char* noDisplays = "No displays available.";
    static constexpr const char* cannotList =
        "Cannot list displays. Check Screen Recording in System Settings → Privacy & Security, then relaunch if "
        "needed. ";
    static constexpr const char* couldNotStart = "Could not start capture: ";
    static constexpr const char* stopped = "Capture stopped.";
    static constexpr const char* couldNotStop = "Could not stop capture; retry or quit Plovander. ";
    // Followed by the reason, when capture ends on its own.
    static constexpr const char* endedOnItsOwn = "Screen capture stopped. ";

    // What the encoder test captures at: the best rung of the balanced mode (1080p, 30 fps).
    static TessaloyCore::QualityRung encoderTestRung();

    // Whether this computer has a hardware HEVC encoder, as far as is known when asked (main actor).
    using HevcHardware = std::function<bool()>;
    // The real answer: the hardware encoder is opened once on the worker pool (a driver takes its
    // time to open); until it has answered, the answer is no.
    static HevcHardware checkedInBackground();

    // The environment makes the displays, screen captures and sound captures, on the worker pool;
    // one that makes nothing fails the step with its `whyNot` text. The environment, `captureQueue`
    // ("dev.tessaloy.capture") and `audioQueue` ("dev.tessaloy.capture-audio") outlive the probe.
    // The capture's pacing and reports run on `clock`, on the capture queue.
    CaptureProbe(Platform::Environment& environment, TessaloyBase::SerialQueue& captureQueue,
                 TessaloyBase::SerialQueue& audioQueue,
                 TessaloyBase::QueueClock& clock = TessaloyBase::steadyQueueClock(),
                 HevcHardware hevcHardware = checkedInBackground(), QObject* parent = nullptr);
    // Stops a running capture, waiting for it.
    ~CaptureProbe() override;

    const std::vector<Platform::ShareableDisplay>& displays() const { return displays_; }
    std::uint32_t selectedDisplayID() const { return selectedDisplayID_; }
    void setSelectedDisplayID(std::uint32_t displayID);
    bool isRunning() const { return isRunning_; }
    bool isBusy() const { return busyOperations_ > 0; }
    const std::string& status() const { return status_; }
    TessaloyCore::VideoCodec codec() const { return codec_; }
    const std::optional<TessaloyCore::QualityRung>& rung() const { return rung_; }
    std::int64_t frameCount() const { return frameCount_; }
    std::int64_t encodedFrameCount() const { return encodedFrameCount_; }
    std::int64_t encodedBytes() const { return encodedBytes_; }
    std::int64_t droppedFrames() const { return droppedFrames_; }
    const std::optional<std::string>& captureSummary() const { return captureSummary_; }
    const std::optional<std::string>& encodeSummary() const { return encodeSummary_; }
    const std::optional<std::string>& queueSummary() const { return queueSummary_; }
    const std::optional<std::string>& roundTripSummary() const { return roundTripSummary_; }

    // The capture's audio; lives as long as the probe.
    AudioStreamer& audio() const { return *audio_; }
    // The running capture's encoding output; null while stopped. Keyframe requests hold it weakly
    // and call it on its captureQueue().
    std::shared_ptr<CaptureEncodingOutput> encodingOutput() const;
    // Whether captures draw the pointer (on at first).
    bool cursorInVideo() const { return cursorInVideo_; }
    // Whether HEVC can be encoded in hardware here; software HEVC cannot keep a stream's pace.
    bool encodesHevcInHardware() const { return hevcHardware_(); }

    // Does nothing while busy or running. Otherwise lists the displays, publishes them, selects the
    // first one and says what to do next; a failure says why in `status`.
    QCoro::Task<> refreshDisplays();
    // Starts capturing `selectedDisplayID` (the first listed display when none is selected),
    // replacing a running capture. With a sender, packets go to it and sound starts; without one
    // (and without a rung) this is the encoder test. Success shows in `isRunning` and `status`; a
    // failure sets "Could not start capture: " and the reason.
    QCoro::Task<> start(std::shared_ptr<TessaloyNet::VideoSender> sender, std::optional<TessaloyCore::QualityRung> rung,
                        TessaloyCore::VideoCodec codec);
    // Starts the running capture again on `selectedDisplayID` with its sender, and with `rung` and
    // `codec` when given (else its own). Returns whether capture runs afterwards; false at once when
    // none ran.
    QCoro::Task<bool> restart(std::optional<TessaloyCore::QualityRung> rung = std::nullopt,
                              std::optional<TessaloyCore::VideoCodec> codec = std::nullopt);
    // Stops the running capture and its sound ("Capture stopped."); nothing when none runs.
    QCoro::Task<> stop();
    // Remembers whether captures draw the pointer and tells the running one. Returns whether a
    // running capture took the change.
    QCoro::Task<bool> setCursorInVideo(bool inVideo);

    // Main actor: capture ended on its own (the display went away, the encoder failed). The probe
    // has already stopped and says so in `status`.
    std::function<void(const std::string& reason)> onStopped;

Q_SIGNALS:
    void displaysChanged();
    void selectedDisplayIDChanged();
    void isRunningChanged();
    void isBusyChanged();
    void statusChanged();
    void codecChanged();
    void rungChanged();
    void frameCountChanged();
    void encodedFrameCountChanged();
    void encodedBytesChanged();
    void droppedFramesChanged();
    void captureSummaryChanged();
    void encodeSummaryChanged();
    void queueSummaryChanged();
    void roundTripSummaryChanged();

private:
    struct Ladder {
        std::vector<TessaloyCore::QualityRung> rungs;
        TessaloyCore::QualityLadder ladder;
    };
    struct Request {
        std::shared_ptr<TessaloyNet::VideoSender> sender; // null for the encoder test
        std::optional<TessaloyCore::QualityRung> rung;    // as asked; absent for the encoder test
        TessaloyCore::VideoCodec codec = TessaloyCore::VideoCodec::h264;
        std::optional<Ladder> ladder; // kept across a ladder step, made afresh otherwise
    };
    struct Running;
    struct Launch;
    class BusyScope;

    // Steps of a start: stop the running capture, plan, make and start the new one off the main
    // actor, publish it.
    QCoro::Task<bool> launch(std::function<std::optional<Request>()> request);
    // Stops the running capture, and its sound unless told not to; what went wrong when it would
    // not stop, in which case it goes on reporting.
    QCoro::Task<std::optional<std::string>> stopRunning(bool withSound);
    Launch launchFor(Request request);
    static QCoro::Task<Running> startOffMainActor(Launch launch);
    static Running makeCapture(const Launch& launch);
    static void startOnQueue(const Launch& launch);
    QCoro::Task<> failToStart(std::string failure);
    void publishRunning(Running made, const Launch& launch);
    // Capture ended on its own: `status` for the probe, `reason` for onStopped.
    void endRunning(std::uint64_t generation, std::string status, std::string reason);
    QCoro::Task<> finishEnded(std::uint64_t generation, std::string status, std::string reason);
    // Stops `old` on the capture queue, then the sound unless told not to; what went wrong when it
    // would not stop.
    QCoro::Task<std::optional<std::string>> stopOffMainActor(std::shared_ptr<Running> old, bool withSound = true);
    void qualityStepped(std::uint64_t generation, const TessaloyCore::QualityLadder& ladder);
    void accept(const CaptureEncodingOutput::Statistics& statistics);
    CaptureEncodingOutput::Events outputEvents();
    void forget(const Running& running);

    void setCounters(std::int64_t frames, std::int64_t encoded, std::int64_t bytes, std::int64_t dropped);
    void setSummaries(std::optional<CaptureSummaries> summaries);

    Platform::Environment& environment_;
    TessaloyBase::MainActor& actor_;
    TessaloyBase::SerialQueue& captureQueue_;
    TessaloyBase::QueueClock& clock_;
    const HevcHardware hevcHardware_;
    const std::shared_ptr<AudioStreamer> audio_;
    TurnQueue turns_;
    // Capture ends on its own and ladder steps, each started by an event of the running capture.
    TaskHandle ending_;
    TaskHandle stepping_;

    Published<std::vector<Platform::ShareableDisplay>> displays_{[this] { Q_EMIT displaysChanged(); }};
    Published<std::uint32_t> selectedDisplayID_{[this] { Q_EMIT selectedDisplayIDChanged(); }};
    Published<bool> isRunning_{[this] { Q_EMIT isRunningChanged(); }};
    int busyOperations_ = 0;
    Published<std::string> status_{[this] { Q_EMIT statusChanged(); }};
    Published<TessaloyCore::VideoCodec> codec_{[this] { Q_EMIT codecChanged(); }, TessaloyCore::VideoCodec::h264};
    Published<std::optional<TessaloyCore::QualityRung>> rung_{[this] { Q_EMIT rungChanged(); }};
    Published<std::int64_t> frameCount_{[this] { Q_EMIT frameCountChanged(); }};
    Published<std::int64_t> encodedFrameCount_{[this] { Q_EMIT encodedFrameCountChanged(); }};
    Published<std::int64_t> encodedBytes_{[this] { Q_EMIT encodedBytesChanged(); }};
    Published<std::int64_t> droppedFrames_{[this] { Q_EMIT droppedFramesChanged(); }};
    Published<std::optional<std::string>> captureSummary_{[this] { Q_EMIT captureSummaryChanged(); }};
    Published<std::optional<std::string>> encodeSummary_{[this] { Q_EMIT encodeSummaryChanged(); }};
    Published<std::optional<std::string>> queueSummary_{[this] { Q_EMIT queueSummaryChanged(); }};
    Published<std::optional<std::string>> roundTripSummary_{[this] { Q_EMIT roundTripSummaryChanged(); }};

    bool cursorInVideo_ = true;
    std::shared_ptr<Running> running_;
    std::uint64_t lastCaptureGeneration_ = 0;
    // The capture whose statistics count: 0 while none runs or while the running one is stopping.
    std::uint64_t reportingGeneration_ = 0;
    std::uint32_t nextStreamGeneration_ = 0;
};

} // namespace Plovander
