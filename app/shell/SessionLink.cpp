#include "app/shell/SessionLink.h"

#include "net/channel/SelfSignedCertificate.h"

namespace Plovander {

bool SessionLink::isOwnChannel(const TessaloyNet::PacketChannel& channel) const {
    const auto media = sender ? sender->channel().lock() : nullptr;
    return controlChannel.get() == &channel || media.get() == &channel;
}

bool SessionLink::belongsToAnotherDevice(const TessaloyNet::PacketChannel& channel) const {
    if (!sender) return false;
    const auto key = channel.peerPublicKey();
    return !key || !sessionPeerKey || !TessaloyNet::SelfSignedCertificate::matches(*key, *sessionPeerKey);
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
