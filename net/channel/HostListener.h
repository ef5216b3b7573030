#pragma once

#include "core/ChannelRole.h"
#include "core/WirePacket.h"
#include "net/channel/DeviceIdentity.h"
#include "net/channel/PacketChannel.h"
#include "net/channel/PairingOffer.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace TessaloyNet {

// What the session controller needs of a listener for devices: it is started in pairing mode (with
// an offer) or for paired devices, reports what it sees as events, and is stopped. The LAN listener
// is one; connections that arrive another way feed the same events.
class HostListener {
public:
    struct Event {
        // Listening on `port`; the service is being published when asked for.
        struct Advertising {
            std::uint16_t port = 0;
        };
        // Pairing mode: a client began a handshake against the code.
        struct Attempting {};
        // A connection passed TLS and declared its role. Its packets arrive as `received` from now
        // on; its end as `peerDisconnected`.
        struct Authenticated {
            std::shared_ptr<PacketChannel> channel;
            std::string peerName;
            TessaloyCore::ChannelRole role;
        };
        struct Rejected {
            std::string reason;
        };
        // A packet on an authenticated channel; `channel` is the one it came on, so the controller
        // can drop what arrives on channels that are not its session's.
        struct Received {
            TessaloyCore::WirePacket packet;
            TessaloyCore::ChannelRole role;
            std::shared_ptr<PacketChannel> channel;
        };
        // An authenticated channel closed; no error for a normal close.
        struct PeerDisconnected {
            std::optional<std::string> error;
            // The channel that ended, so a controller can tell its session's channels from others.
            std::shared_ptr<PacketChannel> channel;
        };
        // The last event: stop() was called (no error) or listening failed.
        struct Stopped {
            std::optional<std::string> error;
        };
        // No DNS-SD daemon answers (or it refused the service): the listener keeps listening,
        // unannounced. Reported once until the service gets published.
        struct DiscoveryUnavailable {
            std::string reason;
        };
        using Value = std::variant<Advertising, Attempting, Authenticated, Rejected, Received, PeerDisconnected,
                                   Stopped, DiscoveryUnavailable>;

        Value value;

        // One line for the trace, the case name with its payload:
        //   advertising(port: 55801)
        //   attempting
        //   authenticated(peerName: "Anna's phone", role: media)
        //   rejected(reason: "Too many connections are being attempted at once.")
        //   received(kind: session, role: control, bytes: 12)
        //   peerDisconnected(error: nil)   or   peerDisconnected(error: "…")
        //   stopped(error: nil)            or   stopped(error: "…")
        //   discoveryUnavailable(reason: "…")
        std::string traceDescription() const;
    };
    using EventHandler = std::function<void(Event)>;

    // How long a device has to connect: TLS and the role of each channel, and the session's media
    // channel after its control channel.
    static constexpr std::chrono::seconds handshakeDeadline{5};

    virtual ~HostListener() = default;

    // Starts listening on `port` (0: any free port), in pairing mode with `offer`, for paired devices
    // without. `displayName` is this Mac's name to devices; `hostKey` its long-term identity. With
    // `advertisesService` the service is published. `events` is called on the listener's own queue,
    // one event at a time; `stopped` is the last. Only the first call counts.
    virtual void start(std::optional<PairingOffer> offer, std::string displayName, const DeviceIdentity& hostKey,
                       std::uint16_t port, bool advertisesService, EventHandler events) = 0;
    // Stops and reports `stopped`, by which time the port is free; closes every channel.
    virtual void stop() = 0;
    // Withdraws the service at once and keeps accepting for `acceptanceWindow`.
    virtual void stopAdvertising(std::chrono::duration<double> acceptanceWindow) = 0;
    // The port listened on; 0 until listening.
    virtual std::uint16_t port() const noexcept = 0;
};

} // namespace TessaloyNet
