#include "net/channel/TlsPacketChannel.h"

#include "core/Ping.h"
#include "net/channel/RandomBytes.h"
#include "net/channel/RefusalReason.h"
#include "net/channel/TlsByteStream.h"

#include <asio/error.hpp>
#include <asio/post.hpp>

#include <cstring>
#include <utility>

namespace TessaloyNet {

using Clock = std::chrono::steady_clock;
using TessaloyCore::WirePacket;

namespace {

// Pings still unanswered beyond this many are forgotten: a peer that never answers costs nothing.
constexpr std::size_t maximumPingsInFlight = 16;

std::uint64_t randomToken() {
    const TessaloyCore::Bytes bytes = randomBytes(sizeof(std::uint64_t));
    std::uint64_t token = 0;
    std::memcpy(&token, bytes.data(), sizeof token);
    return token;
}

std::string readTimeoutText(std::chrono::milliseconds timeout) {
    const auto count = timeout.count();
    std::string seconds = std::to_string(count / 1000);
    if (count % 1000 != 0) {
        std::string fraction = std::to_string(1000 + count % 1000).substr(1);
        while (fraction.back() == '0') fraction.pop_back();
        seconds += "." + fraction;
    }
    return std::string(RefusalReason::readTimeoutPrefix) + seconds + std::string(RefusalReason::readTimeoutSuffix);
}

} // namespace

std::shared_ptr<TlsPacketChannel> TlsPacketChannel::accepted(asio::ip::tcp::socket socket, const TlsParameters& server,
                                                             Options options) {
    auto held = std::make_shared<asio::ip::tcp::socket>(std::move(socket));
    return over(
        [&](TessaloyBase::SerialQueue& queue) {
            return std::make_unique<TlsByteStream>(queue.executor(), std::move(*held), server);
        },
        options);
}

std::shared_ptr<TlsPacketChannel> TlsPacketChannel::connecting(asio::ip::tcp::endpoint endpoint,
                                                               const TlsParameters& client, Options options) {
    return over(
        [&](TessaloyBase::SerialQueue& queue) {
            return std::make_unique<TlsByteStream>(queue.executor(), endpoint, client);
        },
        options);
}

std::shared_ptr<TlsPacketChannel> TlsPacketChannel::over(const StreamMaker& makeStream, Options options) {
    return std::shared_ptr<TlsPacketChannel>(new TlsPacketChannel(makeStream, options));
}

TlsPacketChannel::TlsPacketChannel(const StreamMaker& makeStream, Options options)
    : queue_(std::make_unique<TessaloyBase::SerialQueue>(queueLabel)),
      options_(options),
      stream_(makeStream(*queue_)),
      pingTimer_(queue_->executor()),
      readTimer_(queue_->executor()),
      graceTimer_(queue_->executor()),
      budget_(options.receiveBudget),
      nextPingToken_(randomToken()),
      events_(std::make_shared<const Events>()) {
    writer_ = std::make_unique<PacketWriter>(
        *queue_,
        [this](ByteStream::WriteBuffers buffers, ByteStream::IoHandler handler) {
            stream_->writeSome(buffers, [self = shared_from_this(), handler = std::move(handler)](
                                            std::error_code error, std::size_t count) { handler(error, count); });
        },
        PacketWriter::Callbacks{
            .droppableLeft = [this] { droppableInFlight_.fetch_sub(1); },
            .failed = [this](std::error_code error) { finish(error.message()); },
            .flushed = [this] { flushed(); },
        },
        [this](ByteStream::WriteBuffers buffers, std::error_code& error) { return stream_->writeNow(buffers, error); });
}

// The writer and stream have no operation under way by now: each holds the channel alive.
TlsPacketChannel::~TlsPacketChannel() = default;

void TlsPacketChannel::start() {
    asio::post(queue_->executor(), [self = shared_from_this()] {
        self->queue_->assertCurrent();
        if (self->state_ != State::idle) return;
        self->state_ = State::handshaking;
        self->stream_->handshake([self](std::error_code error) { self->handshaken(error); });
    });
}

void TlsPacketChannel::setEvents(Events events) {
    auto shared = std::make_shared<const Events>(std::move(events));
    std::lock_guard guard(lock_);
    events_ = std::move(shared);
}

std::shared_ptr<const PacketChannel::Events> TlsPacketChannel::events() const {
    std::lock_guard guard(lock_);
    return events_;
}

void TlsPacketChannel::setPacketSource(PacketSource source) {
    asio::post(queue_->executor(), [self = shared_from_this(), source = std::move(source)]() mutable {
        if (self->writer_ && self->state_ <= State::open) self->writer_->setSource(std::move(source));
    });
}

void TlsPacketChannel::resumeSending() {
    asio::post(queue_->executor(), [self = shared_from_this()] {
        if (self->writer_ && self->state_ <= State::open) self->writer_->resume();
    });
}

void TlsPacketChannel::sendDirect(WirePacket packet) {
    asio::post(queue_->executor(), [self = shared_from_this(), packet = std::move(packet)]() mutable {
        if (self->writer_ && self->state_ <= State::open) self->writer_->sendDirect(std::move(packet));
    });
}

bool TlsPacketChannel::sendDroppable(WirePacket packet, int limit) {
    if (closeRequested_.load()) return false;
    int inFlight = droppableInFlight_.load();
    do {
        if (inFlight >= limit) return false;
    } while (!droppableInFlight_.compare_exchange_weak(inFlight, inFlight + 1));
    asio::post(queue_->executor(), [self = shared_from_this(), packet = std::move(packet)]() mutable {
        if (self->writer_ && self->state_ <= State::open) {
            self->writer_->sendDirect(std::move(packet), true);
        } else {
            self->droppableInFlight_.fetch_sub(1);
        }
    });
    return true;
}

void TlsPacketChannel::pauseReading(bool paused) {
    asio::post(queue_->executor(), [self = shared_from_this(), paused] { self->setReadingPaused(paused); });
}

void TlsPacketChannel::close(std::optional<std::string> error) {
    closeRequested_.store(true);
    asio::post(queue_->executor(),
               [self = shared_from_this(), error = std::move(error)]() mutable { self->beginClose(std::move(error)); });
}

std::optional<TessaloyCore::Bytes> TlsPacketChannel::peerPublicKey() const {
    std::lock_guard guard(lock_);
    return peerPublicKey_;
}

std::optional<std::string> TlsPacketChannel::peerName() const {
    std::lock_guard guard(lock_);
    return peerName_;
}

LatencySamples TlsPacketChannel::latency() const {
    std::lock_guard guard(lock_);
    return latency_;
}

void TlsPacketChannel::handshaken(std::error_code error) {
    queue_->assertCurrent();
    if (state_ != State::handshaking) return;
    if (error) {
        finish(stream_->handshakeFailure(error));
        return;
    }
    {
        std::lock_guard guard(lock_);
        peerPublicKey_ = stream_->peerPublicKey();
        peerName_ = stream_->peerName();
    }
    state_ = State::open;
    lastReceived_ = Clock::now();
    writer_->start();
    if (state_ != State::open) return;
    scheduleReadCheck(options_.readTimeout);
    sendPing();
    if (state_ != State::open) return;
    const auto events = this->events();
    if (events->ready) events->ready();
    // Reading may deliver packets at once: only after `ready`.
    if (state_ != State::closed) readNext();
}

void TlsPacketChannel::readNext() {
    if (readingPaused_ && state_ == State::open) {
        readParked_ = true;
        return;
    }
    // What is already there is read in place, up to a bound, so the queue's other work (the
    // writer, the timers) still gets its turn when the peer sends without pause.
    std::size_t inPlace = 0;
    while (inPlace < maximumReadInPlace) {
        std::error_code error;
        const std::size_t count = stream_->readNow(decoder_.writableSpace(), error);
        if (error) return readFailed(error);
        if (count == 0) break;
        inPlace += count;
        if (!received(count)) return;
    }
    stream_->readSome(decoder_.writableSpace(), [self = shared_from_this()](std::error_code error, std::size_t count) {
        self->didRead(error, count);
    });
}

void TlsPacketChannel::setReadingPaused(bool paused) {
    readingPaused_ = paused;
    if (paused) return;
    // The quiet while paused was this side's doing.
    lastReceived_ = Clock::now();
    if (state_ != State::closed && std::exchange(readParked_, false)) readNext();
}

void TlsPacketChannel::didRead(std::error_code error, std::size_t count) {
    queue_->assertCurrent();
    if (state_ == State::closed) return;
    if (error) return readFailed(error);
    if (received(count)) readNext();
}

void TlsPacketChannel::readFailed(std::error_code error) {
    // A clean end from the peer (close_notify or end of stream) is a normal close.
    if (error == asio::error::eof || state_ == State::closing) {
        finish(state_ == State::closing ? closeError_ : std::nullopt);
    } else {
        finish(error.message());
    }
}

bool TlsPacketChannel::received(std::size_t count) {
    const auto now = Clock::now();
    lastReceived_ = now;
    std::optional<WirePacket> packet;
    try {
        packet = decoder_.commit(count);
    } catch (const TessaloyCore::WireError& wireError) {
        finish(std::string(RefusalReason::badHeaderPrefix) + wireError.caseName());
        return false;
    }
    if (!packet) return true;
    if (!budget_.admit(now)) {
        finish(std::string(RefusalReason::receiveBudgetExceeded));
        return false;
    }
    // Keeps the channel alive through the events, which may drop the last outside reference.
    const auto self = shared_from_this();
    handle(std::move(*packet));
    return state_ != State::closed;
}

void TlsPacketChannel::handle(WirePacket packet) {
    if (packet.kind() == WirePacket::Kind::ping) {
        TessaloyCore::Ping ping;
        try {
            ping = TessaloyCore::Ping::decode(packet);
        } catch (const TessaloyCore::Ping::Error&) {
            return;
        }
        if (!ping.isPong) {
            if (state_ == State::open) writer_->sendDirect(ping.pong().packet());
            return;
        }
        for (auto it = pingsInFlight_.begin(); it != pingsInFlight_.end(); ++it) {
            if (it->first != ping.token) continue;
            const double seconds = std::chrono::duration<double>(Clock::now() - it->second).count();
            pingsInFlight_.erase(it);
            std::lock_guard guard(lock_);
            latency_.add(seconds);
            break;
        }
        return;
    }
    if (state_ != State::open) return;
    const auto events = this->events();
    if (events->packet) events->packet(std::move(packet));
}

void TlsPacketChannel::sendPing() {
    if (state_ != State::open) return;
    const std::uint64_t token = nextPingToken_++;
    pingsInFlight_.emplace_back(token, Clock::now());
    if (pingsInFlight_.size() > maximumPingsInFlight) pingsInFlight_.pop_front();
    writer_->sendDirect(TessaloyCore::Ping{.isPong = false, .token = token}.packet());
    schedulePing();
}

void TlsPacketChannel::schedulePing() {
    if (state_ != State::open) return;
    pingTimer_.expires_after(options_.pingInterval);
    pingTimer_.async_wait([self = shared_from_this()](std::error_code error) {
        if (!error) self->sendPing();
    });
}

void TlsPacketChannel::scheduleReadCheck(Clock::duration after) {
    readTimer_.expires_after(after);
    readTimer_.async_wait([self = shared_from_this()](std::error_code error) {
        if (error || self->state_ == State::closed) return;
        const auto quiet = self->readingPaused_ ? Clock::duration() : Clock::now() - self->lastReceived_;
        if (quiet >= self->options_.readTimeout) {
            self->finish(readTimeoutText(self->options_.readTimeout));
            return;
        }
        self->scheduleReadCheck(self->options_.readTimeout - quiet);
    });
}

void TlsPacketChannel::beginClose(std::optional<std::string> error) {
    queue_->assertCurrent();
    if (state_ == State::closing || state_ == State::closed) return;
    if (state_ != State::open) {
        finish(std::move(error));
        return;
    }
    state_ = State::closing;
    closeError_ = std::move(error);
    pingTimer_.cancel();
    writer_->finish();
    // The peer's close comes through the reads.
    if (state_ == State::closing && std::exchange(readParked_, false)) readNext();
}

void TlsPacketChannel::flushed() {
    queue_->assertCurrent();
    if (state_ != State::closing) return;
    graceTimer_.expires_after(options_.closeGrace);
    graceTimer_.async_wait([self = shared_from_this()](std::error_code error) {
        if (!error) self->finish(self->closeError_);
    });
    // close_notify out; the peer's own arrives through the reads (end of stream), or the grace
    // period ends the wait.
    stream_->shutdown([self = shared_from_this()](std::error_code error) {
        if (error) self->finish(self->closeError_);
    });
}

void TlsPacketChannel::finish(std::optional<std::string> error) {
    queue_->assertCurrent();
    if (state_ == State::closed) return;
    state_ = State::closed;
    closeRequested_.store(true);
    pingTimer_.cancel();
    readTimer_.cancel();
    graceTimer_.cancel();
    stream_->close();
    // The writer and its packet source go now; this may be inside one of the writer's callbacks,
    // which it allows.
    writer_.reset();
    pingsInFlight_.clear();
    std::shared_ptr<const Events> events;
    {
        std::lock_guard guard(lock_);
        events = std::exchange(events_, std::make_shared<const Events>());
    }
    if (events->closed) events->closed(error);
}

} // namespace TessaloyNet
