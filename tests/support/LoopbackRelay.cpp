#include "tests/support/LoopbackRelay.h"

#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <vector>

namespace Testing {

using asio::ip::tcp;

using SegmentSize = asio::detail::socket_option::integer<IPPROTO_TCP, TCP_MAXSEG>;

struct LoopbackRelay::Link {
    explicit Link(const TessaloyBase::SerialQueue::Executor& executor)
        : device(executor), mac(executor), pause(executor) {}

    tcp::socket device;
    tcp::socket mac;
    // Paces the Mac's bytes while the relay is slowed down.
    asio::steady_timer pause;
    std::array<std::uint8_t, 16 * 1024> towardsMac{};
    std::array<std::uint8_t, 16 * 1024> towardsDevice{};
    // The Mac's side waits until the relay passes its bytes again.
    bool parked = false;

    void close() {
        std::error_code ignored;
        device.close(ignored);
        mac.close(ignored);
        pause.cancel();
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
        link->mac.async_connect(target, [self = shared_from_this(), link](std::error_code failed) {
            if (failed || self->closed) return link->close();
            self->towardsMac(link);
            self->towardsDevice(link);
        });
    }

    void towardsMac(const std::shared_ptr<Link>& link) {
        link->device.async_read_some(asio::buffer(link->towardsMac),
                                     [self = shared_from_this(), link](std::error_code error, std::size_t count) {
                                         self->readFromDevice(link, error, count);
                                     });
    }

    void readFromDevice(const std::shared_ptr<Link>& link, std::error_code error, std::size_t count) {
        if (error) return ended(link->mac, error, *link);
        asio::async_write(link->mac, asio::buffer(link->towardsMac.data(), count),
                          [self = shared_from_this(), link](std::error_code failed, std::size_t) {
                              if (failed) return link->close();
                              self->towardsMac(link);
                          });
    }

    void towardsDevice(const std::shared_ptr<Link>& link) {
        if (held) {
            link->parked = true;
            return;
        }
        // Slowed down: a twentieth of a second's worth at a time, then a pause as long as it.
        const std::size_t room = link->towardsDevice.size();
        const std::size_t chunk = rate == 0 ? room : std::clamp<std::size_t>(rate / 20, 1, room);
        link->mac.async_read_some(asio::buffer(link->towardsDevice.data(), chunk),
                                  [self = shared_from_this(), link](std::error_code error, std::size_t count) {
                                      self->readFromMac(link, error, count);
                                  });
    }

    void readFromMac(const std::shared_ptr<Link>& link, std::error_code error, std::size_t count) {
        if (error) return ended(link->device, error, *link);
        asio::async_write(link->device, asio::buffer(link->towardsDevice.data(), count),
                          [self = shared_from_this(), link, count](std::error_code failed, std::size_t) {
                              if (failed) return link->close();
                              self->paced(link, count);
                          });
    }

    void paced(const std::shared_ptr<Link>& link, std::size_t count) {
        if (rate == 0) return towardsDevice(link);
        link->pause.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(static_cast<double>(count) / static_cast<double>(rate))));
        link->pause.async_wait([self = shared_from_this(), link](std::error_code error) {
            if (error || self->closed) return;
            self->towardsDevice(link);
        });
    }

    // One side stopped sending: a clean end is passed on, anything else ends the link.
    static void ended(tcp::socket& other, std::error_code error, Link& link) {
        if (error != asio::error::eof) return link.close();
        std::error_code ignored;
        other.shutdown(tcp::socket::shutdown_send, ignored);
    }

    // Unheld at `bytesPerSecond` (0 for no limit): parked links go on.
    void pass(std::size_t bytesPerSecond) {
        held = false;
        rate = bytesPerSecond;
        for (const auto& link : links) {
            if (!link->parked) continue;
            link->parked = false;
            towardsDevice(link);
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
