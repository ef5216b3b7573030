#include "net/channel/LANHostListener.h"

#include "base/Hop.h"
#include "base/OpenFiles.h"
#include "core/Encoding.h"
#include "core/MacKind.h"
#include "net/channel/LANTransport.h"
#include "net/channel/PairingKeys.h"

#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>

#include <utility>

namespace TessaloyNet {

using TessaloyBase::hop;
using TessaloyCore::ChannelRole;
using TessaloyCore::WirePacket;

namespace {

std::string securityProblem(const std::exception& error) {
    return std::string("Could not prepare the connection security: ") + error.what();
}

} // namespace

std::shared_ptr<LANHostListener> LANHostListener::create(std::shared_ptr<const PairedDeviceStore> trusted,
                                                         AdvertiserFactory advertisers, Limits limits,
                                                         std::optional<TessaloyCore::MacKind> macKind,
                                                         std::shared_ptr<TessaloyBase::QueueClock> clock) {
    if (!clock) clock = TessaloyBase::sharedSteadyQueueClock();
    return std::shared_ptr<LANHostListener>(
        new LANHostListener(std::move(trusted), std::move(advertisers), limits, macKind, std::move(clock)));
}

LANHostListener::LANHostListener(std::shared_ptr<const PairedDeviceStore> trusted, AdvertiserFactory advertisers,
                                 Limits limits, std::optional<TessaloyCore::MacKind> macKind,
                                 std::shared_ptr<TessaloyBase::QueueClock> clock)
    : trusted_(std::move(trusted)),
      advertisers_(std::move(advertisers)),
      limits_(limits),
      macKind_(macKind),
      clock_(std::move(clock)),
      acceptor_(queue_.executor()),
      admission_(limits.admission) {}

// Every handler holds the listener weakly, so none runs any more: the acceptor only needs closing,
// and the channels, which live on their own queues, closing.
LANHostListener::~LANHostListener() {
    std::error_code ignored;
    acceptor_.close(ignored);
    advertiser_.reset();
    for (auto& [id, connection] : connections_) {
        if (!connection.channel) continue;
        connection.channel->setEvents({});
        connection.channel->close();
    }
}

void LANHostListener::start(std::optional<PairingOffer> offer, std::string displayName, const DeviceIdentity& hostKey,
                            std::uint16_t port, bool advertisesService, EventHandler events) {
    queue_.async(hop(*this, [offer = std::move(offer), displayName = std::move(displayName), hostKey, port,
                             advertisesService, events = std::move(events)](LANHostListener& listener) mutable {
        if (listener.started_ || listener.stopped_) return;
        listener.started_ = true;
        listener.events_ = std::move(events);
        listener.offer_ = std::move(offer);
        listener.displayName_ = std::move(displayName);
        listener.hostKey_ = std::move(hostKey);
        listener.requestedPort_ = port;
        listener.advertisesService_ = advertisesService;
        if (listener.offer_) return listener.derivePairingKeys();
        try {
            listener.listen(
                LANTransport::trustedServerParameters(*listener.hostKey_, listener.displayName_, listener.trusted_));
        } catch (const std::exception& error) {
            listener.finish(securityProblem(error));
        }
    }));
}

template <typename Work>
auto LANHostListener::fromAnyThread(Work work) {
    return [executor = queue_.executor(), handler = hop(*this, std::move(work))](auto... arguments) {
        asio::post(executor,
                   [handler, ... arguments = std::move(arguments)]() mutable { handler(std::move(arguments)...); });
    };
}

void LANHostListener::derivePairingKeys() {
    auto attempting = fromAnyThread([](LANHostListener& listener) { listener.emit(Event::Attempting{}); });
    auto derived = fromAnyThread(
        [](LANHostListener& listener, std::optional<TlsParameters> parameters, const std::string& problem) {
            if (listener.stopped_) return;
            if (!parameters) return listener.finish(problem);
            listener.listen(std::move(*parameters));
        });
    // PBKDF2 takes a while: off the queue.
    TessaloyBase::runBlocking([attempting = std::move(attempting), derived = std::move(derived), code = offer_->code,
                               salt = offer_->salt, name = displayName_] {
        std::optional<TlsParameters> parameters;
        std::string problem;
        try {
            parameters = LANTransport::pairingServerParameters(PairingKeys::derive(code, salt), name, attempting);
        } catch (const std::exception& error) {
            problem = securityProblem(error);
        }
        derived(std::move(parameters), std::move(problem));
    });
}

void LANHostListener::stop() {
    queue_.async(hop(*this, [](LANHostListener& listener) { listener.finish(std::nullopt); }));
}

void LANHostListener::stopAdvertising(std::chrono::duration<double> acceptanceWindow) {
    queue_.async(hop(*this, [acceptanceWindow](LANHostListener& listener) {
        if (listener.stopped_) return;
        listener.advertisesService_ = false;
        if (listener.advertiser_) listener.advertiser_->withdraw();
        listener.advertiser_.reset();
        if (acceptanceWindow.count() <= 0) return listener.closeAcceptance();
        listener.acceptance_ = listener.clock_->after(
            listener.queue_, acceptanceWindow, hop(listener, [](LANHostListener& self) { self.closeAcceptance(); }));
    }));
}

void LANHostListener::listen(TlsParameters parameters) {
    queue_.assertCurrent();
    parameters_ = std::move(parameters);
    std::string problem;
    if (!openAcceptor(requestedPort_, problem)) {
        finish("Could not listen on port " + std::to_string(requestedPort_) + ": " + problem);
        return;
    }
    port_.store(acceptor_.local_endpoint().port());
    emit(Event::Advertising{port_.load()});
    if (stopped_) return;
    acceptNext();
    if (advertisesService_) advertise();
}

bool LANHostListener::openAcceptor(std::uint16_t port, std::string& problem) {
    // One IPv6 socket that also takes IPv4 connections; IPv4 alone where IPv6 is missing.
    for (const auto protocol : {asio::ip::tcp::v6(), asio::ip::tcp::v4()}) {
        std::error_code error;
        acceptor_.close(error);
        acceptor_.open(protocol, error);
        if (error) {
            problem = error.message();
            continue;
        }
        if (protocol == asio::ip::tcp::v6()) acceptor_.set_option(asio::ip::v6_only(false), error);
        acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true), error);
        const auto any = protocol == asio::ip::tcp::v6() ? asio::ip::address(asio::ip::address_v6::any())
                                                         : asio::ip::address(asio::ip::address_v4::any());
        acceptor_.bind(asio::ip::tcp::endpoint(any, port), error);
        if (!error) acceptor_.listen(asio::socket_base::max_listen_connections, error);
        if (!error) return true;
        problem = error.message();
        if (error != asio::error::address_family_not_supported) break;
    }
    acceptor_.close();
    return false;
}

