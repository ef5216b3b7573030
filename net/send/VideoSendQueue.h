#pragma once

#include "core/BitrateController.h"
#include "core/WirePacket.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace TessaloyNet {

// The bounded queue of encoded video between the capture queue (push) and the media channel's
// queue (pop); safe from any thread, guarded by one lock.
//
// It holds `videoConfiguration` and `videoFrame` packets of one stream generation at a time:
//  - a packet of a newer generation than any seen starts that generation and drops everything
//    queued of older ones; a packet of an older generation is dropped;
//  - when a push would go over either cap, the queued delta frames are dropped and the queue waits
//    for a keyframe: deltas pushed meanwhile are dropped too, since they could not be decoded;
//  - configurations and keyframes always get in. A keyframe that does not fit replaces every queued
//    frame (it makes them useless), and alone it is taken even when larger than the byte cap, so a
//    stream can always restart. A configuration replaces a queued one of its generation.
// So the queue never holds more than one configuration and either at most the caps or a single
// keyframe.
class VideoSendQueue {
public:
    struct Counters {
        std::size_t queuedFrames = 0; // `videoFrame` packets
        std::size_t queuedBytes = 0;  // payload bytes of every queued packet
        std::uint64_t droppedFrames = 0;
        bool waitsForKeyframe = false;

        friend bool operator==(const Counters&, const Counters&) = default;
    };

    // Throws std::invalid_argument unless both caps are at least 1.
    VideoSendQueue(std::size_t maximumPendingFrames, std::size_t maximumPendingBytes);
    VideoSendQueue(const VideoSendQueue&) = delete;
    VideoSendQueue& operator=(const VideoSendQueue&) = delete;

    // Returns whether the packet was queued (false: dropped and, for a frame, counted). Throws
    // std::invalid_argument for a packet of another kind, and the codec's error for a payload too
    // short to carry its generation.
    bool push(TessaloyCore::WirePacket packet);
    // The oldest queued packet; nothing when empty.
    std::optional<TessaloyCore::WirePacket> pop();
    // Empties the queue and forgets the generation and the keyframe wait; drops are not counted.
    void reset();

    std::size_t maximumPendingFrames() const noexcept { return maximumFrames_; }
    std::size_t maximumPendingBytes() const noexcept { return maximumBytes_; }
    Counters counters() const;

    // A look at the queue for the bitrate controller: its fill now and the frames dropped since the
    // previous observation. `roundTrip` is the channel's latest round-trip sample, if any.
    TessaloyCore::BitrateController::Observation observation(
        TessaloyCore::BitrateController::Date at, std::optional<TessaloyCore::BitrateController::Seconds> roundTrip);

private:
    struct Entry {
        TessaloyCore::WirePacket packet;
        bool isConfiguration = false;
        bool isKeyframe = false;
    };

    bool fits(const Entry& entry) const;
    void add(Entry entry);
    // Removes the queued entries that `drop` selects; counts and returns the frames among them.
    template <typename Predicate>
    std::size_t dropQueued(Predicate drop);
    void countDrop() { ++droppedFrames_; }

    const std::size_t maximumFrames_;
    const std::size_t maximumBytes_;

    mutable std::mutex lock_;
    std::deque<Entry> entries_;
    std::size_t queuedFrames_ = 0;
    std::size_t queuedBytes_ = 0;
    std::uint64_t droppedFrames_ = 0;
    std::uint64_t droppedAtLastObservation_ = 0;
    std::optional<std::uint32_t> generation_;
    bool waitsForKeyframe_ = false;
};

} // namespace TessaloyNet
