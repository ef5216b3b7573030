#include "app/shell/ListenerEventRouter.h"

#include "app/capture/CaptureProbe.h"
#include "app/services/InputInjector.h"
#include "app/services/Reachability.h"
#include "app/shell/SessionApproval.h"
#include "app/shell/SessionAvailability.h"
#include "app/shell/SessionCapture.h"
#include "app/shell/SessionEffects.h"
#include "app/shell/SessionLink.h"
#include "app/shell/SessionMessages.h"
#include "app/shell/SessionModel.h"
#include "app/shell/StopSentences.h"
#include "app/trace/TraceLog.h"
#include "app/transfers/HostTransfers.h"
#include "base/MainActor.h"
#include "core/InputEvent.h"
#include "core/TransferMessage.h"
#include "net/channel/PairedDeviceStore.h"
#include "net/channel/PairingExchange.h"
#include "net/channel/RefusalReason.h"
#include "platform/Environment.h"

namespace Plovander {
namespace {

using Phase = TessaloyNet::HostSessionState::Phase;
using StopReason = TessaloyNet::HostSessionState::StopReason;
using TessaloyCore::ChannelRole;
using TessaloyCore::WirePacket;

std::string roleName(ChannelRole role) { return TessaloyCore::nameOf(role); }

} // namespace

ListenerEventRouter::ListenerEventRouter(const SessionContext& context, Collaborators collaborators)
    : c_(context), own_(std::move(collaborators)) {}

void ListenerEventRouter::handle(const Event& event) {
    const auto line = [&] {
        return "event=" + event.traceDescription() + " phase=" + c_.link.state.phase().description() +
               " offer=" + (c_.link.state.offer() ? "true" : "false");
    };
    if (const auto* rejected = std::get_if<Event::Rejected>(&event.value)) {
        // Anyone who can connect can be refused: a count per reason keeps them from flooding the trace.
        TraceLog::coalesced(rejected->reason, line);
    } else if (!std::holds_alternative<Event::Received>(event.value)) {
        TraceLog::message(line);
    }
    std::visit(
        [this](const auto& value) {
            using Case = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<Case, Event::Advertising>) {
                own_.reachability.listenerListens();
                if (c_.model.acceptsPairedDevices) {
                    own_.availability.listening();
                    c_.model.phaseDescription.set("Waiting for a paired device.");
                } else {
                    c_.model.phaseDescription.set("Waiting for a device on this network.");
                }
            } else if constexpr (std::is_same_v<Case, Event::Attempting>) {
                attempting();
            } else if constexpr (std::is_same_v<Case, Event::Authenticated>) {
                authenticated(value);
            } else if constexpr (std::is_same_v<Case, Event::Rejected>) {
                if (auto sentence = rejectionMessage(value.reason, c_.model.isAdvertising)) {
                    c_.model.lastRejection.set(std::move(sentence));
                }
            } else if constexpr (std::is_same_v<Case, Event::Received>) {
                received(value);
            } else if constexpr (std::is_same_v<Case, Event::PeerDisconnected>) {
                peerDisconnected(value);
            } else if constexpr (std::is_same_v<Case, Event::Stopped>) {
                listenerStopped(value.error);
            } else {
                // Without service discovery the listener still listens; devices that know the
                // address still reach it. The trace line above says so.
                static_assert(std::is_same_v<Case, Event::DiscoveryUnavailable>);
            }
        },
        event.value);
}

void ListenerEventRouter::attempting() {
    try {
        c_.link.state.beginHandshake(c_.environment.mainActor().now());
    } catch (const TessaloyNet::PairingOffer::Rejection& rejection) {
        TraceLog::message([&] { return std::string("attempt refused: ") + rejection.caseName(); });
        own_.availability.stopSharing(StopReason::offerExpired());
    } catch (const TessaloyNet::HostSessionState::Transition& transition) {
        TraceLog::message([&] { return std::string("late attempt ignored: ") + transition.caseName(); });
    }
}

void ListenerEventRouter::authenticated(const Event::Authenticated& event) {
    if (event.role == ChannelRole::control) {
        controlAuthenticated(event.channel);
    } else {
        mediaAuthenticated(event.channel, event.peerName);
    }
}

