#pragma once

#include "base/QueueClock.h"
#include "base/SerialQueue.h"
#include "base/ServiceAdvertiser.h"
#include "core/ChannelRole.h"
#include "core/MacKind.h"
#include "core/WirePacket.h"
#include "net/channel/DeviceIdentity.h"
#include "net/channel/HandshakeAdmission.h"
#include "net/channel/HostListener.h"
#include "net/channel/PacketChannel.h"
#include "net/channel/PairedDeviceStore.h"
#include "net/channel/PairingOffer.h"
#include "net/channel/RefusalReason.h"
#include "net/channel/TlsPacketChannel.h"

#include <asio/ip/tcp.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>

namespace TessaloyNet {

struct LANHostListenerLimits {
    HandshakeAdmissionLimits admission{};
    // To send the first bytes of the TLS hello, from the moment the connection is accepted.
    std::chrono::milliseconds helloDeadline{std::chrono::seconds(1)};
    // To finish TLS and declare the role, from the moment the connection is accepted.
    std::chrono::milliseconds handshakeDeadline{HostListener::handshakeDeadline};
    // Between attempts to accept while accepting fails (out of descriptors and the like).
    std::chrono::milliseconds acceptRetry{std::chrono::milliseconds(100)};
    TlsPacketChannelOptions channel{};
};

// The Mac's listener: accepts TCP connections on one port (IPv6 and IPv4), runs the TLS handshake of
// the mode it was started in, requires each connection to declare its role in its first packet, and
// hands the authenticated channels to the controller. It may publish the DNS-SD service
// "_tessaloy._tcp" meanwhile.
//
// Modes, chosen by start(): with an offer, pairing mode (TLS identities derived from the offer's
// code and salt, `attempting` for every handshake attempt, the salt in the TXT record); without
// one, trusted mode (this Mac's DeviceIdentity, and only clients whose key is in the trust store).
//
// Every refused or broken connection ends alone, with its reason in `rejected`; the listener keeps
// serving. Admission control: see HandshakeAdmission; the pending connection closed to make room
// for another is reported with RefusalReason::tooManyHandshakes. A connection that sends nothing
// within the hello deadline is refused as too slow. When accepting fails, the listener reports it
// once (acceptFailedPrefix + the system's text) and tries again every `acceptRetry` meanwhile.
//
// Threading: runs on its own queue "dev.tessaloy.listener"; `events` is called there, one event at
// a time, in order. Every method is safe from any thread and returns at once.
//
// Lifetime: once stop() has reported `stopped`, no further event comes. Destroying the listener
// stops it without reporting anything; authenticated channels are closed either way.
class LANHostListener final : public HostListener, public std::enable_shared_from_this<LANHostListener> {
public:
    static constexpr const char* queueLabel = "dev.tessaloy.listener";
    using Limits = LANHostListenerLimits;
    // The rejection reasons, stable texts (see RefusalReason): tooManyHandshakes,
    // pairingCodeMismatch (contains "certificate"), notPaired and macKeyRefused (contain "bad
    // certificate"), certificateRequired, handshakeTooSlow ("did not finish connecting"),
    // handshakeIncomplete ("did not complete"), handshakeFailedPrefix + the TLS library's text,
    // pairedDevicesUnreadablePrefix + the store's error, acceptFailedPrefix + the system's text,
    // firstPacketNotRole, unreadableRole, receiveBudgetExceeded, badHeaderPrefix + the WireError's
    // case name, readTimeoutPrefix + seconds + readTimeoutSuffix.
    using Rejection = RefusalReason;

    // Makes the advertiser that publishes the service; called on the listener's queue, with that
    // queue. The product passes the platform's advertiser.
    using AdvertiserFactory = TessaloyBase::ServiceAdvertiser::Factory;

    // The listener and its connections share `trusted` (never null). `macKind`, when known, is advertised
    // under the TXT key "m". `clock` times the limits and the acceptance window; the steady one by
    // default.
    static std::shared_ptr<LANHostListener> create(std::shared_ptr<const PairedDeviceStore> trusted,
                                                   AdvertiserFactory advertisers, Limits limits = {},
                                                   std::optional<TessaloyCore::MacKind> macKind = std::nullopt,
                                                   std::shared_ptr<TessaloyBase::QueueClock> clock = nullptr);
    ~LANHostListener() override;
    LANHostListener(const LANHostListener&) = delete;
    LANHostListener& operator=(const LANHostListener&) = delete;

