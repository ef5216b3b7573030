#pragma once

#include "base/AudioBufferView.h"
#include "base/SerialQueue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace Platform {

// Why capture could not start; the message is the status text to show, with the sound server's own
// words in it.
class AudioCaptureError : public std::runtime_error {
public:
    enum class Kind { unsupportedFormat, noSoundServer, recordingFailed };

    AudioCaptureError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// The sound this computer plays (the monitor of the default output), as interleaved 32-bit float
// chunks at the rate and channel count asked for. Chunks reach `onSamples` on the queue given at
// creation; when the queue falls behind, the oldest waiting chunks are dropped and counted, so the
// backlog stays bounded. start() and stop() may be called from any thread, the queue included.
class AudioCapture {
public:
    struct Format {
        int sampleRate = 48000;
        int channels = 2;
    };
    struct Handlers {
        // On the queue; the view is valid only during the call.
        std::function<void(const TessaloyBase::AudioBufferView&)> onSamples;
        // On the queue, at most once per start, when capture ends on its own (the sound server went
        // away); the text says why. Not called after stop().
        std::function<void(const std::string&)> onStopped;
    };

    // `server` is a sound server address; empty means the user's own server. The queue must outlive
    // the capture.
    static std::unique_ptr<AudioCapture> create(TessaloyBase::SerialQueue& queue, std::string server = {});

    // Stops capture first.
    virtual ~AudioCapture() = default;

    // Connects and starts recording; a running capture is stopped first. Returns once sound flows or
    // throws AudioCaptureError (within a few seconds, even when the server does not answer).
    virtual void start(Format format, Handlers handlers) = 0;
    // When it returns, no handler runs any more (unless it is called from a handler, which then
    // finishes on its own). Capture may be started again.
    virtual void stop() = 0;
    // Chunks dropped since the last start because the queue fell behind.
    virtual std::uint64_t droppedChunks() const = 0;
};

} // namespace Platform
