#pragma once

#include "base/FrameView.h"
#include "base/SerialQueue.h"
#include "platform/ScreenCapture.h"

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Testing {

// A screen capture that delivers what the test hands it, when the test says so, and records every
// control call. Like the real one it is bound to its queue: control calls and callbacks run there.
// The test side is safe from any thread but the queue.
class FakeScreenCapture final : public Platform::ScreenCapture {
public:
    explicit FakeScreenCapture(TessaloyBase::SerialQueue& queue);
    ~FakeScreenCapture() override;

    void start(const Configuration& configuration, Callbacks callbacks) override;
    void stop() override;
    bool isRunning() const override;
    bool setShowsCursor(bool showsCursor) override;
    void requestFrame() override;

    // Every start() throws this until cleared with nullopt.
    void setStartFailure(std::optional<Platform::ScreenCaptureError> failure);
    // Every stop() throws std::runtime_error with this text, leaving capture running, until cleared.
    void setStopFailure(std::optional<std::string> message);
    // Whether setShowsCursor() on a running capture takes the change (true at first).
    void setAcceptsCursorChanges(bool accepts);

    // Hands `frame` to onFrame on the queue and waits; a view without a capture time gets the
    // current one. Returns false (delivering nothing) when not running. Answers one pending request.
    bool deliver(TessaloyBase::FrameView frame);
    // Ends the running capture as the display server would: onStopped with `reason`, on the queue.
    void endOnItsOwn(const std::string& reason);

    // Records.
    std::vector<Configuration> configurations() const; // one per start()
    std::vector<bool> cursorChanges() const;           // every setShowsCursor() argument
    bool showsCursor() const;                          // as the running (or last) capture draws it
    std::size_t frameRequests() const;                 // every requestFrame()
    std::size_t pendingRequests() const;               // requests no delivery answered yet
    std::size_t startCount() const;
    std::size_t stopCount() const;

private:
    TessaloyBase::SerialQueue& queue_;
    mutable std::mutex lock_;
    bool running_ = false;
    Callbacks callbacks_;
    std::vector<Configuration> configurations_;
    std::vector<bool> cursorChanges_;
    bool showsCursor_ = true;
    bool acceptsCursorChanges_ = true;
    std::optional<Platform::ScreenCaptureError> startFailure_;
    std::optional<std::string> stopFailure_;
    std::size_t frameRequests_ = 0;
    std::size_t pendingRequests_ = 0;
    std::size_t stopCount_ = 0;
};

} // namespace Testing
