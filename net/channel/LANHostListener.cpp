#include "net/channel/LANHostListener.h"

#include "core/Encoding.h"
#include "core/MacKind.h"
#include "net/channel/LANTransport.h"
#include "net/channel/PairingKeys.h"

#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>

#include <utility>

namespace TessaloyNet {

using TessaloyCore::ChannelRole;
using TessaloyCore::WirePacket;

std::shared_ptr<LANHostListener> LANHostListener::create(const PairedDeviceStore& trusted,
                                                         AdvertiserFactory advertisers, Limits limits,
                                                         std::optional<TessaloyCore::MacKind> macKind) {
    return std::shared_ptr<LANHostListener>(new LANHostListener(trusted, std::move(advertisers), limits, macKind));
}

LANHostListener::LANHostListener(const PairedDeviceStore& trusted, AdvertiserFactory advertisers, Limits limits,
                                 std::optional<TessaloyCore::MacKind> macKind)
    : trusted_(trusted),
      advertisers_(std::move(advertisers)),
      limits_(limits),
      macKind_(macKind),
      acceptor_(queue_.executor()),
      acceptanceTimer_(queue_.executor()),
      acceptRetryTimer_(queue_.executor()),
      admission_(limits.admission) {}

// Every handler holds the listener weakly, so none runs any more: the acceptor and timers only
// need closing, and the channels, which live on their own queues, closing.
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
    asio::post(
        queue_.executor(), [weak = weak_from_this(), offer = std::move(offer), displayName = std::move(displayName),
                            hostKey, port, advertisesService, events = std::move(events)]() mutable {
            const auto self = weak.lock();
            if (!self || self->started_ || self->stopped_) return;
            self->started_ = true;
            self->events_ = std::move(events);
            self->offer_ = std::move(offer);
            self->displayName_ = std::move(displayName);
            self->hostKey_ = std::move(hostKey);
            self->requestedPort_ = port;
            self->advertisesService_ = advertisesService;
            if (!self->offer_) {
                try {
                    self->listen(
                        LANTransport::trustedServerParameters(*self->hostKey_, self->displayName_, self->trusted_));
                } catch (const std::exception& error) {
                    self->finish(std::string("Could not prepare the connection security: ") + error.what());
                }
                return;
            }
            // PBKDF2 takes a while: off the queue.
            TessaloyBase::runBlocking(
                [weak, code = self->offer_->code, salt = self->offer_->salt, name = self->displayName_] {
                    std::optional<TlsParameters> parameters;
                    std::string problem;
                    try {
                        const PairingKeys keys = PairingKeys::derive(code, salt);
                        parameters = LANTransport::pairingServerParameters(keys, name, [weak] {
                            const auto listener = weak.lock();
                            if (!listener) return;
                            asio::post(listener->queue_.executor(), [weak] {
                                if (const auto again = weak.lock()) again->emit(Event::Attempting{});
                            });
                        });
                    } catch (const std::exception& error) {
                        problem = std::string("Could not prepare the connection security: ") + error.what();
                    }
                    const auto listener = weak.lock();
                    if (!listener) return;
                    asio::post(listener->queue_.executor(),
                               [weak, parameters = std::move(parameters), problem = std::move(problem)]() mutable {
                                   const auto again = weak.lock();
                                   if (!again || again->stopped_) return;
                                   if (parameters) {
                                       again->listen(std::move(*parameters));
                                   } else {
                                       again->finish(problem);
                                   }
                               });
                });
        });
}

void LANHostListener::stop() {
    asio::post(queue_.executor(), [weak = weak_from_this()] {
        if (const auto self = weak.lock()) self->finish(std::nullopt);
    });
}

void LANHostListener::stopAndWait() {
    queue_.sync([this] { finish(std::nullopt); });
}

void LANHostListener::stopAdvertising(std::chrono::duration<double> acceptanceWindow) {
    asio::post(queue_.executor(), [weak = weak_from_this(), acceptanceWindow] {
        const auto self = weak.lock();
        if (!self || self->stopped_) return;
        self->advertisesService_ = false;
        if (self->advertiser_) self->advertiser_->withdraw();
        self->advertiser_.reset();
        if (acceptanceWindow.count() <= 0) {
            self->closeAcceptance();
            return;
        }
        self->acceptanceTimer_.expires_after(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(acceptanceWindow));
        self->acceptanceTimer_.async_wait([weak](std::error_code error) {
            const auto again = weak.lock();
            if (!error && again) again->closeAcceptance();
        });
    });
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
    acceptor_.async_accept([weak = weak_from_this()](std::error_code error, asio::ip::tcp::socket socket) {
        if (const auto self = weak.lock()) self->accepted(error, std::move(socket));
    });
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
    asio::post(queue_.executor(), [weak = weak_from_this(), source = unmapped(source)] {
        const auto self = weak.lock();
        if (self && !self->stopped_ && source.address().is_loopback()) self->bridges_.insert(source);
    });
}