    // Starts listening on `port` (0: any free port), in pairing mode with `offer`, in trusted mode
    // without. `displayName` is this Mac's name in its certificate and DNS-SD service; `hostKey` is
    // this Mac's long-term identity (its certificate in trusted mode, the TXT "k" in both). With
    // `advertisesService` the service is published. The pairing keys are derived off the queue
    // first (PBKDF2); `advertising(port)` follows once listening. A failure to listen is reported
    // as `stopped(error)`. Only the first call counts.
    void start(std::optional<PairingOffer> offer, std::string displayName, const DeviceIdentity& hostKey,
               std::uint16_t port, bool advertisesService, EventHandler events) override;
    // Stops accepting, withdraws the service, closes every connection and reports `stopped`.
    void stop() override;
    // Withdraws the service at once, keeps accepting for `acceptanceWindow`, then closes acceptance;
    // connections already accepted go on.
    void stopAdvertising(std::chrono::duration<double> acceptanceWindow) override;

    // The port listened on; 0 until listening.
    std::uint16_t port() const noexcept override { return port_.load(); }
    // Connections accepted that have not yet authenticated and declared their role, bridged ones
    // left out.
    int pendingHandshakes() const noexcept { return pendingHandshakes_.load(); }

    // A bridge of this Mac's own (the relay answerer, the VPN relay) hands the listener, over
    // loopback, connections whose real peer it knows and holds to limits of its own. The
    // connection from `source` (a loopback endpoint the bridge bound before connecting) is then
    // not counted by admission control. Call before connecting; one connection uses it up.
    void exemptBridge(asio::ip::tcp::endpoint source);

private:
    struct Connection {
        // Until its first bytes arrive, then the channel.
        std::optional<asio::ip::tcp::socket> socket;
        std::shared_ptr<TlsPacketChannel> channel;
        TessaloyBase::ScheduledCall deadline;
        TessaloyBase::QueueClock::Instant acceptedAt;
        std::optional<TessaloyCore::ChannelRole> role;
    };
    using ConnectionID = std::uint64_t;

    LANHostListener(std::shared_ptr<const PairedDeviceStore> trusted, AdvertiserFactory advertisers, Limits limits,
                    std::optional<TessaloyCore::MacKind> macKind, std::shared_ptr<TessaloyBase::QueueClock> clock);

    // Called from any thread, runs `work` on the queue with the call's arguments, in call order,
    // while the listener lives.
    template <typename Work>
    auto fromAnyThread(Work work);

    // The rest runs on the queue.
    void derivePairingKeys();
    void listen(TlsParameters parameters);
    bool openAcceptor(std::uint16_t port, std::string& problem);
    void acceptNext();
    void accepted(std::error_code error, asio::ip::tcp::socket socket);
    void acceptFailed(std::error_code error);
    // Makes room by closing the connection admission control picks; false when that stopped the
    // listener.
    bool admit(ConnectionID id, const asio::ip::address& remote);
    void awaitHello(ConnectionID id);
    void helloArrived(ConnectionID id);
    void startChannel(ConnectionID id);
    void advertise();
    void advertiserState(const TessaloyBase::ServiceAdvertiser::State& state);
    void channelPacket(ConnectionID id, TessaloyCore::WirePacket packet);
    void channelClosed(ConnectionID id, const std::optional<std::string>& error);
    [[nodiscard]] TessaloyBase::ScheduledCall deadline(ConnectionID id, TessaloyBase::QueueClock::Duration delay);
    void deadlinePassed(ConnectionID id);
    void refuse(ConnectionID id, std::string reason);
    void closeAcceptance();
    void finish(std::optional<std::string> error);
    void emit(Event::Value value);

    const std::shared_ptr<const PairedDeviceStore> trusted_;
    AdvertiserFactory advertisers_;
    Limits limits_;
    const std::optional<TessaloyCore::MacKind> macKind_;
    const std::shared_ptr<TessaloyBase::QueueClock> clock_;
    TessaloyBase::SerialQueue queue_{queueLabel};
    std::atomic<std::uint16_t> port_{0};
    std::atomic<int> pendingHandshakes_{0};

    // Queue only.
    bool started_ = false;
    bool stopped_ = false;
    EventHandler events_;
    std::optional<PairingOffer> offer_;
    std::string displayName_;
    std::optional<DeviceIdentity> hostKey_;
    std::uint16_t requestedPort_ = 0;
    bool advertisesService_ = false;
    std::optional<TlsParameters> parameters_;
    asio::ip::tcp::acceptor acceptor_;
    TessaloyBase::ScheduledCall acceptance_;
    TessaloyBase::ScheduledCall acceptRetry_;
    bool acceptFailing_ = false;
    std::set<asio::ip::tcp::endpoint> bridges_;
    std::unique_ptr<TessaloyBase::ServiceAdvertiser> advertiser_;
    bool reportedUnavailable_ = false;
    HandshakeAdmission admission_;
    std::map<ConnectionID, Connection> connections_;
    ConnectionID nextID_ = 1;
};

} // namespace TessaloyNet
