#include "tests/support/LoopbackRelay.h"

#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <array>
#include <deque>
#include <vector>

namespace Testing {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

using SegmentSize = asio::detail::socket_option::integer<IPPROTO_TCP, TCP_MAXSEG>;

// One direction of a link: what the relay read from `from` waits out its delay, then goes to `to`,
// in order. It reads again while less than a buffer's worth waits, so a side that stops reading
// holds the other one back.
struct LoopbackRelay::Leg {
    Leg(const TessaloyBase::SerialQueue::Executor& executor, tcp::socket& source, tcp::socket& destination)
        : from(source), to(destination), due(executor) {}

    struct Flight {
        // Empty: the end of the stream.
        std::vector<std::uint8_t> bytes;
        Clock::time_point arrives;
    };

    tcp::socket& from;
    tcp::socket& to;
    std::array<std::uint8_t, 16 * 1024> space{};
    std::deque<Flight> flights;
    std::size_t waiting = 0;
    asio::steady_timer due;
    bool reading = false;
    bool writing = false;
    // `from` sent its end.
    bool ended = false;
};

struct LoopbackRelay::Link {
    explicit Link(const TessaloyBase::SerialQueue::Executor& executor)
        : device(executor),
          mac(executor),
          towardsMac(executor, device, mac),
          towardsDevice(executor, mac, device),
          pause(executor) {}

    tcp::socket device;
    tcp::socket mac;
    Leg towardsMac;
    Leg towardsDevice;
    // Holds the connection to the Mac back for half the round trip, then paces the Mac's bytes
    // while the relay is slowed down.
    asio::steady_timer pause;
    bool connected = false;
    // The Mac's side waits until the relay passes its bytes again.
    bool parked = false;

    void close() {
        std::error_code ignored;
        device.close(ignored);
        mac.close(ignored);
        pause.cancel();
        towardsMac.due.cancel();
        towardsDevice.due.cancel();
    }
};

// Everything the handlers touch; they keep it alive, so the relay may go while they are pending.
// Queue only.
struct LoopbackRelay::State : std::enable_shared_from_this<State> {
    State(const TessaloyBase::SerialQueue::Executor& queue, tcp::endpoint to, const Options& chosen)
        : executor(queue), target(to), options(chosen), rate(chosen.bytesPerSecond), acceptor(queue) {}

    TessaloyBase::SerialQueue::Executor executor;
    tcp::endpoint target;
    Options options;
    // The Mac's bytes per second; 0 for no limit.
    std::size_t rate;
    tcp::acceptor acceptor;
    bool held = false;
    bool closed = false;
    std::vector<std::shared_ptr<Link>> links;

    Clock::duration oneWay() const { return options.roundTrip / 2; }

    void acceptNext() {
        auto link = std::make_shared<Link>(executor);
        acceptor.async_accept(link->device, [self = shared_from_this(), link](std::error_code error) {
            if (error || self->closed) return;
            self->join(link);
            self->acceptNext();
        });
    }

    void join(const std::shared_ptr<Link>& link) {
        std::error_code error;
        link->mac.open(target.protocol(), error);
        if (!error) link->mac.set_option(tcp::socket::receive_buffer_size(options.receiveBuffer), error);
        if (!error) link->mac.set_option(SegmentSize(options.segmentSize), error);
        if (error) return link->close();
        links.push_back(link);
        read(link, link->towardsMac);
        link->pause.expires_after(oneWay());
        link->pause.async_wait([self = shared_from_this(), link](std::error_code waited) {
            if (waited || self->closed) return;
            link->mac.async_connect(self->target, [self, link](std::error_code failed) {
                if (failed || self->closed) return link->close();
                link->connected = true;
                self->send(link, link->towardsMac);
                self->read(link, link->towardsDevice);
            });
        });
    }