void ListenerEventRouter::controlAuthenticated(const std::shared_ptr<TessaloyNet::PacketChannel>& channel) {
    if (!c_.link.admitsDeviceOf(*channel)) {
        TraceLog::message("refused a control channel of another device");
        channel->close("Another device is connected to this Mac.");
        return;
    }
    // One control channel per session: the one it replaces ends, so a device that reconnects
    // again and again holds one connection, not one per attempt.
    if (c_.link.controlChannel && c_.link.controlChannel != channel) c_.link.controlChannel->close();
    c_.link.controlChannel = channel;
    c_.link.cursorModeStarting = false;
    c_.capture.audio().setDestination(
        [weak = std::weak_ptr<TessaloyNet::PacketChannel>(channel)](TessaloyCore::WirePacket packet) {
            if (const auto live = weak.lock()) live->sendDroppable(std::move(packet), audioPacketsInFlight);
        });
    TraceLog::message("control channel attached");
    own_.messages.sendReachabilityInfo();
    if (!c_.link.sender) awaitMediaChannel();
}

void ListenerEventRouter::awaitMediaChannel() {
    // A device that opens only its control channel would keep every other one out.
    c_.link.mediaDeadline =
        c_.environment.mainActor().after(TessaloyNet::HostListener::handshakeDeadline, c_.lifetime.guard([this] {
            const auto lone = c_.link.dropLoneControlChannel();
            if (!lone) return;
            TraceLog::message("closed a control channel whose media channel did not come in time");
            lone->close(std::string(TessaloyNet::RefusalReason::handshakeTooSlow));
        }));
}

void ListenerEventRouter::makeSender(const std::shared_ptr<TessaloyNet::PacketChannel>& channel) {
    c_.link.sender = std::make_shared<TessaloyNet::VideoSender>(
        channel, std::make_shared<TessaloyNet::VideoSendQueue>(pendingFramesLimit, pendingBytesLimit));
}

void ListenerEventRouter::stopAdvertising() {
    if (c_.link.listener) c_.link.listener->stopAdvertising(std::chrono::duration<double>(acceptanceWindowSeconds));
}

void ListenerEventRouter::mediaAuthenticated(const std::shared_ptr<TessaloyNet::PacketChannel>& channel,
                                             const std::string& peerName) {
    // One session at a time: a second media channel while a session has its sender would leave
    // that sender streaming with nobody holding it. The newcomer is refused; a device that lost
    // its connection comes back once the old one has timed out. Nor does a device join a control
    // channel of another one.
    if (c_.link.sender || !c_.link.admitsDeviceOf(*channel)) {
        TraceLog::message([&] { return "refused a media channel from " + peerName + " while a session runs"; });
        channel->close("Another device is connected to this Mac.");
        return;
    }
    std::optional<TessaloyNet::PairedDevice> known;
    if (const auto key = channel->peerPublicKey()) {
        try {
            known = c_.trusted.device(*key);
        } catch (const std::exception&) {
            // An unreadable store trusts nobody.
        }
    }
    if (known) {
        c_.link.pendingPeerKey = known->publicKey;
        try {
            c_.trusted.markSeen(known->publicKey, c_.environment.mainActor().now());
        } catch (const std::exception& error) {
            TraceLog::message([&] { return "could not record last-seen for " + known->name + ": " + error.what(); });
        }
        c_.model.reloadPairedDevices(c_.trusted);
        makeSender(channel);
        c_.model.acceptsPairedDevices.set(false);
        c_.effects.updateSleepGuard();
        stopAdvertising();
        own_.approval.admitPairedDevice(*known);
        return;
    }
    if (!c_.link.state.phase().is<Phase::Offering>()) {
        TraceLog::message("handshake refused by the state machine: notOffering");
        channel->close();
        own_.availability.stopSharing(StopReason::offerExpired());
        return;
    }
    c_.link.state.handshakeSucceeded(peerName);
    TraceLog::awaitingApproval();
    stopAdvertising();
    c_.model.isAdvertising.set(false);
    makeSender(channel);
    c_.model.pendingPeerName.set(peerName);
    c_.model.clearPairingCode();
    c_.model.phaseDescription.set("A device is asking to connect.");
}

void ListenerEventRouter::peerDisconnected(const Event::PeerDisconnected& event) {
    // A channel that never became part of the session (one that was refused or replaced) ends alone.
    if (event.channel && !c_.link.isOwnChannel(*event.channel)) return;
    own_.availability.stopSharing(event.error ? StopReason::failed(*event.error) : StopReason::peerDisconnected());
}

void ListenerEventRouter::listenerStopped(const std::optional<std::string>& error) {
    if (c_.model.acceptsPairedDevices && !c_.model.isSharing) {
        const std::int64_t failures = own_.availability.listeningFailed();
        const std::string description = error.value_or("The listener stopped.");
        TraceLog::message(
            [&] { return "unattended listening stopped (" + std::to_string(failures) + "): " + description; });
        c_.model.lastRejection.set("This Mac stopped listening for paired devices: " + description + " Retrying.");
        own_.availability.stopSharing(StopReason::failed(description));
    } else if (c_.model.isSharing || c_.model.isAdvertising || c_.model.pendingPeerName.get()) {
        own_.availability.stopSharing(error ? StopReason::failed(*error) : StopReason::peerDisconnected());
    }
}

