#include "net/relay/RelayAnswer.h"

#include "net/relay/MeetingIdentity.h"

#include <asio/connect.hpp>
#include <asio/write.hpp>

#include <chrono>
#include <map>
#include <mutex>

namespace TessaloyNet {

using asio::ip::tcp;
using TessaloyCore::Bytes;
using TessaloyCore::ByteView;

namespace {

// Never destroyed: the I/O threads may still close an answer while the process exits.
std::mutex& registryLock() {
    static auto* const lock = new std::mutex;
    return *lock;
}

std::map<const RelayAnswer*, std::shared_ptr<RelayAnswer>>& registry() {
    static auto* const answers = new std::map<const RelayAnswer*, std::shared_ptr<RelayAnswer>>;
    return *answers;
}

} // namespace

std::optional<RelayRefusal> RelayAnswer::Failure::refusal() const {
    if (kind != Kind::relay) return std::nullopt;
    return RelayRefusal::fromError(error);
}

std::string RelayAnswer::Failure::description() const {
    if (kind == Kind::listenerUnreachable) return "the listener was unreachable: " + error.message();
    if (const auto refused = refusal()) return refused->description();
    return error.message();
}

std::shared_ptr<RelayAnswer> RelayAnswer::answer(const RelayEndpoint& relay, ByteView sessionID,
                                                 TessaloyConnectWire::ConnectChannel channel, std::uint16_t localPort,
                                                 FailureHandler onFailure, BridgeSource bridgeSource,
                                                 std::shared_ptr<RelayTimer> timer) {
    const auto hello = MeetingIdentity::hello(TessaloyConnectWire::ConnectRole::mac, channel, sessionID,
                                              std::chrono::system_clock::now());
    Bytes sealed = MeetingIdentity::seal(hello, relay.helloKey).encoded();
    std::shared_ptr<RelayAnswer> answer(new RelayAnswer(std::move(sealed), localPort == 0 ? 55801 : localPort,
                                                        std::move(onFailure), std::move(bridgeSource),
                                                        std::move(timer)));
    {
        const std::lock_guard lock(registryLock());
        registry().emplace(answer.get(), answer);
    }
    answer->queue_.async([answer, relay] { answer->start(relay); });
    return answer;
}

std::size_t RelayAnswer::openAnswers() {
    const std::lock_guard lock(registryLock());
    return registry().size();
}

RelayAnswer::RelayAnswer(Bytes sealedHello, std::uint16_t localPort, FailureHandler onFailure,
                         BridgeSource bridgeSource, std::shared_ptr<RelayTimer> timer)
    : sealedHello_(std::move(sealedHello)),
      localPort_(localPort),
      onFailure_(std::move(onFailure)),
      bridgeSource_(std::move(bridgeSource)),
      timer_(std::move(timer)),
      resolver_(queue_.executor()),
      relayed_(queue_.executor()),
      local_(queue_.executor()) {}

void RelayAnswer::start(const RelayEndpoint& relay) {
    const auto self = shared_from_this();
    deadline_ = timer_->after(queue_, connectTimeout, [weak = weak_from_this()] {
        if (auto answer = weak.lock()) answer->fail({Failure::Kind::relay, std::make_error_code(std::errc::timed_out)});
    });
    resolver_.async_resolve(relay.host, std::to_string(relay.port == 0 ? 443 : relay.port),
                            [self](std::error_code error, const tcp::resolver::results_type& results) {
                                if (self->closed_) return;
                                if (error) return self->fail({Failure::Kind::relay, error});
                                asio::async_connect(self->relayed_.socket, results,
                                                    [self](std::error_code failure, const tcp::endpoint&) {
                                                        if (self->closed_) return;
                                                        if (failure) return self->fail({Failure::Kind::relay, failure});
                                                        self->connected();
                                                    });
                            });
}

void RelayAnswer::connected() {
    deadline_.cancel();
    std::error_code ignored;
    relayed_.socket.set_option(tcp::no_delay(true), ignored);
    const auto self = shared_from_this();
    deadline_ = timer_->after(queue_, replyDeadline, [weak = weak_from_this()] {
        // Not a refusal: the relay said nothing at all.
        if (auto answer = weak.lock())
            answer->fail({Failure::Kind::relay, std::make_error_code(std::errc::stream_timeout)});
    });
    asio::async_write(relayed_.socket, asio::buffer(sealedHello_), [self](std::error_code error, std::size_t) {
        if (self->closed_) return;
        if (error) return self->fail({Failure::Kind::relay, error});
    });
    relayed_.socket.async_read_some(asio::buffer(relayed_.space), [self](std::error_code error, std::size_t count) {
        if (self->closed_) return;
        if (count == 0) return self->fail({Failure::Kind::relay, error ? error : asio::error::eof});
        self->replied(count);
    });
}

void RelayAnswer::replied(std::size_t count) {
    deadline_.cancel();
    if (const auto refused = RelayRefusal::replyError(relayed_.space[0])) {
        return fail({Failure::Kind::relay, *refused});
    }
    // Bytes after the reply are the device's own and go to the listener first.
    openLocal(Bytes(relayed_.space.begin() + 1, relayed_.space.begin() + static_cast<std::ptrdiff_t>(count)));
}

void RelayAnswer::openLocal(Bytes early) {
    std::error_code error;
    tcp::endpoint target(asio::ip::address_v6::loopback(), localPort_);
    local_.socket.open(tcp::v6(), error);
    if (!error) local_.socket.bind({asio::ip::address_v6::loopback(), 0}, error);
    if (error) {
        // IPv6 is off: the listener then takes IPv4 alone.
        std::error_code ignored;
        local_.socket.close(ignored);
        target = {asio::ip::address_v4::loopback(), localPort_};
        error.clear();
        local_.socket.open(tcp::v4(), error);
        if (!error) local_.socket.bind({asio::ip::address_v4::loopback(), 0}, error);
    }
    if (error) return fail({Failure::Kind::listenerUnreachable, error});
    if (bridgeSource_) bridgeSource_(local_.socket.local_endpoint(error));
    const auto self = shared_from_this();
    local_.socket.async_connect(target, [self, early = std::move(early)](std::error_code failure) {
        if (self->closed_) return;
        if (failure) return self->fail({Failure::Kind::listenerUnreachable, failure});
        std::error_code ignored;
        self->local_.socket.set_option(tcp::no_delay(true), ignored);
        auto first = std::make_shared<Bytes>(early);
        asio::async_write(self->local_.socket, asio::buffer(*first),
                          [self, first](std::error_code written, std::size_t) {
                              if (self->closed_) return;
                              if (written) return self->close();
                              self->pump(self->relayed_, self->local_);
                          });
        self->pump(self->local_, self->relayed_);
    });
}

// One chunk in flight per direction: a slow destination slows its source.
void RelayAnswer::pump(Pipe& from, Pipe& to) {
    const auto self = shared_from_this();
    from.socket.async_read_some(asio::buffer(from.space), [self, &from, &to](std::error_code error, std::size_t count) {
        if (self->closed_) return;
        if (error || count == 0) return self->close();
        asio::async_write(to.socket, asio::buffer(from.space.data(), count),
                          [self, &from, &to](std::error_code failure, std::size_t) {
                              if (self->closed_) return;
                              if (failure) return self->close();
                              self->pump(from, to);
                          });
    });
}

void RelayAnswer::fail(Failure failure) {
    if (closed_) return;
    if (onFailure_) onFailure_(failure);
    close();
}

void RelayAnswer::close() {
    if (closed_) return;
    closed_ = true;
    deadline_.cancel();
    resolver_.cancel();
    std::error_code ignored;
    relayed_.socket.close(ignored);
    local_.socket.close(ignored);
    // Handlers still pending hold the answer until they have run.
    const std::lock_guard lock(registryLock());
    registry().erase(this);
}

} // namespace TessaloyNet
