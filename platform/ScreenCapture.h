#pragma once

#include "base/FrameView.h"
#include "base/SerialQueue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace Platform {

// Why capture could not start; the message is the platform's own text.
class ScreenCaptureError : public std::runtime_error {
public:
    enum class Kind { unavailable, noSuchDisplay, unsupportedScreen, invalidConfiguration };

    ScreenCaptureError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// Captures one display at a steady pace and hands over each picture that changed.
//
// Bound to the capture queue given at creation: every member runs on it, callbacks included, so
// the control methods may be called from inside a callback; callers elsewhere post to the queue.
// The object may be destroyed on any thread: a capture still running then ends on the queue.
class ScreenCapture {
public:
    struct Configuration {
        std::uint32_t displayID = 0; // a `ShareableDisplay::displayID`
        double framesPerSecond = 30; // 0 < framesPerSecond <= maximumFramesPerSecond
        bool showsCursor = true;
    };

    struct Callbacks {
        // A picture that changed since the last one, or one that `requestFrame` asked for. The view
        // points into the capturer's buffer and is valid only during the call.
        std::function<void(const TessaloyBase::FrameView&)> onFrame;
        // Capture ended on its own (the display server went away, the display vanished, the screen
        // could not be read any more); the text says why. Nothing follows it.
        std::function<void(const std::string& reason)> onStopped;
        // One line for the trace about how this capture runs, such as a missing facility and what
        // is done instead. Called during `start`.
        std::function<void(const std::string& line)> onNote;
    };

    static constexpr double maximumFramesPerSecond = 240;

    // Captures from the display server `displayName` (empty: the session's) on `queue`, which must
    // outlive the capture and its end. Returns nullptr when no server answers, with the reason in `whyNot`.
    static std::unique_ptr<ScreenCapture> create(TessaloyBase::SerialQueue& queue, const std::string& displayName = {},
                                                 std::string* whyNot = nullptr);

    virtual ~ScreenCapture() = default;

    // Starts capturing; the first picture follows at once. A running capture is stopped first.
    // Throws ScreenCaptureError.
    virtual void start(const Configuration& configuration, Callbacks callbacks) = 0;
    // No callback of this capture runs after it. Harmless when not running.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
    // Draws the pointer into the pictures or not from the next one on; returns whether the running
    // capture took the change (false when not running or when the pointer cannot be drawn).
    virtual bool setShowsCursor(bool showsCursor) = 0;
    // The next tick delivers the current picture even when nothing changed.
    virtual void requestFrame() = 0;
};

} // namespace Platform
