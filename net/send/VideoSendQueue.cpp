#include "net/send/VideoSendQueue.h"

#include "core/ByteReader.h"
#include "core/VideoConfiguration.h"
#include "core/VideoFrame.h"

#include <algorithm>
#include <stdexcept>

namespace TessaloyNet {
namespace {

using TessaloyCore::ByteReader;
using TessaloyCore::WirePacket;

constexpr std::uint8_t keyframeFlag = 1;

struct Header {
    std::uint32_t generation = 0;
    bool isConfiguration = false;
    bool isKeyframe = false;
};

// Reads only the fixed fields in front of the payload; the rest is the encoder's and is not copied.
Header headerOf(const WirePacket& packet) {
    switch (packet.kind()) {
        case WirePacket::Kind::videoConfiguration:
            return TessaloyCore::decodeAs<TessaloyCore::VideoConfiguration>([&] {
                ByteReader reader(packet.payload());
                reader.u8(); // codec
                return Header{reader.u32(), true, false};
            });
        case WirePacket::Kind::videoFrame:
            return TessaloyCore::decodeAs<TessaloyCore::VideoFrame>([&] {
                ByteReader reader(packet.payload());
                const std::uint32_t generation = reader.u32();
                return Header{generation, false, (reader.u8() & keyframeFlag) != 0};
            });
        default:
            throw std::invalid_argument("the video send queue takes only video packets");
    }
}

} // namespace

VideoSendQueue::VideoSendQueue(std::size_t maximumPendingFrames, std::size_t maximumPendingBytes)
    : maximumFrames_(maximumPendingFrames), maximumBytes_(maximumPendingBytes) {
    if (maximumFrames_ < 1 || maximumBytes_ < 1) {
        throw std::invalid_argument("a video send queue needs room for at least one frame and one byte");
    }
}

bool VideoSendQueue::push(WirePacket packet) {
    const Header header = headerOf(packet);
    Entry entry{std::move(packet), header.isConfiguration, header.isKeyframe};

    std::lock_guard guard(lock_);
    if (generation_ && header.generation < *generation_) {
        if (!entry.isConfiguration) countDrop();
        return false;
    }
    if (!generation_ || header.generation > *generation_) {
        // Frames of an older encoder cannot be shown after the new one's configuration.
        dropQueued([](const Entry&) { return true; });
        generation_ = header.generation;
    }

    if (entry.isConfiguration) {
        // A repeated configuration takes the place of the queued one, ahead of the frames needing it.
        const auto queued = std::find_if(entries_.begin(), entries_.end(),
                                         [](const Entry& candidate) { return candidate.isConfiguration; });
        if (queued != entries_.end()) {
            queuedBytes_ -= queued->packet.payload().size();
            queuedBytes_ += entry.packet.payload().size();
            *queued = std::move(entry);
            return true;
        }
        if (!fits(entry) && dropQueued([](const Entry& candidate) { return !candidate.isConfiguration; }) > 0) {
            waitsForKeyframe_ = true;
        }
        add(std::move(entry));
        return true;
    }

    if (!entry.isKeyframe) {
        if (!waitsForKeyframe_ && fits(entry)) {
            add(std::move(entry));
            return true;
        }
        if (!waitsForKeyframe_) {
            dropQueued([](const Entry& candidate) { return !candidate.isConfiguration && !candidate.isKeyframe; });
            waitsForKeyframe_ = true;
        }
        countDrop();
        return false;
    }

    // A keyframe needs nothing before it but the configuration.
    if (!fits(entry)) dropQueued([](const Entry& candidate) { return !candidate.isConfiguration; });
    waitsForKeyframe_ = false;
    add(std::move(entry));
    return true;
}

std::optional<WirePacket> VideoSendQueue::pop() {
    std::lock_guard guard(lock_);
    if (entries_.empty()) return std::nullopt;
    Entry entry = std::move(entries_.front());
    entries_.pop_front();
    if (!entry.isConfiguration) --queuedFrames_;
    queuedBytes_ -= entry.packet.payload().size();
    return std::move(entry.packet);
}

void VideoSendQueue::reset() {
    std::lock_guard guard(lock_);
    entries_.clear();
    queuedFrames_ = 0;
    queuedBytes_ = 0;
    generation_.reset();
    waitsForKeyframe_ = false;
}

VideoSendQueue::Counters VideoSendQueue::counters() const {
    std::lock_guard guard(lock_);
    return Counters{queuedFrames_, queuedBytes_, droppedFrames_, waitsForKeyframe_};
}

TessaloyCore::BitrateController::Observation VideoSendQueue::observation(
    TessaloyCore::BitrateController::Date at, std::optional<TessaloyCore::BitrateController::Seconds> roundTrip) {
    std::lock_guard guard(lock_);
    TessaloyCore::BitrateController::Observation result;
    result.at = at;
    result.queuedFrames = queuedFrames_;
    result.maximumFrames = maximumFrames_;
    result.queuedBytes = queuedBytes_;
    result.maximumBytes = maximumBytes_;
    result.droppedFrames = droppedFrames_ - droppedAtLastObservation_;
    result.roundTrip = roundTrip;
    droppedAtLastObservation_ = droppedFrames_;
    return result;
}

bool VideoSendQueue::fits(const Entry& entry) const {
    const std::size_t frames = queuedFrames_ + (entry.isConfiguration ? 0 : 1);
    const std::size_t bytes = entry.packet.payload().size();
    return frames <= maximumFrames_ && queuedBytes_ <= maximumBytes_ && bytes <= maximumBytes_ - queuedBytes_;
}

void VideoSendQueue::add(Entry entry) {
    if (!entry.isConfiguration) ++queuedFrames_;
    queuedBytes_ += entry.packet.payload().size();
    entries_.push_back(std::move(entry));
}

template <typename Predicate>
std::size_t VideoSendQueue::dropQueued(Predicate drop) {
    std::size_t dropped = 0;
    std::erase_if(entries_, [&](const Entry& entry) {
        if (!drop(entry)) return false;
        if (!entry.isConfiguration) {
            --queuedFrames_;
            countDrop();
            ++dropped;
        }
        queuedBytes_ -= entry.packet.payload().size();
        return true;
    });
    return dropped;
}

} // namespace TessaloyNet
