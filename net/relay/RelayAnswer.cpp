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
                                                 std::shared_ptr<TessaloyBase::QueueClock> clock) {
    if (!clock) clock = TessaloyBase::sharedSteadyQueueClock();
    const auto hello = MeetingIdentity::hello(TessaloyConnectWire::ConnectRole::mac, channel, sessionID,
                                              std::chrono::system_clock::now());
    Bytes sealed = MeetingIdentity::seal(hello, relay.helloKey).encoded();
    std::shared_ptr<RelayAnswer> answer(new RelayAnswer(std::move(sealed), localPort == 0 ? 55801 : localPort,
                                                        std::move(onFailure), std::move(bridgeSource),
                                                        std::move(clock)));
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
                         BridgeSource bridgeSource, std::shared_ptr<TessaloyBase::QueueClock> clock)
    : sealedHello_(std::move(sealedHello)),
      localPort_(localPort),
      onFailure_(std::move(onFailure)),
      bridgeSource_(std::move(bridgeSource)),
      clock_(std::move(clock)),
      resolver_(queue_.executor()),
      relayed_(queue_.executor()) {}

void RelayAnswer::start(const RelayEndpoint& relay) {
    const auto self = shared_from_this();
    deadline_ = clock_->after(queue_, connectTimeout, [weak = weak_from_this()] {
        if (auto answer = weak.lock()) answer->fail({Failure::Kind::relay, std::make_error_code(std::errc::timed_out)});
    });
    resolver_.async_resolve(relay.host, std::to_string(relay.port == 0 ? 443 : relay.port),
                            [self](std::error_code error, const tcp::resolver::results_type& results) {
                                if (self->closed_) return;
                                if (error) return self->fail({Failure::Kind::relay, error});
                                asio::async_connect(self->relayed_, results,
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
    relayed_.set_option(tcp::no_delay(true), ignored);
    const auto self = shared_from_this();
    deadline_ = clock_->after(queue_, replyDeadline, [weak = weak_from_this()] {
        // Not a refusal: the relay said nothing at all.
        if (auto answer = weak.lock())
            answer->fail({Failure::Kind::relay, std::make_error_code(std::errc::stream_timeout)});
    });
    asio::async_write(relayed_, asio::buffer(sealedHello_), [self](std::error_code error, std::size_t) {
        if (self->closed_) return;
        if (error) return self->fail({Failure::Kind::relay, error});
    });
    relayed_.async_read_some(asio::buffer(reply_), [self](std::error_code error, std::size_t count) {
        if (self->closed_) return;
        if (count == 0) return self->fail({Failure::Kind::relay, error ? error : asio::error::eof});
        self->replied(count);
    });
}

void RelayAnswer::replied(std::size_t count) {
    deadline_.cancel();
    if (const auto refused = RelayRefusal::replyError(reply_[0])) {
        return fail({Failure::Kind::relay, *refused});
    }
    // Bytes after the reply are the device's own and go to the listener first.
    bridge(Bytes(reply_.begin() + 1, reply_.begin() + static_cast<std::ptrdiff_t>(count)));
}

void RelayAnswer::bridge(Bytes early) {
    reply_ = {};
    // The bridge ends on this answer's queue; the answer stays registered until then.
    LoopbackBridge::open(std::move(relayed_), localPort_, std::move(early), bridgeSource_,
                         [self = shared_from_this()](std::error_code unreachable) {
                             if (unreachable) return self->fail({Failure::Kind::listenerUnreachable, unreachable});
                             self->close();
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
    relayed_.close(ignored);
    // Handlers still pending hold the answer until they have run.
    const std::lock_guard lock(registryLock());
    registry().erase(this);
}

} // namespace TessaloyNet
