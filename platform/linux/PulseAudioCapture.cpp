#include "platform/linux/PulseAudioCapture.h"

#include "base/SerialQueue.h"
#include "platform/linux/CallbackGate.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/rtclock.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace Platform::Linux {
namespace {

std::string noServerText(int code) { return std::string("No sound server: ") + pa_strerror(code); }
std::string recordingText(int code) { return std::string("Could not record the sound output: ") + pa_strerror(code); }
std::string serverGoneText(int code) { return std::string("The sound server went away: ") + pa_strerror(code); }
std::string recordingEndedText(int code) {
    return std::string("Recording the sound output stopped: ") + pa_strerror(code);
}

struct LoopFree {
    void operator()(pa_threaded_mainloop* loop) const { pa_threaded_mainloop_free(loop); }
};
struct ContextUnref {
    void operator()(pa_context* context) const { pa_context_unref(context); }
};
struct StreamUnref {
    void operator()(pa_stream* stream) const { pa_stream_unref(stream); }
};

// Holds the loop lock for a scope.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
    ~LoopLock() { pa_threaded_mainloop_unlock(loop_); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

} // namespace

// Chunks on their way from the loop thread to the queue. Shared with the work posted to the queue,
// so it outlives the capture when the queue runs late.
class PulseAudioCapture::Handover : public std::enable_shared_from_this<Handover> {
public:
    Handover(TessaloyBase::SerialQueue& queue, Format format, Handlers handlers)
        : queue_(queue), format_(format), handlers_(std::move(handlers)) {}

