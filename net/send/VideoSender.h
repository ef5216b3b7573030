#pragma once

#include "base/SerialQueue.h"
#include "core/WirePacket.h"
#include "net/channel/PacketChannel.h"
#include "net/send/VideoSendQueue.h"
#include "net/transfer/TransferOutbox.h"

#include <cstddef>
#include <memory>
#include <optional>

namespace TessaloyNet {

// Feeds one media channel: encoded video from its VideoSendQueue, with the packets of its
// TransferOutbox in between.
//
//   capture queue  --send()-->            VideoSendQueue --+
//                                                             +--> packet source --> PacketChannel
//   main actor     --enqueue()/send()-->  TransferOutbox ----+     (channel queue)
//
// The channel is held weakly: once it is gone every call does nothing. The outbox lives exactly as
// long as the sender; a packet source left in the channel by a destroyed sender gives nothing.
//
// Interleaving: the source gives a video packet whenever one is waiting and a transfer packet
// otherwise, except that after `videoPacketsPerTransferPacket` video packets in a row it asks the
// outbox first, so a stream that keeps the video queue full never starves the transfers. Each pull
// gives one packet and a transfer packet holds at most one chunk, so a waiting video packet is
// delayed by at most one chunk.
class VideoSender {
public:
    static constexpr std::size_t videoPacketsPerTransferPacket = 8;

    // The outbox reads ahead on `readAhead`.
    VideoSender(std::shared_ptr<PacketChannel> channel, std::shared_ptr<VideoSendQueue> queue,
                TransferOutbox::Worker readAhead = TessaloyBase::runBlocking);
    ~VideoSender();
    VideoSender(const VideoSender&) = delete;
    VideoSender& operator=(const VideoSender&) = delete;

    // Created with the sender and kept for its whole life; the host side reaches it through here.
    TransferOutbox& transfers() const noexcept { return *state_->transfers; }
    // The queue the sender was made with: its fill holds the capture back and drives the bitrate.
    std::shared_ptr<VideoSendQueue> queue() const noexcept { return state_->queue; }
    // The media channel, held weakly as by the sender itself; for its round trips.
    std::weak_ptr<PacketChannel> channel() const noexcept { return channel_; }

    // Makes the channel pull from this sender.
    void attach();
    // From the capture side: queues one video packet and resumes the channel. Returns whether the
    // packet was queued; throws as VideoSendQueue::push.
    bool send(TessaloyCore::WirePacket packet);
    // Sends at once on the channel, ahead of queued video.
    void sendControl(TessaloyCore::WirePacket packet);
    // Empties the video queue and the outbox; with a packet (the end of the session), sends it at
    // once and then closes the channel, which lets that packet out first.
    void stop(std::optional<TessaloyCore::WirePacket> sending = std::nullopt);

private:
    struct State {
        std::shared_ptr<VideoSendQueue> queue;
        std::shared_ptr<TransferOutbox> transfers;
        // Touched only by the packet source, on the channel's queue.
        std::size_t videoInARow = 0;

        std::optional<TessaloyCore::WirePacket> nextPacket();
    };

    std::shared_ptr<PacketChannel> lockChannel() const { return channel_.lock(); }

    const std::weak_ptr<PacketChannel> channel_;
    const std::shared_ptr<State> state_;
};

} // namespace TessaloyNet