void LANHostListener::acceptNext() {
    if (stopped_ || !acceptor_.is_open()) return;
    acceptor_.async_accept(
        hop(*this, [](LANHostListener& listener, std::error_code error, asio::ip::tcp::socket socket) {
            listener.accepted(error, std::move(socket));
        }));
}

namespace {

// The dual-stack socket sees IPv4 peers as IPv4-mapped IPv6 addresses.
asio::ip::tcp::endpoint unmapped(const asio::ip::tcp::endpoint& endpoint) {
    const asio::ip::address address = endpoint.address();
    if (!address.is_v6() || !address.to_v6().is_v4_mapped()) return endpoint;
    return {asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()), endpoint.port()};
}

} // namespace

void LANHostListener::exemptBridge(asio::ip::tcp::endpoint source) {
    // Posted before the bridge connects, so it runs before that connection is accepted.
    queue_.async(hop(*this, [source = unmapped(source)](LANHostListener& listener) {
        if (!listener.stopped_ && source.address().is_loopback()) listener.bridges_.insert(source);
    }));
}

void LANHostListener::accepted(std::error_code error, asio::ip::tcp::socket socket) {
    queue_.assertCurrent();
    if (stopped_ || !acceptor_.is_open()) return;
    if (error) {
        if (error != asio::error::operation_aborted) acceptFailed(error);
        return;
    }
    acceptFailing_ = false;
    if (turnedAway(socket)) return acceptNext();
    std::error_code remoteError;
    const auto remote = socket.remote_endpoint(remoteError);
    if (remoteError) {
        // Gone before it could be looked at.
        acceptNext();
        return;
    }
    const ConnectionID id = nextID_++;
    const bool bridged = bridges_.erase(unmapped(remote)) > 0;
    connections_.emplace(id, Connection{std::move(socket), nullptr,
                                        deadline(id, bridged ? limits_.handshakeDeadline : limits_.helloDeadline),
                                        clock_->now(), std::nullopt});
    // A bridged connection carries a peer that has spoken already: its bridge answers for it.
    if (bridged) {
        startChannel(id);
    } else {
        if (!admit(id, remote.address())) return;
        awaitHello(id);
    }
    pendingHandshakes_.store(admission_.pending());
    acceptNext();
}

