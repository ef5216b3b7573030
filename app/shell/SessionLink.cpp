#include "app/shell/SessionLink.h"

#include "net/channel/SelfSignedCertificate.h"

#include <utility>

namespace Plovander {

bool SessionLink::isOwnChannel(const TessaloyNet::PacketChannel& channel) const {
    const auto media = sender ? sender->channel().lock() : nullptr;
    return controlChannel.get() == &channel || media.get() == &channel;
}

bool SessionLink::admitsDeviceOf(const TessaloyNet::PacketChannel& channel) {
    const auto key = channel.peerPublicKey();
    if (!sessionPeerKey) {
        sessionPeerKey = key.value_or(TessaloyCore::Bytes{});
        return true;
    }
    return key && TessaloyNet::SelfSignedCertificate::matches(*key, *sessionPeerKey);
}

std::shared_ptr<TessaloyNet::PacketChannel> SessionLink::dropLoneControlChannel() {
    if (sender || !controlChannel) return nullptr;
    sessionPeerKey.reset();
    return std::exchange(controlChannel, nullptr);
}

bool SessionLink::sendOnControl(const TessaloyCore::SessionMessage& message) const {
    if (!controlChannel) return false;
    try {
        controlChannel->sendDirect(message.packet());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace Plovander
