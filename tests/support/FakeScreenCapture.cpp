#include "tests/support/FakeScreenCapture.h"

#include <stdexcept>
#include <utility>

namespace Testing {

FakeScreenCapture::FakeScreenCapture(TessaloyBase::SerialQueue& queue) : queue_(queue) {}

FakeScreenCapture::~FakeScreenCapture() = default;

void FakeScreenCapture::start(const Configuration& configuration, Callbacks callbacks) {
    queue_.assertCurrent();
    std::lock_guard guard(lock_);
    configurations_.push_back(configuration);
    if (startFailure_) throw *startFailure_;
    running_ = true;
    showsCursor_ = configuration.showsCursor;
    callbacks_ = std::move(callbacks);
    // The first picture comes at once, as with the real capture; the test delivers it.
    ++pendingRequests_;
}

void FakeScreenCapture::stop() {
    queue_.assertCurrent();
    std::lock_guard guard(lock_);
    ++stopCount_;
    if (stopFailure_) throw std::runtime_error(*stopFailure_);
    running_ = false;
    pendingRequests_ = 0;
    callbacks_ = {};
}

bool FakeScreenCapture::isRunning() const {
    queue_.assertCurrent();
    std::lock_guard guard(lock_);
    return running_;
}

bool FakeScreenCapture::setShowsCursor(bool showsCursor) {
    queue_.assertCurrent();
    std::lock_guard guard(lock_);
    cursorChanges_.push_back(showsCursor);
    if (!running_ || !acceptsCursorChanges_) return false;
    showsCursor_ = showsCursor;
    return true;
}

void FakeScreenCapture::requestFrame() {
    queue_.assertCurrent();
    std::lock_guard guard(lock_);
    ++frameRequests_;
    if (running_) ++pendingRequests_;
}

void FakeScreenCapture::setStartFailure(std::optional<Platform::ScreenCaptureError> failure) {
    std::lock_guard guard(lock_);
    startFailure_ = std::move(failure);
}

void FakeScreenCapture::setStopFailure(std::optional<std::string> message) {
    std::lock_guard guard(lock_);
    stopFailure_ = std::move(message);
}

void FakeScreenCapture::setAcceptsCursorChanges(bool accepts) {
    std::lock_guard guard(lock_);
    acceptsCursorChanges_ = accepts;
}

bool FakeScreenCapture::deliver(TessaloyBase::FrameView frame) {
    if (frame.captureTime == std::chrono::steady_clock::time_point{}) {
        frame.captureTime = std::chrono::steady_clock::now();
    }
    return queue_.sync([&] {
        std::function<void(const TessaloyBase::FrameView&)> onFrame;
        {
            std::lock_guard guard(lock_);
            if (!running_) return false;
            if (pendingRequests_ > 0) --pendingRequests_;
            onFrame = callbacks_.onFrame;
        }
        if (onFrame) onFrame(frame);
        return true;
    });
}

void FakeScreenCapture::endOnItsOwn(const std::string& reason) {
    queue_.sync([&] {
        std::function<void(const std::string&)> onStopped;
        {
            std::lock_guard guard(lock_);
            if (!running_) return;
            running_ = false;
            pendingRequests_ = 0;
            onStopped = std::move(callbacks_.onStopped);
            callbacks_ = {};
        }
        if (onStopped) onStopped(reason);
    });
}

std::vector<FakeScreenCapture::Configuration> FakeScreenCapture::configurations() const {
    std::lock_guard guard(lock_);
    return configurations_;
}

std::vector<bool> FakeScreenCapture::cursorChanges() const {
    std::lock_guard guard(lock_);
    return cursorChanges_;
}

bool FakeScreenCapture::showsCursor() const {
    std::lock_guard guard(lock_);
    return showsCursor_;
}

std::size_t FakeScreenCapture::frameRequests() const {
    std::lock_guard guard(lock_);
    return frameRequests_;
}

std::size_t FakeScreenCapture::pendingRequests() const {
    std::lock_guard guard(lock_);
    return pendingRequests_;
}

std::size_t FakeScreenCapture::startCount() const {
    std::lock_guard guard(lock_);
    return configurations_.size();
}

std::size_t FakeScreenCapture::stopCount() const {
    std::lock_guard guard(lock_);
    return stopCount_;
}

} // namespace Testing
