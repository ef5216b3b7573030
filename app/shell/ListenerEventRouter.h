#pragma once

#include "core/ChannelRole.h"
#include "core/WirePacket.h"
#include "net/channel/HostListener.h"
#include "net/channel/PairedDeviceStore.h"

#include <memory>
#include <optional>
#include <string>

namespace TessaloyBase {
class MainActor;
}

namespace Plovander {

class CaptureProbe;
class HostTransfers;
class InputInjector;
class SessionApproval;
class SessionAvailability;
class SessionCapture;
class SessionEffects;
class SessionMessages;
class SessionModel;
struct SessionLink;

// Turns what the listener reports into the session: state changes, sentences, trace lines, and
// the channel discipline (each packet kind only from the session's own channels, on the role it
// belongs to and in the phase where it makes sense). Main actor only.
class ListenerEventRouter {
public:
    using Event = TessaloyNet::HostListener::Event;

    struct Collaborators {
        TessaloyBase::MainActor& actor;
        SessionModel& model;
        SessionLink& link;
        SessionEffects& effects;
        CaptureProbe& capture;
        SessionCapture& sessionCapture;
        SessionMessages& messages;
        SessionApproval& approval;
        SessionAvailability& availability;
        TessaloyNet::PairedDeviceStore& trusted;
        InputInjector& input;
        HostTransfers& transfers;
    };

    static constexpr std::size_t pendingFramesLimit = 16;
    static constexpr std::size_t pendingBytesLimit = 8'388'608;
    static constexpr double acceptanceWindowSeconds = 10.0;
    static constexpr int audioPacketsInFlight = 8;

    explicit ListenerEventRouter(Collaborators collaborators);

    void handle(const Event& event);

private:
    void attempting();
    void authenticated(const Event::Authenticated& event);
    void mediaAuthenticated(const std::shared_ptr<TessaloyNet::PacketChannel>& channel, const std::string& peerName);
    void controlAuthenticated(const std::shared_ptr<TessaloyNet::PacketChannel>& channel);
    void makeSender(const std::shared_ptr<TessaloyNet::PacketChannel>& channel);
    void stopAdvertising();
    void peerDisconnected(const Event::PeerDisconnected& event);
    void listenerStopped(const std::optional<std::string>& error);
    void received(const Event::Received& event);
    void receivedPairingExchange(const TessaloyCore::WirePacket& packet, TessaloyCore::ChannelRole role);
    void receivedInput(const TessaloyCore::WirePacket& packet, TessaloyCore::ChannelRole role);
    void receivedSession(const TessaloyCore::WirePacket& packet, TessaloyCore::ChannelRole role);
    void receivedTransfer(const TessaloyCore::WirePacket& packet, TessaloyCore::ChannelRole role);

    Collaborators c_;
};

} // namespace Plovander
