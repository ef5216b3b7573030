#pragma once

#include "base/AudioBufferView.h"
#include "base/SerialQueue.h"
#include "core/Bytes.h"
#include "core/WirePacket.h"
#include "media/AacEncoder.h"
#include "platform/AudioCapture.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Plovander {

// The system sound of a session, as AAC in AudioPackets for the control channel.
//
//   PulseAudio ──AudioBufferView──> take() ──AacEncoder──> AudioPacket ──send──> control channel
//   └──────── audio queue "dev.tessaloy.capture-audio" ────────┘
//
// `lock_` guards `send`, `destinationGeneration`, the quality and the capture, which the main actor changes while
// the audio queue reads them; `send` is called outside the lock. The encoder, the frames waiting for
// a packet and the sequence number belong to the audio queue. A changed quality rebuilds the encoder
// there, at the next buffer; a changed destination generation starts the sequence again at 0.
// Nothing is encoded while sound is disabled or there is nowhere to send it.
class AudioStreamer {
public:
    using Send = std::function<void(TessaloyCore::WirePacket)>;
    using CaptureFactory = std::function<std::shared_ptr<Platform::AudioCapture>(TessaloyBase::SerialQueue&)>;

    struct Quality {
        bool enabled = true;
        int sampleRate = 48'000;
        int channels = 2;
        std::int64_t bitrate = 96'000;

        friend bool operator==(const Quality&, const Quality&) = default;
    };

    // Two 1,024-sample frames: a packet every 43 ms at 48 kHz (85 ms at 24 kHz), which keeps the
    // added latency small while a packet's header stays a small part of it.
    static constexpr std::size_t framesPerPacket = 2;
    // What is recorded; the encoder resamples it to the quality's rate and channel count.
    static constexpr Platform::AudioCapture::Format captureFormat{48'000, 2};

    // Starts with sound on at the full quality mode's settings and no destination.
    AudioStreamer(TessaloyBase::SerialQueue& queue, CaptureFactory makeCapture);
    // Stops recording first.
    ~AudioStreamer();
    AudioStreamer(const AudioStreamer&) = delete;
    AudioStreamer& operator=(const AudioStreamer&) = delete;

    // Any thread. Replaces `send` and bumps `destinationGeneration` under the lock, so the next
    // packet goes to the new destination and starts its sequence at 0. A null `send` sends nothing.
    void setDestination(Send send);
    // Any thread. Replaces `send` alone, keeping the sequence.
    void setSend(Send send);
    void setQuality(bool enabled, int sampleRate, int channels, std::int64_t bitrate);
    std::uint64_t destinationGeneration() const;
    Quality quality() const;

    // Blocking, off the main actor, from one thread at a time: start recording (throws
    // AudioCaptureError, or std::runtime_error when no capture can be made) and stop it. Starting a
    // running streamer does nothing; `onStopped` (on the audio queue) hears of an end on its own.
    void start(std::function<void(const std::string& reason)> onStopped = {});
    void stop();
    bool isCapturing() const;

private:
    // Audio queue: one captured buffer.
    void take(const TessaloyBase::AudioBufferView& buffer);
    void sendPackets(const Send& send);

    TessaloyBase::SerialQueue& queue_;
    const CaptureFactory makeCapture_;

    mutable std::mutex lock_;
    Send send_;
    std::uint64_t destinationGeneration_ = 0;
    Quality quality_;
    std::uint64_t qualityVersion_ = 0;

    // Guarded by lock_, which is not held while it starts or stops.
    std::shared_ptr<Platform::AudioCapture> capture_;

    // Audio queue only.
    std::unique_ptr<TessaloyMedia::AacEncoder> encoder_;
    std::uint64_t encoderVersion_ = 0;
    bool encoderFailed_ = false;
    std::uint64_t sequenceGeneration_ = 0;
    std::uint32_t sequence_ = 0;
    std::vector<TessaloyCore::Bytes> pending_;
};

} // namespace Plovander