void LANHostListener::accepted(std::error_code error, asio::ip::tcp::socket socket) {
    queue_.assertCurrent();
    if (stopped_ || !acceptor_.is_open()) return;
    if (error) {
        if (error != asio::error::operation_aborted) acceptFailed(error);
        return;
    }
    acceptFailing_ = false;
    std::error_code remoteError;
    const auto remote = socket.remote_endpoint(remoteError);
    if (remoteError) {
        // Gone before it could be looked at.
        acceptNext();
        return;
    }
    const ConnectionID id = nextID_++;
    const bool bridged = bridges_.erase(unmapped(remote)) > 0;
    auto deadline = std::make_unique<asio::steady_timer>(queue_.executor(),
                                                         bridged ? limits_.handshakeDeadline : limits_.helloDeadline);
    watchDeadline(id, *deadline);
    connections_.emplace(id, Connection{std::move(socket), nullptr, std::move(deadline),
                                        std::chrono::steady_clock::now(), std::nullopt});
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
    acceptRetryTimer_.expires_after(limits_.acceptRetry);
    acceptRetryTimer_.async_wait([weak = weak_from_this()](std::error_code timerError) {
        const auto self = weak.lock();
        if (!timerError && self) self->acceptNext();
    });
}

bool LANHostListener::admit(ConnectionID id, const asio::ip::address& remote) {
    const auto evicted = admission_.admit(id, HandshakeAdmission::hostOf(remote));
    if (evicted) refuse(*evicted, std::string(Rejection::tooManyHandshakes));
    return !stopped_;
}

void LANHostListener::awaitHello(ConnectionID id) {
    connections_.at(id).socket->async_wait(asio::socket_base::wait_read,
                                           [weak = weak_from_this(), id](std::error_code error) {
                                               const auto self = weak.lock();
                                               if (self && error != asio::error::operation_aborted)
                                                   self->helloArrived(id);
                                           });
}

void LANHostListener::helloArrived(ConnectionID id) {
    queue_.assertCurrent();
    const auto found = connections_.find(id);
    if (stopped_ || found == connections_.end() || !found->second.socket) return;
    const auto evicted = admission_.spoke(id);
    Connection& connection = found->second;
    connection.deadline->expires_at(connection.acceptedAt + limits_.handshakeDeadline);
    watchDeadline(id, *connection.deadline);
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
    const auto hop = [weak = weak_from_this(),
                      executor = queue_.executor()](std::function<void(LANHostListener&)> work) {
        asio::post(executor, [weak, work = std::move(work)] {
            if (const auto self = weak.lock()) work(*self);
        });
    };
    connection.channel->setEvents({
        .ready = nullptr,
        .packet =
            [hop, id](WirePacket packet) {
                hop([id, packet = std::move(packet)](LANHostListener& self) mutable {
                    self.channelPacket(id, std::move(packet));
                });
            },
        .closed =
            [hop, id](const std::optional<std::string>& closeError) {
                hop([id, closeError](LANHostListener& self) { self.channelClosed(id, closeError); });
            },
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
    connection.deadline.reset();
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

void LANHostListener::watchDeadline(ConnectionID id, asio::steady_timer& deadline) {
    deadline.async_wait([weak = weak_from_this(), id](std::error_code timerError) {
        const auto self = weak.lock();
        if (!timerError && self) self->deadlinePassed(id);
    });
}

void LANHostListener::deadlinePassed(ConnectionID id) {
    queue_.assertCurrent();
    const auto found = connections_.find(id);
    if (stopped_ || found == connections_.end() || found->second.role) return;
    // A wait that ended just as its hello arrived, already on its way here.
    if (found->second.deadline->expiry() > std::chrono::steady_clock::now()) return;
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
    advertiser_ = advertisers_(queue_, [weak = weak_from_this()](const TessaloyBase::ServiceAdvertiser::State& state) {
        if (const auto self = weak.lock()) self->advertiserState(state);
    });
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
    acceptanceTimer_.cancel();
    acceptRetryTimer_.cancel();
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
    if (stopped_ || !events_) return;
    // Keeps the listener alive through the handler, which may drop the last outside reference.
    const auto self = shared_from_this();
    events_(Event{std::move(value)});
}

} // namespace TessaloyNet
