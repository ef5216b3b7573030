// What the listener reports, turned into session state, sentences and the channel discipline:
// every packet kind only on its channel and in its phase.
#include "app/capture/CaptureProbe.h"
#include "app/shell/StopSentences.h"
#include "app/shell/StreamingSession.h"
#include "app/trace/TraceLog.h"
#include "base/MainActor.h"
#include "core/InputEvent.h"
#include "core/TransferMessage.h"
#include "net/channel/PairingExchange.h"
#include "net/channel/SelfSignedCertificate.h"

namespace Plovander {
namespace {

using Phase = TessaloyNet::HostSessionState::Phase;
using StopReason = TessaloyNet::HostSessionState::StopReason;
using TessaloyCore::ChannelRole;
using TessaloyCore::WirePacket;

std::string roleName(ChannelRole role) { return TessaloyCore::nameOf(role); }

} // namespace

void StreamingSession::hop(const std::weak_ptr<TessaloyNet::LANHostListener>& from, ListenerEvent event) {
    const auto listener = from.lock();
    if (!listener || listener != listener_) {
        TraceLog::message([&] { return "ignored " + event.traceDescription() + " from a retired listener"; });
        return;
    }
    handleListenerEvent(event);
}

void StreamingSession::handleListenerEvent(const ListenerEvent& event) {
    if (!std::holds_alternative<ListenerEvent::Received>(event.value)) {
        TraceLog::message([&] {
            return "event=" + event.traceDescription() + " phase=" + state_.phase().description() +
                   " offer=" + (state_.offer() ? "true" : "false");
        });
    }
    std::visit(
        [this](const auto& value) {
            using Case = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Case, ListenerEvent::Advertising>) {
                if (acceptsPairedDevices_) {
                    unattended_.listening();
                    setPhaseDescription("Waiting for a paired device.");
                } else {
                    setPhaseDescription("Waiting for a device on this network.");
                }
            } else if constexpr (std::is_same_v<Case, ListenerEvent::Attempting>) {
                try {
                    state_.beginHandshake(actor_.now());
                } catch (const TessaloyNet::PairingOffer::Rejection& rejection) {
                    TraceLog::message([&] { return std::string("attempt refused: ") + rejection.caseName(); });
                    stopSharing(StopReason::offerExpired());
                } catch (const TessaloyNet::HostSessionState::Transition& transition) {
                    TraceLog::message([&] { return std::string("late attempt ignored: ") + transition.caseName(); });
                }
            } else if constexpr (std::is_same_v<Case, ListenerEvent::Authenticated>) {
                listenerAuthenticated(value);
            } else if constexpr (std::is_same_v<Case, ListenerEvent::Rejected>) {
                if (auto sentence = rejectionMessage(value.reason, isAdvertising_))
                    setLastRejection(std::move(sentence));
            } else if constexpr (std::is_same_v<Case, ListenerEvent::Received>) {
                received(value.packet, value.role);
            } else if constexpr (std::is_same_v<Case, ListenerEvent::PeerDisconnected>) {
                // A channel that never became part of the session (one that was refused) ends alone.
                if (value.channel && value.channel != controlChannel_ && !isSessionMedia(*value.channel)) return;
                stopSharing(value.error ? StopReason::failed(*value.error) : StopReason::peerDisconnected());
            } else if constexpr (std::is_same_v<Case, ListenerEvent::Stopped>) {
                listenerStopped(value.error);
            } else {
                // Without service discovery the listener still listens; devices that know the
                // address still reach it. The trace line above says so.
                static_assert(std::is_same_v<Case, ListenerEvent::DiscoveryUnavailable>);
            }
        },
        event.value);
}

void StreamingSession::listenerAuthenticated(const ListenerEvent::Authenticated& event) {
    if (event.role == ChannelRole::control) {
        controlAuthenticated(event.channel);
    } else {
        mediaAuthenticated(event.channel, event.peerName);
    }
}

