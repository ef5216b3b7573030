#include "app/capture/AudioStreamer.h"

#include "app/trace/TraceLog.h"
#include "core/AudioPacket.h"
#include "media/MediaError.h"

#include <iterator>
#include <stdexcept>
#include <utility>

namespace Plovander {

AudioStreamer::AudioStreamer(TessaloyBase::SerialQueue& queue, CaptureFactory makeCapture)
    : queue_(queue), makeCapture_(std::move(makeCapture)) {}

AudioStreamer::~AudioStreamer() { stop(); }

void AudioStreamer::setDestination(Send send) {
    std::lock_guard guard(lock_);
    send_ = std::move(send);
    ++destinationGeneration_;
}

void AudioStreamer::setSend(Send send) {
    std::lock_guard guard(lock_);
    send_ = std::move(send);
}

void AudioStreamer::setQuality(bool enabled, int sampleRate, int channels, std::int64_t bitrate) {
    std::lock_guard guard(lock_);
    const Quality quality{enabled, sampleRate, channels, bitrate};
    if (quality == quality_) return;
    quality_ = quality;
    ++qualityVersion_;
}

std::uint64_t AudioStreamer::destinationGeneration() const {
    std::lock_guard guard(lock_);
    return destinationGeneration_;
}

AudioStreamer::Quality AudioStreamer::quality() const {
    std::lock_guard guard(lock_);
    return quality_;
}

void AudioStreamer::start(std::function<void(const std::string& reason)> onStopped) {
    {
        std::lock_guard guard(lock_);
        if (capture_) return;
    }
    std::shared_ptr<Platform::AudioCapture> capture = makeCapture_ ? makeCapture_(queue_) : nullptr;
    if (!capture) throw std::runtime_error("no sound capture on this system");
    // The capture stops before this streamer goes (the destructor stops it), so `this` outlives
    // every handler call.
    capture->start(captureFormat, {[this](const TessaloyBase::AudioBufferView& buffer) { take(buffer); },
                                   [onStopped = std::move(onStopped)](const std::string& reason) {
                                       if (onStopped) onStopped(reason);
                                   }});
    std::lock_guard guard(lock_);
    capture_ = std::move(capture);
}

void AudioStreamer::stop() {
    std::shared_ptr<Platform::AudioCapture> capture;
    {
        std::lock_guard guard(lock_);
        capture = std::move(capture_);
    }
    if (capture) capture->stop();
}

bool AudioStreamer::isCapturing() const {
    std::lock_guard guard(lock_);
    return capture_ != nullptr;
}

void AudioStreamer::take(const TessaloyBase::AudioBufferView& buffer) {
    queue_.assertCurrent();
    Send send;
    std::uint64_t generation = 0;
    Quality quality;
    std::uint64_t version = 0;
    {
        std::lock_guard guard(lock_);
        send = send_;
        generation = destinationGeneration_;
        quality = quality_;
        version = qualityVersion_;
    }
    if (!quality.enabled) {
        encoder_.reset();
        pending_.clear();
        return;
    }
    if (!send) {
        pending_.clear();
        return;
    }
    if (!encoder_ || version != encoderVersion_) {
        // A settings change, or the first buffer: frames of the old settings are not sent.
        if (encoderFailed_ && version == encoderVersion_) return;
        pending_.clear();
        encoder_.reset();
        encoderVersion_ = version;
        encoderFailed_ = false;
        try {
            encoder_ = std::make_unique<TessaloyMedia::AacEncoder>(
                TessaloyMedia::AacEncoder::Settings{quality.sampleRate, quality.channels, quality.bitrate});
        } catch (const TessaloyMedia::MediaError& error) {
            encoderFailed_ = true;
            TraceLog::message([&] { return "Encoder failed: " + error.text(); });
            return;
        }
    }
    if (generation != sequenceGeneration_) {
        sequenceGeneration_ = generation;
        sequence_ = 0;
        pending_.clear();
    }
    try {
        for (TessaloyCore::Bytes& frame : encoder_->encode(buffer)) pending_.push_back(std::move(frame));
    } catch (const TessaloyMedia::MediaError& error) {
        // The next buffer starts a fresh encoder.
        encoder_.reset();
        pending_.clear();
        TraceLog::message([&] { return "Encoder failed: " + error.text(); });
        return;
    }
    sendPackets(send);
}

void AudioStreamer::sendPackets(const Send& send) {
    const auto& settings = encoder_->settings();
    while (pending_.size() >= framesPerPacket) {
        TessaloyCore::AudioPacket packet;
        packet.sequence = sequence_++;
        packet.sampleRate = static_cast<std::uint32_t>(settings.sampleRate);
        packet.channels = static_cast<std::uint8_t>(settings.channels);
        packet.frames.assign(std::make_move_iterator(pending_.begin()),
                             std::make_move_iterator(pending_.begin() + framesPerPacket));
        pending_.erase(pending_.begin(), pending_.begin() + framesPerPacket);
        try {
            send(packet.packet());
        } catch (const std::exception& error) {
            TraceLog::message([&] { return std::string("audio packet not sent: ") + error.what(); });
        }
    }
}

} // namespace Plovander