void ListenerEventRouter::received(const Event::Received& event) {
    // Packets still queued behind a refused or replaced channel are not the session's.
    if (!event.channel || !c_.link.isOwnChannel(*event.channel)) return;
    switch (event.packet.kind()) {
        case WirePacket::Kind::pairingExchange:
            receivedPairingExchange(event.packet, event.role);
            break;
        case WirePacket::Kind::input:
            receivedInput(event.packet, event.role);
            break;
        case WirePacket::Kind::session:
            receivedSession(event.packet, event.role);
            break;
        case WirePacket::Kind::transfer:
            receivedTransfer(event.packet, event.role);
            break;
        default:
            break; // Kinds that only travel to the device are dropped without a word.
    }
}

void ListenerEventRouter::receivedPairingExchange(const WirePacket& packet, ChannelRole role) {
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
    if (!c_.link.state.phase().is<Phase::AwaitingApproval>()) {
        TraceLog::message("ignored a pairing exchange outside the approval stage");
        return;
    }
    if (c_.link.pendingPeerKey) {
        TraceLog::message("ignored a repeated pairing exchange");
        return;
    }
    c_.link.pendingPeerKey = exchange->publicKey();
    const bool known = c_.trusted.isTrusted(exchange->publicKey());
    c_.model.pendingPeerName.set(exchange->name());
    TraceLog::message(
        [&] { return "pairing exchange from " + exchange->name() + ", known=" + (known ? "true" : "false"); });
}

void ListenerEventRouter::receivedInput(const WirePacket& packet, ChannelRole role) {
    using TessaloyCore::InputEvent;
    if (role != ChannelRole::control) {
        TraceLog::message([&] { return "ignored an input event on the " + roleName(role) + " channel"; });
        return;
    }
    if (!c_.model.isSharing || !c_.model.allowsRemoteControl || !c_.link.isStreaming()) return;
    std::optional<InputEvent> decoded;
    try {
        decoded = InputEvent::decode(packet);
    } catch (const std::exception&) {
        TraceLog::message("rejected a malformed input event");
        return;
    }
    InputEvent& event = *decoded;
    if (event.is<InputEvent::EnableLocalCursor>()) {
        own_.messages.startLocalPointerMode();
        return;
    }
    if (const auto* tracked = std::get_if<InputEvent::TrackedPointerMove>(&event.value)) {
        const auto bounds = own_.sessionCapture.sharedDisplayBounds();
        if (!c_.link.localCursorEnabled || !c_.link.controlChannel) return;
        // The device matches the sequence number to its own prediction of the pointer.
        own_.input.post(event, [weak = std::weak_ptr<TessaloyNet::PacketChannel>(c_.link.controlChannel),
                                sequence = tracked->sequence, bounds](Platform::Events::Point point) {
            const auto channel = weak.lock();
            if (!channel || !bounds) return;
            if (auto update = SessionCapture::cursorUpdate(sequence, point, *bounds)) {
                channel->sendDirect(std::move(*update));
            }
        });
        return;
    }
    own_.input.post(std::move(event));
}

void ListenerEventRouter::receivedSession(const WirePacket& packet, ChannelRole role) {
    std::optional<TessaloyCore::SessionMessage> message;
    if (role == ChannelRole::control && c_.link.controlChannel) {
        try {
            message = TessaloyCore::SessionMessage::decode(packet);
        } catch (const std::exception&) {
        }
    }
    if (!message) {
        TraceLog::message([&] { return "ignored a session message on the " + roleName(role) + " channel"; });
        return;
    }
    own_.messages.handle(*message, c_.link.controlChannel);
}

void ListenerEventRouter::receivedTransfer(const WirePacket& packet, ChannelRole role) {
    if (role != ChannelRole::media || !c_.model.isSharing || !c_.link.isStreaming()) {
        TraceLog::message([&] { return "ignored a transfer on the " + roleName(role) + " channel"; });
        return;
    }
    std::optional<TessaloyCore::TransferMessage> message;
    try {
        message = TessaloyCore::TransferMessage::decode(packet);
    } catch (const std::exception&) {
        TraceLog::message("rejected a malformed transfer message");
        if (const auto id = TessaloyCore::TransferMessage::offerID(packet)) c_.transfers.refuseUnreadableOffer(*id);
        return;
    }
    c_.transfers.handle(std::move(*message));
}

} // namespace Plovander