    // Loop thread: copies one chunk; drops the oldest waiting one when the queue is behind.
    void push(const float* samples, std::size_t frames) {
        if (frames == 0) return;
        std::vector<float> chunk;
        {
            std::lock_guard guard(lock_);
            if (ended_) return;
            if (!spare_.empty()) {
                chunk = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        chunk.assign(samples, samples + frames * static_cast<std::size_t>(format_.channels));
        bool schedule = false;
        {
            std::lock_guard guard(lock_);
            if (pending_.size() >= maximumPendingChunks) {
                recycle(std::move(pending_.front()));
                pending_.pop_front();
                ++dropped_;
            }
            pending_.push_back(std::move(chunk));
            schedule = !std::exchange(drainScheduled_, true);
        }
        if (schedule) scheduleDrain();
    }

    // Loop thread: the capture ended on its own; waiting chunks are still delivered, then the reason.
    void end(std::string reason) {
        bool schedule = false;
        {
            std::lock_guard guard(lock_);
            if (ended_) return;
            ended_ = true;
            endReason_ = std::move(reason);
            schedule = !std::exchange(drainScheduled_, true);
        }
        if (schedule) scheduleDrain();
    }

    void close() { gate_.close(); }

    std::uint64_t dropped() const {
        std::lock_guard guard(lock_);
        return dropped_;
    }

private:
    void scheduleDrain() {
        queue_.async([self = shared_from_this()] { self->drain(); });
    }

    // On the queue. Hands over every waiting chunk, one call each, and the end reason last.
    void drain() {
        for (;;) {
            std::vector<float> chunk;
            std::optional<std::string> reason;
            {
                std::lock_guard guard(lock_);
                if (pending_.empty()) {
                    drainScheduled_ = false;
                    reason = std::exchange(endReason_, std::nullopt);
                } else {
                    chunk = std::move(pending_.front());
                    pending_.pop_front();
                }
            }
            if (chunk.empty()) {
                if (reason && handlers_.onStopped) gate_.run([&] { handlers_.onStopped(*reason); });
                return;
            }
            const TessaloyBase::AudioBufferView view{chunk.data(),
                                                     chunk.size() / static_cast<std::size_t>(format_.channels),
                                                     format_.channels, format_.sampleRate};
            const bool open = gate_.run([&] {
                if (handlers_.onSamples) handlers_.onSamples(view);
            });
            {
                std::lock_guard guard(lock_);
                recycle(std::move(chunk));
            }
            // A closed gate never opens again, so nothing is scheduled any more.
            if (!open) return;
        }
    }

    // Under lock_.
    void recycle(std::vector<float> chunk) {
        if (spare_.size() < maximumPendingChunks) spare_.push_back(std::move(chunk));
    }

    TessaloyBase::SerialQueue& queue_;
    const Format format_;
    const Handlers handlers_;
    CallbackGate gate_;
    mutable std::mutex lock_;
    std::deque<std::vector<float>> pending_; // guarded by lock_
    std::vector<std::vector<float>> spare_;  // guarded by lock_; buffers kept for reuse
    bool drainScheduled_ = false;            // guarded by lock_
    bool ended_ = false;                     // guarded by lock_
    std::optional<std::string> endReason_;   // guarded by lock_
    std::uint64_t dropped_ = 0;              // guarded by lock_
};

// One connection to the sound server and its recording stream, alive from a successful start to
// the next stop. The loop thread calls back into it; destroying it stops that thread first.
class PulseAudioCapture::Connection {
public:
    Connection(const std::string& server, Format format, std::shared_ptr<Handover> handover)
        : handover_(std::move(handover)) {
        try {
            open(server, format);
        } catch (...) {
            shutDown();
            throw;
        }
    }
    ~Connection() { shutDown(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

private:
    void open(const std::string& server, Format format) {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(format.sampleRate),
                                  static_cast<std::uint8_t>(format.channels)};
        if (format.sampleRate <= 0 || format.channels <= 0 || format.channels > static_cast<int>(PA_CHANNELS_MAX) ||
            !pa_sample_spec_valid(&spec)) {
            throw AudioCaptureError(AudioCaptureError::Kind::unsupportedFormat,
                                    "Unsupported audio format: " + std::to_string(format.sampleRate) + " Hz, " +
                                        std::to_string(format.channels) + " channels");
        }
        frameBytes_ = pa_frame_size(&spec);

        loop_.reset(pa_threaded_mainloop_new());
        if (!loop_) throw AudioCaptureError(AudioCaptureError::Kind::recordingFailed, recordingText(PA_ERR_INTERNAL));
        context_.reset(pa_context_new(pa_threaded_mainloop_get_api(loop_.get()), "Plovander"));
        if (!context_) throw AudioCaptureError(AudioCaptureError::Kind::noSoundServer, noServerText(PA_ERR_INTERNAL));
        pa_context_set_state_callback(context_.get(), &Connection::onContextState, this);
        // Never start a server of our own: a missing server is reported, not papered over.
        if (pa_context_connect(context_.get(), server.empty() ? nullptr : server.c_str(), PA_CONTEXT_NOAUTOSPAWN,
                               nullptr) < 0) {
            throw AudioCaptureError(AudioCaptureError::Kind::noSoundServer,
                                    noServerText(pa_context_errno(context_.get())));
        }
        if (pa_threaded_mainloop_start(loop_.get()) < 0) {
            throw AudioCaptureError(AudioCaptureError::Kind::noSoundServer, noServerText(PA_ERR_INTERNAL));
        }
        started_ = true;

        LoopLock lock(loop_.get());
        timer_ = pa_context_rttime_new(
            context_.get(), pa_rtclock_now() + static_cast<pa_usec_t>(startTimeout.count()) * PA_USEC_PER_SEC,
            &Connection::onTimeout, this);
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context_.get());
            if (state == PA_CONTEXT_READY) break;
            if (!PA_CONTEXT_IS_GOOD(state)) {
                throw AudioCaptureError(AudioCaptureError::Kind::noSoundServer,
                                        noServerText(pa_context_errno(context_.get())));
            }
            if (timedOut_)
                throw AudioCaptureError(AudioCaptureError::Kind::noSoundServer, noServerText(PA_ERR_TIMEOUT));
            pa_threaded_mainloop_wait(loop_.get());
        }

        stream_.reset(pa_stream_new(context_.get(), "Shared sound", &spec, nullptr));
        if (!stream_) {
            throw AudioCaptureError(AudioCaptureError::Kind::recordingFailed,
                                    recordingText(pa_context_errno(context_.get())));
        }
        pa_stream_set_state_callback(stream_.get(), &Connection::onStreamState, this);
        pa_stream_set_read_callback(stream_.get(), &Connection::onRead, this);
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.tlength = static_cast<std::uint32_t>(-1);
        attributes.prebuf = static_cast<std::uint32_t>(-1);
        attributes.minreq = static_cast<std::uint32_t>(-1);
        attributes.fragsize = static_cast<std::uint32_t>(
            pa_usec_to_bytes(static_cast<pa_usec_t>(chunkDuration.count()) * PA_USEC_PER_MSEC, &spec));
        if (pa_stream_connect_record(stream_.get(), "@DEFAULT_MONITOR@", &attributes, PA_STREAM_ADJUST_LATENCY) < 0) {
            throw AudioCaptureError(AudioCaptureError::Kind::recordingFailed,
                                    recordingText(pa_context_errno(context_.get())));
        }
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(stream_.get());
            if (state == PA_STREAM_READY) break;
            if (!PA_STREAM_IS_GOOD(state)) {
                const bool serverGone = !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_.get()));
                const int code = pa_context_errno(context_.get());
                throw serverGone ? AudioCaptureError(AudioCaptureError::Kind::noSoundServer, noServerText(code))
                                 : AudioCaptureError(AudioCaptureError::Kind::recordingFailed, recordingText(code));
            }
            if (timedOut_) {
                throw AudioCaptureError(AudioCaptureError::Kind::recordingFailed, recordingText(PA_ERR_TIMEOUT));
            }
            pa_threaded_mainloop_wait(loop_.get());
        }
        cancelTimer();
        running_ = true;
    }

    // Stops the loop thread after detaching every callback; safe on a half-open connection.
    void shutDown() {
        if (started_) {
            {
                LoopLock lock(loop_.get());
                running_ = false;
                cancelTimer();
                if (stream_) {
                    pa_stream_set_read_callback(stream_.get(), nullptr, nullptr);
                    pa_stream_set_state_callback(stream_.get(), nullptr, nullptr);
                    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_.get()))) pa_stream_disconnect(stream_.get());
                }
                pa_context_set_state_callback(context_.get(), nullptr, nullptr);
                pa_context_disconnect(context_.get());
            }
            pa_threaded_mainloop_stop(loop_.get());
            started_ = false;
        }
        stream_.reset();
        context_.reset();
        loop_.reset();
    }

    // Under the loop lock.
    void cancelTimer() {
        if (!timer_) return;
        pa_threaded_mainloop_get_api(loop_.get())->time_free(timer_);
        timer_ = nullptr;
    }

    static void onContextState(pa_context* context, void* userdata) {
        auto& self = *static_cast<Connection*>(userdata);
        if (self.running_ && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
            self.handover_->end(serverGoneText(pa_context_errno(context)));
        }
        pa_threaded_mainloop_signal(self.loop_.get(), 0);
    }

    static void onStreamState(pa_stream* stream, void* userdata) {
        auto& self = *static_cast<Connection*>(userdata);
        if (self.running_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
            const int code = pa_context_errno(self.context_.get());
            self.handover_->end(PA_CONTEXT_IS_GOOD(pa_context_get_state(self.context_.get())) ? recordingEndedText(code)
                                                                                              : serverGoneText(code));
        }
        pa_threaded_mainloop_signal(self.loop_.get(), 0);
    }

    static void onRead(pa_stream* stream, std::size_t, void* userdata) {
        auto& self = *static_cast<Connection*>(userdata);
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
            // A hole (no data, but bytes) carries nothing to hand over.
            if (data) self.handover_->push(static_cast<const float*>(data), bytes / self.frameBytes_);
            pa_stream_drop(stream);
        }
    }

    static void onTimeout(pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* userdata) {
        auto& self = *static_cast<Connection*>(userdata);
        api->time_free(event);
        self.timer_ = nullptr;
        self.timedOut_ = true;
        pa_threaded_mainloop_signal(self.loop_.get(), 0);
    }

    const std::shared_ptr<Handover> handover_;
    std::unique_ptr<pa_threaded_mainloop, LoopFree> loop_;
    std::unique_ptr<pa_context, ContextUnref> context_;
    std::unique_ptr<pa_stream, StreamUnref> stream_;
    std::size_t frameBytes_ = 0;
    bool started_ = false;           // the loop thread runs
    bool running_ = false;           // under the loop lock: sound flows to the handover
    bool timedOut_ = false;          // under the loop lock
    pa_time_event* timer_ = nullptr; // under the loop lock
};