void LANHostListener::acceptFailed(std::error_code error) {
    // Out of descriptors and the like: the connection waits in the backlog; trying again at once
    // would only spin.
    if (!acceptFailing_) {
        acceptFailing_ = true;
        emit(Event::Rejected{std::string(Rejection::acceptFailedPrefix) + error.message()});
        if (stopped_) return;
    }
    acceptRetry_ = clock_->after(queue_, limits_.acceptRetry,
                                 hop(*this, [](LANHostListener& listener) { listener.acceptNext(); }));
}

bool LANHostListener::turnedAway(asio::ip::tcp::socket& socket) {
    // A flood must not take the descriptors the program's own threads need; once it ends, the
    // device's next attempt gets in.
    if (TessaloyBase::OpenFiles::spare(0)) return false;
    std::error_code ignored;
    socket.close(ignored);
    emit(Event::Rejected{std::string(Rejection::tooFewDescriptors)});
    return true;
}

bool LANHostListener::admit(ConnectionID id, const asio::ip::address& remote) {
    const auto evicted = admission_.admit(id, HandshakeAdmission::hostOf(remote));
    if (evicted) refuse(*evicted, std::string(Rejection::tooManyHandshakes));
    return !stopped_;
}

void LANHostListener::awaitHello(ConnectionID id) {
    connections_.at(id).socket->async_wait(asio::socket_base::wait_read,
                                           hop(*this, [id](LANHostListener& listener, std::error_code error) {
                                               if (error != asio::error::operation_aborted) listener.helloArrived(id);
                                           }));
}

void LANHostListener::helloArrived(ConnectionID id) {
    queue_.assertCurrent();
    const auto found = connections_.find(id);
    if (stopped_ || found == connections_.end() || !found->second.socket) return;
    const auto evicted = admission_.spoke(id);
    Connection& connection = found->second;
    connection.deadline = deadline(id, connection.acceptedAt + limits_.handshakeDeadline - clock_->now());
    startChannel(id);
    if (evicted) refuse(*evicted, std::string(Rejection::tooManyHandshakes));
}

void LANHostListener::startChannel(ConnectionID id) {
    Connection& connection = connections_.at(id);
    try {
        connection.channel = TlsPacketChannel::accepted(std::move(*connection.socket), *parameters_, limits_.channel);
        connection.socket.reset();
    } catch (const std::exception& failure) {
        refuse(id, failure.what());
        return;
    }
    // Channel events hop to this queue, keeping their order.
    connection.channel->setEvents({
        // The peer's last flight of the handshake came.
        .ready = fromAnyThread([id](LANHostListener& listener) { listener.admission_.heard(id); }),
        .packet = fromAnyThread(
            [id](LANHostListener& listener, WirePacket packet) { listener.channelPacket(id, std::move(packet)); }),
        .closed = fromAnyThread([id](LANHostListener& listener, const std::optional<std::string>& closeError) {
            listener.channelClosed(id, closeError);
        }),
    });
    connection.channel->start();
}

void LANHostListener::channelPacket(ConnectionID id, WirePacket packet) {
    queue_.assertCurrent();
    const auto found = connections_.find(id);
    if (stopped_ || found == connections_.end()) return;
    Connection& connection = found->second;
    if (connection.role) {
        emit(Event::Received{std::move(packet), *connection.role, connection.channel});
        return;
    }
    if (packet.kind() != WirePacket::Kind::channelRole) {
        refuse(id, std::string(Rejection::firstPacketNotRole));
        return;
    }
    std::optional<ChannelRole> role;
    try {
        role = ChannelRole::decode(packet);
    } catch (const ChannelRole::Error&) {
        refuse(id, std::string(Rejection::unreadableRole));
        return;
    }
    connection.role = *role;
    connection.deadline.cancel();
    admission_.release(id);
    emit(Event::Authenticated{connection.channel, connection.channel->peerName().value_or(""), *role});
}