void StreamingSession::controlAuthenticated(const std::shared_ptr<TessaloyNet::PacketChannel>& channel) {
    if (belongsToAnotherDevice(*channel)) {
        TraceLog::message("refused a control channel of another device while a session runs");
        channel->close("Another device is connected to this Mac.");
        return;
    }
    controlChannel_ = channel;
    cursorModeStarting_ = false;
    capture_.audio().setDestination(
        [weak = std::weak_ptr<TessaloyNet::PacketChannel>(channel)](TessaloyCore::WirePacket packet) {
            if (const auto live = weak.lock()) live->sendDroppable(std::move(packet), audioPacketsInFlight);
        });
    TraceLog::message("control channel attached");
    sendReachabilityInfo();
}

bool StreamingSession::isSessionMedia(const TessaloyNet::PacketChannel& channel) const {
    const auto media = sender_ ? sender_->channel().lock() : nullptr;
    return media && media.get() == &channel;
}

bool StreamingSession::belongsToAnotherDevice(const TessaloyNet::PacketChannel& channel) const {
    if (!sender_) return false;
    const auto key = channel.peerPublicKey();
    return !key || !sessionPeerKey_ || !TessaloyNet::SelfSignedCertificate::matches(*key, *sessionPeerKey_);
}

void StreamingSession::mediaAuthenticated(const std::shared_ptr<TessaloyNet::PacketChannel>& channel,
                                          const std::string& peerName) {
    // One session at a time: a second media channel while a session has its sender would leave
    // that sender streaming with nobody holding it. The newcomer is refused; a device that lost
    // its connection comes back once the old one has timed out.
    if (sender_) {
        TraceLog::message([&] { return "refused a media channel from " + peerName + " while a session runs"; });
        channel->close("Another device is connected to this Mac.");
        return;
    }
    const auto makeSender = [&] {
        sender_ = std::make_shared<TessaloyNet::VideoSender>(
            channel, std::make_shared<TessaloyNet::VideoSendQueue>(pendingFramesLimit, pendingBytesLimit));
        sessionPeerKey_ = channel->peerPublicKey();
    };
    std::optional<TessaloyNet::PairedDevice> known;
    if (const auto key = channel->peerPublicKey()) {
        try {
            known = trusted_.device(*key);
        } catch (const std::exception&) {
            // An unreadable store trusts nobody.
        }
    }
    if (known) {
        pendingPeerKey_ = known->publicKey;
        pendingPeerIsKnown_ = true;
        try {
            trusted_.markSeen(known->publicKey, actor_.now());
        } catch (const std::exception& error) {
            TraceLog::message([&] { return "could not record last-seen for " + known->name + ": " + error.what(); });
        }
        reloadPairedDevices();
        makeSender();
        setAcceptsPairedDevices(false);
        updateSleepGuard();
        if (listener_) listener_->stopAdvertising(std::chrono::duration<double>(acceptanceWindowSeconds));
        admitPairedDevice(*known);
        return;
    }
    if (!state_.phase().is<Phase::Offering>()) {
        TraceLog::message("handshake refused by the state machine: notOffering");
        channel->close();
        stopSharing(StopReason::offerExpired());
        return;
    }
    state_.handshakeSucceeded(peerName);
    TraceLog::awaitingApproval();
    if (listener_) listener_->stopAdvertising(std::chrono::duration<double>(acceptanceWindowSeconds));
    setAdvertising(false);
    makeSender();
    setPendingPeerName(peerName);
    setPairingCode(std::nullopt);
    setPhaseDescription("A device is asking to connect.");
}

void StreamingSession::listenerStopped(const std::optional<std::string>& error) {
    if (acceptsPairedDevices_ && !isSharing_) {
        unattended_.failed();
        const std::string description = error.value_or("The listener stopped.");
        TraceLog::message([&] {
            return "unattended listening stopped (" + std::to_string(unattended_.consecutiveFailures()) +
                   "): " + description;
        });
        setLastRejection("This Mac stopped listening for paired devices: " + description + " Retrying.");
        stopSharing(StopReason::failed(description));
    } else if (isSharing_ || isAdvertising_ || pendingPeerName_) {
        stopSharing(error ? StopReason::failed(*error) : StopReason::peerDisconnected());
    }
}