PulseAudioCapture::PulseAudioCapture(TessaloyBase::SerialQueue& queue, std::string server)
    : queue_(queue), server_(std::move(server)) {}

PulseAudioCapture::~PulseAudioCapture() { stop(); }

void PulseAudioCapture::start(Format format, Handlers handlers) {
    stop();
    {
        std::lock_guard guard(lock_);
        handover_.reset();
    }
    auto handover = std::make_shared<Handover>(queue_, format, std::move(handlers));
    auto connection = std::make_unique<Connection>(server_, format, handover);
    std::unique_ptr<Connection> displaced;
    std::shared_ptr<Handover> displacedHandover;
    {
        std::lock_guard guard(lock_);
        displaced = std::exchange(connection_, std::move(connection));
        displacedHandover = std::exchange(handover_, std::move(handover));
    }
    // Only a start running at the same time leaves something behind here.
    displaced.reset();
    if (displacedHandover) displacedHandover->close();
}

void PulseAudioCapture::stop() {
    std::unique_ptr<Connection> connection;
    std::shared_ptr<Handover> handover;
    {
        std::lock_guard guard(lock_);
        connection = std::move(connection_);
        handover = handover_;
    }
    connection.reset();
    if (handover) handover->close();
}

std::uint64_t PulseAudioCapture::droppedChunks() const {
    std::lock_guard guard(lock_);
    return handover_ ? handover_->dropped() : 0;
}

} // namespace Platform::Linux

std::unique_ptr<Platform::AudioCapture> Platform::AudioCapture::create(TessaloyBase::SerialQueue& queue,
                                                                       std::string server) {
    return std::make_unique<Linux::PulseAudioCapture>(queue, std::move(server));
}
