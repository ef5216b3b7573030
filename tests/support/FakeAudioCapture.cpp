#include "tests/support/FakeAudioCapture.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace Testing {

FakeAudioCapture::FakeAudioCapture(TessaloyBase::SerialQueue& queue) : queue_(queue) {}

FakeAudioCapture::~FakeAudioCapture() = default;

void FakeAudioCapture::start(Format format, Handlers handlers) {
    std::lock_guard guard(lock_);
    formats_.push_back(format);
    if (startFailure_) throw *startFailure_;
    running_ = true;
    format_ = format;
    handlers_ = std::move(handlers);
}

void FakeAudioCapture::stop() {
    // Like the real capture: once this returns no handler runs (a delivery in progress finishes).
    queue_.sync([&] {
        std::lock_guard guard(lock_);
        ++stopCount_;
        running_ = false;
        handlers_ = {};
    });
}

std::uint64_t FakeAudioCapture::droppedChunks() const { return 0; }

void FakeAudioCapture::setStartFailure(std::optional<Platform::AudioCaptureError> failure) {
    std::lock_guard guard(lock_);
    startFailure_ = std::move(failure);
}

bool FakeAudioCapture::deliver(const TessaloyBase::AudioBufferView& buffer) {
    return queue_.sync([&] {
        std::function<void(const TessaloyBase::AudioBufferView&)> onSamples;
        {
            std::lock_guard guard(lock_);
            if (!running_) return false;
            onSamples = handlers_.onSamples;
        }
        if (onSamples) onSamples(buffer);
        return true;
    });
}

bool FakeAudioCapture::deliverTone(double frequency, std::size_t frames, float amplitude) {
    Format format;
    double phase = 0;
    {
        std::lock_guard guard(lock_);
        if (!running_) return false;
        format = format_;
        phase = phase_;
    }
    const auto channels = static_cast<std::size_t>(format.channels);
    std::vector<float> samples(frames * channels);
    const double step = 2 * std::numbers::pi * frequency / format.sampleRate;
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const auto value = static_cast<float>(amplitude * std::sin(phase));
        for (std::size_t channel = 0; channel < channels; ++channel) samples[frame * channels + channel] = value;
        phase = std::fmod(phase + step, 2 * std::numbers::pi);
    }
    {
        std::lock_guard guard(lock_);
        phase_ = phase;
    }
    return deliver({samples.data(), frames, format.channels, format.sampleRate});
}

void FakeAudioCapture::endOnItsOwn(const std::string& reason) {
    queue_.sync([&] {
        std::function<void(const std::string&)> onStopped;
        {
            std::lock_guard guard(lock_);
            if (!running_) return;
            running_ = false;
            onStopped = std::move(handlers_.onStopped);
            handlers_ = {};
        }
        if (onStopped) onStopped(reason);
    });
}

bool FakeAudioCapture::isRunning() const {
    std::lock_guard guard(lock_);
    return running_;
}

std::vector<FakeAudioCapture::Format> FakeAudioCapture::formats() const {
    std::lock_guard guard(lock_);
    return formats_;
}

std::size_t FakeAudioCapture::stopCount() const {
    std::lock_guard guard(lock_);
    return stopCount_;
}

} // namespace Testing
