#pragma once

#include "platform/AudioCapture.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

namespace Platform::Linux {

// Records the monitor of the default sink ("@DEFAULT_MONITOR@") with PulseAudio's threaded main loop
// (PipeWire's PulseAudio server answers too). Each start opens its own connection; the loop thread
// copies each chunk into a bounded handover and the queue takes it from there.
class PulseAudioCapture final : public AudioCapture {
public:
    // About 10 ms each, so a stalled queue holds at most about a third of a second of sound.
    static constexpr std::size_t maximumPendingChunks = 32;
    static constexpr std::chrono::milliseconds chunkDuration{10};
    // How long start() waits for the server before it gives up.
    static constexpr std::chrono::seconds startTimeout{5};

    PulseAudioCapture(TessaloyBase::SerialQueue& queue, std::string server);
    ~PulseAudioCapture() override;

    void start(Format format, Handlers handlers) override;
    void stop() override;
    std::uint64_t droppedChunks() const override;

private:
    class Handover;
    class Connection;

    TessaloyBase::SerialQueue& queue_;
    const std::string server_;
    mutable std::mutex lock_;
    std::unique_ptr<Connection> connection_; // guarded by lock_
    std::shared_ptr<Handover> handover_;     // guarded by lock_; kept after stop for droppedChunks()
};

} // namespace Platform::Linux