void StreamingSession::received(const WirePacket& packet, ChannelRole role) {
    switch (packet.kind()) {
        case WirePacket::Kind::pairingExchange:
            receivedPairingExchange(packet, role);
            break;
        case WirePacket::Kind::input:
            receivedInput(packet, role);
            break;
        case WirePacket::Kind::session:
            receivedSession(packet, role);
            break;
        case WirePacket::Kind::transfer:
            receivedTransfer(packet, role);
            break;
        default:
            break; // Kinds that only travel to the device are dropped without a word.
    }
}

void StreamingSession::receivedPairingExchange(const WirePacket& packet, ChannelRole role) {
    std::optional<TessaloyNet::PairingExchange> exchange;
    try {
        exchange = TessaloyNet::PairingExchange::decode(packet);
    } catch (const std::exception&) {
        return;
    }
    if (role != ChannelRole::media) {
        TraceLog::message([&] { return "ignored a pairing exchange on the " + roleName(role) + " channel"; });
        return;
    }
    if (!state_.phase().is<Phase::AwaitingApproval>()) {
        TraceLog::message("ignored a pairing exchange outside the approval stage");
        return;
    }
    if (pendingPeerKey_) {
        TraceLog::message("ignored a repeated pairing exchange");
        return;
    }
    pendingPeerKey_ = exchange->publicKey();
    pendingPeerIsKnown_ = trusted_.isTrusted(exchange->publicKey());
    setPendingPeerName(exchange->name());
    TraceLog::message([&] {
        return "pairing exchange from " + exchange->name() + ", known=" + (pendingPeerIsKnown_ ? "true" : "false");
    });
}

void StreamingSession::receivedInput(const WirePacket& packet, ChannelRole role) {
    using TessaloyCore::InputEvent;
    if (role != ChannelRole::control) {
        TraceLog::message([&] { return "ignored an input event on the " + roleName(role) + " channel"; });
        return;
    }
    if (!isSharing_ || !allowsRemoteControl_ || !state_.phase().is<Phase::Streaming>()) return;
    std::optional<InputEvent> decoded;
    try {
        decoded = InputEvent::decode(packet);
    } catch (const std::exception&) {
        TraceLog::message("rejected a malformed input event");
        return;
    }
    InputEvent& event = *decoded;
    if (event.is<InputEvent::EnableLocalCursor>()) {
        startLocalPointerMode();
        return;
    }
    if (const auto* tracked = std::get_if<InputEvent::TrackedPointerMove>(&event.value)) {
        const auto bounds = sharedDisplayBounds();
        if (!localCursorEnabled_ || !controlChannel_) return;
        // The device matches the sequence number to its own prediction of the pointer.
        input_->post(event, [weak = std::weak_ptr<TessaloyNet::PacketChannel>(controlChannel_),
                             sequence = tracked->sequence, bounds](Platform::Events::Point point) {
            const auto channel = weak.lock();
            if (!channel || !bounds) return;
            if (auto update = cursorUpdate(sequence, point, *bounds)) channel->sendDirect(std::move(*update));
        });
        return;
    }
    input_->post(std::move(event));
}

void StreamingSession::receivedSession(const WirePacket& packet, ChannelRole role) {
    std::optional<TessaloyCore::SessionMessage> message;
    if (role == ChannelRole::control && controlChannel_) {
        try {
            message = TessaloyCore::SessionMessage::decode(packet);
        } catch (const std::exception&) {
        }
    }
    if (!message) {
        TraceLog::message([&] { return "ignored a session message on the " + roleName(role) + " channel"; });
        return;
    }
    handleSessionMessage(*message);
}

void StreamingSession::receivedTransfer(const WirePacket& packet, ChannelRole role) {
    if (role != ChannelRole::media || !isSharing_ || !state_.phase().is<Phase::Streaming>()) {
        TraceLog::message([&] { return "ignored a transfer on the " + roleName(role) + " channel"; });
        return;
    }
    std::optional<TessaloyCore::TransferMessage> message;
    try {
        message = TessaloyCore::TransferMessage::decode(packet);
    } catch (const std::exception&) {
        TraceLog::message("rejected a malformed transfer message");
        return;
    }
    transfers_->handle(*message);
}

} // namespace Plovander
