#pragma once

#include "net/channel/PacketChannel.h"
#include "net/send/VideoSendQueue.h"
#include "net/send/VideoSender.h"

#include <memory>

namespace Plovander {

// Where a capture sends its video: the session's sender, together with the queue it was made with
// (its fill holds frames back and drives the bitrate) and its media channel (held weakly, read for
// round trips only). VideoSender keeps both private, so whoever makes the sender passes them along.
struct VideoDestination {
    std::shared_ptr<TessaloyNet::VideoSender> sender;
    std::shared_ptr<TessaloyNet::VideoSendQueue> queue;
    std::weak_ptr<TessaloyNet::PacketChannel> channel;
};

} // namespace Plovander