void LANHostListener::channelClosed(ConnectionID id, const std::optional<std::string>& error) {
    queue_.assertCurrent();
    const auto found = connections_.find(id);
    if (found == connections_.end()) return;
    Connection connection = std::move(found->second);
    connections_.erase(found);
    if (stopped_) return;
    if (connection.role) {
        emit(Event::PeerDisconnected{error, connection.channel});
        return;
    }
    admission_.release(id);
    emit(Event::Rejected{error.value_or(std::string(Rejection::handshakeIncomplete))});
}

TessaloyBase::ScheduledCall LANHostListener::deadline(ConnectionID id, TessaloyBase::QueueClock::Duration delay) {
    return clock_->after(queue_, delay, hop(*this, [id](LANHostListener& listener) { listener.deadlinePassed(id); }));
}

void LANHostListener::deadlinePassed(ConnectionID id) {
    queue_.assertCurrent();
    const auto found = connections_.find(id);
    if (stopped_ || found == connections_.end() || found->second.role) return;
    refuse(id, std::string(Rejection::handshakeTooSlow));
}

void LANHostListener::refuse(ConnectionID id, std::string reason) {
    const auto found = connections_.find(id);
    if (found == connections_.end()) return;
    Connection connection = std::move(found->second);
    connections_.erase(found);
    admission_.release(id);
    if (connection.channel) {
        connection.channel->setEvents({});
        connection.channel->close(reason);
    }
    emit(Event::Rejected{std::move(reason)});
}

void LANHostListener::advertise() {
    TessaloyBase::ServiceAdvertiser::TxtRecord txt{{"v", "1"}};
    if (offer_) txt.emplace_back("s", TessaloyCore::base64Url(offer_->salt));
    txt.emplace_back("k", hostKey_->keyIdentifier());
    if (macKind_) txt.emplace_back("m", TessaloyCore::nameOf(*macKind_));
    advertiser_ = advertisers_(
        queue_, hop(*this, [](LANHostListener& listener, const TessaloyBase::ServiceAdvertiser::State& state) {
            listener.advertiserState(state);
        }));
    if (!advertiser_) {
        emit(Event::DiscoveryUnavailable{"Service discovery is not available."});
        reportedUnavailable_ = true;
        return;
    }
    advertiser_->advertise({std::string(LANTransport::serviceType), displayName_, port_.load(), std::move(txt)});
}

void LANHostListener::advertiserState(const TessaloyBase::ServiceAdvertiser::State& state) {
    queue_.assertCurrent();
    if (stopped_ || !advertiser_) return;
    if (std::holds_alternative<TessaloyBase::ServiceAdvertiser::Registered>(state)) {
        reportedUnavailable_ = false;
        return;
    }
    if (reportedUnavailable_) return;
    reportedUnavailable_ = true;
    if (const auto* missing = std::get_if<TessaloyBase::ServiceAdvertiser::NotAvailable>(&state)) {
        emit(Event::DiscoveryUnavailable{missing->reason});
    } else if (const auto* failed = std::get_if<TessaloyBase::ServiceAdvertiser::Failed>(&state)) {
        emit(Event::DiscoveryUnavailable{failed->reason});
    }
}

void LANHostListener::closeAcceptance() {
    std::error_code ignored;
    acceptor_.close(ignored);
}

void LANHostListener::finish(std::optional<std::string> error) {
    queue_.assertCurrent();
    if (stopped_) return;
    closeAcceptance();
    acceptance_.cancel();
    acceptRetry_.cancel();
    advertiser_.reset();
    auto connections = std::exchange(connections_, {});
    for (auto& [id, connection] : connections) {
        if (!connection.channel) continue;
        connection.channel->setEvents({});
        connection.channel->close();
    }
    emit(Event::Stopped{std::move(error)});
    stopped_ = true;
    events_ = nullptr;
}

void LANHostListener::emit(Event::Value value) {
    pendingHandshakes_.store(admission_.pending());
    // Inside a handler, which holds the listener: the events may drop the last outside reference.
    if (stopped_ || !events_) return;
    events_(Event{std::move(value)});
}

} // namespace TessaloyNet
