#pragma once

#include "base/AudioBufferView.h"
#include "base/SerialQueue.h"
#include "platform/AudioCapture.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Testing {

// Sound capture that hands over what the test gives it, on the capture's queue, and records every
// start and stop. The test side is safe from any thread but the queue.
class FakeAudioCapture final : public Platform::AudioCapture {
public:
    explicit FakeAudioCapture(TessaloyBase::SerialQueue& queue);
    ~FakeAudioCapture() override;

    void start(Format format, Handlers handlers) override;
    void stop() override;
    std::uint64_t droppedChunks() const override;

    // Every start() throws this until cleared with nullopt.
    void setStartFailure(std::optional<Platform::AudioCaptureError> failure);

    // Hands the buffer to onSamples on the queue and waits; false (nothing handed) when not running.
    bool deliver(const TessaloyBase::AudioBufferView& buffer);
    // `frames` samples per channel of a sine at `frequency` Hz, in the format of the running
    // capture, continuing the phase of the previous tone.
    bool deliverTone(double frequency, std::size_t frames, float amplitude = 0.5f);
    // Ends capture as a vanished sound server would: onStopped with `reason`.
    void endOnItsOwn(const std::string& reason);

    bool isRunning() const;
    std::vector<Format> formats() const; // one per successful or failed start()
    std::size_t stopCount() const;

private:
    TessaloyBase::SerialQueue& queue_;
    mutable std::mutex lock_;
    bool running_ = false;
    Format format_;
    Handlers handlers_;
    std::vector<Format> formats_;
    std::optional<Platform::AudioCaptureError> startFailure_;
    std::size_t stopCount_ = 0;
    double phase_ = 0;
};

} // namespace Testing
