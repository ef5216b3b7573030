#include "net/relay/RelayAnswer.h"

#include "base/Hop.h"
#include "net/channel/LANTransport.h"
#include "net/relay/MeetingIdentity.h"

#include <asio/connect.hpp>
#include <asio/read.hpp>
#include <asio/write.hpp>

#include <chrono>
#include <utility>

namespace TessaloyNet {

using asio::ip::tcp;
using TessaloyBase::hop;
using TessaloyCore::Bytes;
using TessaloyCore::ByteView;

std::optional<RelayRefusal> RelayAnswer::Failure::refusal() const {
    if (kind != Kind::relay) return std::nullopt;
    return RelayRefusal::fromError(error);
}

std::string RelayAnswer::Failure::description() const {
    if (kind == Kind::listenerUnreachable) return "the listener was unreachable: " + error.message();
    if (const auto refused = refusal()) return refused->description();
    return error.message();
}

std::shared_ptr<RelayAnswer> RelayAnswer::prepare(const RelayEndpoint& relay, ByteView sessionID,
                                                  TessaloyConnectWire::ConnectChannel channel, std::uint16_t localPort,
                                                  BridgeSource bridgeSource,
                                                  std::shared_ptr<TessaloyBase::QueueClock> clock) {
    if (!clock) clock = TessaloyBase::sharedSteadyQueueClock();
    const auto hello = MeetingIdentity::hello(TessaloyConnectWire::ConnectRole::mac, channel, sessionID,
                                              std::chrono::system_clock::now());
    Bytes sealed = MeetingIdentity::seal(hello, relay.helloKey).encoded();
    // Not make_shared: a timer that outlives the answer holds only the control block.
    return std::shared_ptr<RelayAnswer>(new RelayAnswer(relay, std::move(sealed),
                                                        localPort == 0 ? LANTransport::defaultPort : localPort,
                                                        std::move(bridgeSource), std::move(clock)));
}

RelayAnswer::RelayAnswer(const RelayEndpoint& relay, Bytes sealedHello, std::uint16_t localPort,
                         BridgeSource bridgeSource, std::shared_ptr<TessaloyBase::QueueClock> clock)
    : host_(relay.host),
      port_(relay.effectivePort()),
      sealedHello_(std::move(sealedHello)),
      localPort_(localPort),
      bridgeSource_(std::move(bridgeSource)),
      clock_(std::move(clock)),
      resolver_(queue_.executor()),
      relayed_(queue_.executor()) {}

void RelayAnswer::start(EndHandler onEnd, std::optional<TessaloyBase::QueueClock::Duration> patience) {
    queue_.async(hop(*this, [onEnd = std::move(onEnd), patience](RelayAnswer& answer) {
        answer.onEnd_ = onEnd;
        if (patience) answer.patience_ = answer.endUnlessRepliedWithin(*patience);
        answer.resolve();
    }));
}

TessaloyBase::ScheduledCall RelayAnswer::endUnlessRepliedWithin(TessaloyBase::QueueClock::Duration delay) {
    return clock_->after(
        queue_, delay, hop(*this, [](RelayAnswer& answer) {
            // Not a refusal: the relay said nothing at all.
            answer.close(Failure{Failure::Kind::relay, std::make_error_code(std::errc::stream_timeout)});
        }));
}

void RelayAnswer::resolve() {
    deadline_ =
        clock_->after(queue_, connectTimeout, hop(*this, [](RelayAnswer& answer) {
                          answer.close(Failure{Failure::Kind::relay, std::make_error_code(std::errc::timed_out)});
                      }));
    resolver_.async_resolve(
        host_, std::to_string(port_),
        hop(*this, [](RelayAnswer& answer, std::error_code error, const tcp::resolver::results_type& results) {
            if (answer.closed_) return;
            if (error) return answer.close(Failure{Failure::Kind::relay, error});
            // Out of descriptors, the connect fails at once with EMFILE and ends this call alone.
            asio::async_connect(answer.relayed_, results,
                                hop(answer, [](RelayAnswer& self, std::error_code failure, const tcp::endpoint&) {
                                    if (self.closed_) return;
                                    if (failure) return self.close(Failure{Failure::Kind::relay, failure});
                                    self.connected();
                                }));
        }));
}

void RelayAnswer::connected() {
    deadline_.cancel();
    std::error_code ignored;
    relayed_.set_option(tcp::no_delay(true), ignored);
    deadline_ = endUnlessRepliedWithin(replyDeadline);
    asio::async_write(relayed_, asio::buffer(sealedHello_),
                      hop(*this, [](RelayAnswer& answer, std::error_code error, std::size_t) {
                          if (error) answer.close(Failure{Failure::Kind::relay, error});
                      }));
    // The reply byte alone: what follows it is the device's and stays in the socket for the bridge.
    asio::async_read(relayed_, asio::buffer(&reply_, 1),
                     hop(*this, [](RelayAnswer& answer, std::error_code error, std::size_t) {
                         if (answer.closed_) return;
                         if (error) return answer.close(Failure{Failure::Kind::relay, error});
                         answer.replied();
                     }));
}

void RelayAnswer::replied() {
    deadline_.cancel();
    patience_.cancel();
    if (const auto refused = RelayRefusal::replyError(reply_)) return close(Failure{Failure::Kind::relay, *refused});
    // The bridge ends on this answer's queue; the answer stays open until then.
    const std::error_code noSocket =
        LoopbackBridge::open(std::move(relayed_), localPort_, bridgeSource_,
                             hop(*this, [](RelayAnswer& answer, std::error_code unreachable) {
                                 if (unreachable)
                                     return answer.close(Failure{Failure::Kind::listenerUnreachable, unreachable});
                                 answer.close();
                             }));
    if (noSocket) close(Failure{Failure::Kind::relay, noSocket});
}

void RelayAnswer::close(std::optional<Failure> failure) {
    if (closed_) return;
    closed_ = true;
    deadline_.cancel();
    patience_.cancel();
    resolver_.cancel();
    std::error_code ignored;
    relayed_.close(ignored);
    if (const EndHandler onEnd = std::exchange(onEnd_, {})) onEnd(failure);
}

} // namespace TessaloyNet