    void read(const std::shared_ptr<Link>& link, Leg& leg) {
        if (leg.reading || leg.ended || leg.waiting >= leg.space.size()) return;
        const bool fromMac = &leg == &link->towardsDevice;
        if (fromMac && held) {
            link->parked = true;
            return;
        }
        // Slowed down: a twentieth of a second's worth at a time, then a pause as long as it.
        const std::size_t paced = fromMac ? rate : 0;
        const std::size_t chunk =
            paced == 0 ? leg.space.size() : std::clamp<std::size_t>(paced / 20, 1, leg.space.size());
        leg.reading = true;
        leg.from.async_read_some(asio::buffer(leg.space.data(), chunk), [self = shared_from_this(), link, &leg, paced](
                                                                            std::error_code error, std::size_t count) {
            leg.reading = false;
            if (error && error != asio::error::eof) return link->close();
            leg.ended = error == asio::error::eof;
            leg.flights.push_back({{leg.space.begin(), leg.space.begin() + static_cast<std::ptrdiff_t>(count)},
                                   Clock::now() + self->oneWay()});
            leg.waiting += count;
            self->send(link, leg);
            if (leg.ended) return;
            if (paced == 0) return self->read(link, leg);
            self->pace(link, leg, count, paced);
        });
    }

    void pace(const std::shared_ptr<Link>& link, Leg& leg, std::size_t count, std::size_t paced) {
        link->pause.expires_after(std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(count) / static_cast<double>(paced))));
        link->pause.async_wait([self = shared_from_this(), link, &leg](std::error_code error) {
            if (error || self->closed) return;
            self->read(link, leg);
        });
    }

    void send(const std::shared_ptr<Link>& link, Leg& leg) {
        if (leg.writing || leg.flights.empty() || !link->connected) return;
        leg.writing = true;
        leg.due.expires_at(leg.flights.front().arrives);
        leg.due.async_wait([self = shared_from_this(), link, &leg](std::error_code waited) {
            if (waited || self->closed) return;
            auto& bytes = leg.flights.front().bytes;
            if (bytes.empty()) {
                // A clean end is passed on.
                std::error_code ignored;
                leg.to.shutdown(tcp::socket::shutdown_send, ignored);
                return;
            }
            asio::async_write(leg.to, asio::buffer(bytes), [self, link, &leg](std::error_code failed, std::size_t) {
                if (failed) return link->close();
                leg.writing = false;
                leg.waiting -= leg.flights.front().bytes.size();
                leg.flights.pop_front();
                self->send(link, leg);
                self->read(link, leg);
            });
        });
    }

    // Unheld at `bytesPerSecond` (0 for no limit): parked links go on.
    void pass(std::size_t bytesPerSecond) {
        held = false;
        rate = bytesPerSecond;
        for (const auto& link : links) {
            if (!link->parked) continue;
            link->parked = false;
            read(link, link->towardsDevice);
        }
    }

    void close() {
        closed = true;
        std::error_code ignored;
        acceptor.close(ignored);
        for (const auto& link : links) link->close();
        links.clear();
    }
};

LoopbackRelay::LoopbackRelay(tcp::endpoint target) : LoopbackRelay(target, Options{}) {}

LoopbackRelay::LoopbackRelay(tcp::endpoint target, const Options& options)
    : state_(std::make_shared<State>(queue_.executor(), target, options)) {
    endpoint_ = queue_.sync([&] {
        const tcp::endpoint local(asio::ip::make_address("127.0.0.1"), 0);
        state_->acceptor.open(local.protocol());
        state_->acceptor.bind(local);
        state_->acceptor.listen();
        state_->acceptNext();
        return state_->acceptor.local_endpoint();
    });
}

LoopbackRelay::~LoopbackRelay() {
    queue_.sync([state = state_] { state->close(); });
}

void LoopbackRelay::hold() {
    queue_.sync([state = state_] { state->held = true; });
}

void LoopbackRelay::release() {
    queue_.sync([state = state_] { state->pass(0); });
}

} // namespace Testing
