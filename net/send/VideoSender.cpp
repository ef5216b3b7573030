#include "net/send/VideoSender.h"

#include "base/SerialQueue.h"

#include <stdexcept>
#include <utility>

namespace TessaloyNet {

using TessaloyCore::WirePacket;

VideoSender::VideoSender(std::shared_ptr<PacketChannel> channel, std::shared_ptr<VideoSendQueue> queue,
                         TransferOutbox::Worker readAhead)
    : channel_(channel),
      state_(std::make_shared<State>(State{std::move(queue), std::make_shared<TransferOutbox>(std::move(readAhead))})) {
    if (!channel || !state_->queue) throw std::invalid_argument("a video sender needs a channel and a queue");
    state_->transfers->onWork = [weakChannel = channel_] {
        if (const auto live = weakChannel.lock()) live->resumeSending();
    };
}

VideoSender::~VideoSender() = default;

void VideoSender::attach() {
    const auto channel = lockChannel();
    if (!channel) return;
    TessaloyBase::SerialQueue* const channelQueue = &channel->queue();
    // The channel owns the source, so its queue outlives every call of it; the sender may not.
    channel->setPacketSource([weakState = std::weak_ptr<State>(state_), channelQueue]() -> std::optional<WirePacket> {
        channelQueue->assertCurrent();
        const auto state = weakState.lock();
        if (!state) return std::nullopt;
        return state->nextPacket();
    });
    // Whatever was queued before the channel pulled.
    channel->resumeSending();
}

bool VideoSender::send(WirePacket packet) {
    if (!state_->queue->push(std::move(packet))) return false;
    if (const auto channel = lockChannel()) channel->resumeSending();
    return true;
}

void VideoSender::sendControl(WirePacket packet) {
    if (const auto channel = lockChannel()) channel->sendDirect(std::move(packet));
}

void VideoSender::stop(std::optional<WirePacket> sending) {
    state_->queue->reset();
    state_->transfers->removeAll();
    if (!sending) return;
    if (const auto channel = lockChannel()) {
        channel->sendDirect(std::move(*sending));
        channel->close();
    }
}

std::optional<WirePacket> VideoSender::State::nextPacket() {
    if (videoInARow < videoPacketsPerTransferPacket) {
        if (auto video = queue->pop()) {
            ++videoInARow;
            return video;
        }
    }
    if (auto transfer = transfers->nextPacket()) {
        videoInARow = 0;
        return transfer;
    }
    // Nothing for the transfers: video goes on, and the outbox is asked first again next time.
    if (auto video = queue->pop()) return video;
    videoInARow = 0;
    return std::nullopt;
}

} // namespace TessaloyNet
