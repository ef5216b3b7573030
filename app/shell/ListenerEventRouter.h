#pragma once

#include "app/shell/SessionContext.h"
#include "core/ChannelRole.h"
#include "core/WirePacket.h"
#include "net/channel/HostListener.h"

#include <memory>
#include <optional>
#include <string>

namespace Plovander {

class InputInjector;
class Reachability;
class SessionApproval;
class SessionAvailability;
class SessionCapture;
class SessionMessages;

// Turns what the listener reports into the session: state changes, sentences, trace lines, and
// the channel discipline (each packet kind only from the session's own channels, on the role it
// belongs to and in the phase where it makes sense). Main actor only.
class ListenerEventRouter {
public:
    using Event = TessaloyNet::HostListener::Event;

    struct Collaborators {
        SessionCapture& sessionCapture;
        SessionMessages& messages;
        SessionApproval& approval;
        SessionAvailability& availability;
        InputInjector& input;
        Reachability& reachability;
    };

    static constexpr std::size_t pendingFramesLimit = 16;
    static constexpr std::size_t pendingBytesLimit = 8'388'608;
    static constexpr double acceptanceWindowSeconds = 10.0;
    static constexpr int audioPacketsInFlight = 8;

    ListenerEventRouter(const SessionContext& context, Collaborators collaborators);

    void handle(const Event& event);

private:
    void attempting();
    void authenticated(const Event::Authenticated& event);
    void mediaAuthenticated(const std::shared_ptr<TessaloyNet::PacketChannel>& channel, const std::string& peerName);
    void controlAuthenticated(const std::shared_ptr<TessaloyNet::PacketChannel>& channel);
    // Closes the control channel when the session's media channel has not come by the deadline.
    void awaitMediaChannel();
    void makeSender(const std::shared_ptr<TessaloyNet::PacketChannel>& channel);
    void stopAdvertising();
    void peerDisconnected(const Event::PeerDisconnected& event);
    void listenerStopped(const std::optional<std::string>& error);
    void received(const Event::Received& event);
    void receivedPairingExchange(const TessaloyCore::WirePacket& packet, TessaloyCore::ChannelRole role);
    void receivedInput(const TessaloyCore::WirePacket& packet, TessaloyCore::ChannelRole role);
    void receivedSession(const TessaloyCore::WirePacket& packet, TessaloyCore::ChannelRole role);
    void receivedTransfer(const TessaloyCore::WirePacket& packet, TessaloyCore::ChannelRole role);

    SessionContext c_;
    Collaborators own_;
};

} // namespace Plovander
