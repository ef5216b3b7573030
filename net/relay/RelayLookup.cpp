#include "net/relay/RelayLookup.h"

#include "base/SerialQueue.h"
#include "connectwire/CandidateList.h"
#include "connectwire/DataReply.h"
#include "net/relay/MeetingIdentity.h"
#include "net/relay/RelayRefusal.h"

#include <asio/connect.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>

#include <array>
#include <cmath>
#include <system_error>

namespace TessaloyNet::RelayLookup {

using TessaloyCore::Bytes;
using namespace TessaloyConnectWire;
using asio::ip::tcp;

const char* nameOf(Problem problem) noexcept { return problem == Problem::timedOut ? "timedOut" : "unexpected"; }

const char* descriptionOf(Problem problem) noexcept {
    return problem == Problem::timedOut ? "The relay did not answer in time."
                                        : "The relay closed the connection before answering.";
}

namespace {

constexpr std::size_t readChunk = 2048;

struct Lookup : std::enable_shared_from_this<Lookup> {
    TessaloyBase::SerialQueue queue{"dev.tessaloy.relay-lookup"};
    tcp::resolver resolver{queue.executor()};
    tcp::socket socket{queue.executor()};
    Bytes hello;
    Bytes buffer;
    std::array<std::uint8_t, readChunk> space{};
    std::vector<TessaloyBase::ScheduledCall> timers;
    Handler done;
    bool connected = false;

    // Only the first outcome counts.
    void finish(std::vector<std::string> candidates, std::exception_ptr error) {
        if (!done) return;
        Handler taken = std::move(done);
        done = nullptr;
        timers.clear();
        resolver.cancel();
        std::error_code ignored;
        socket.close(ignored);
        taken(std::move(candidates), std::move(error));
    }
    void fail(std::exception_ptr error) { finish({}, std::move(error)); }
    void fail(std::error_code error) { fail(std::make_exception_ptr(std::system_error(error))); }

    void start(const RelayEndpoint& relay, TessaloyBase::QueueClock& clock,
               TessaloyBase::QueueClock::Duration timeout) {
        const std::weak_ptr<Lookup> weak = weak_from_this();
        // A time-out under a second has no connect time-out of its own, not a zero one.
        if (const double whole = std::floor(timeout.count()); whole >= 1) {
            timers.push_back(clock.after(queue, TessaloyBase::QueueClock::Duration(whole), [weak] {
                if (auto lookup = weak.lock(); lookup && !lookup->connected) {
                    lookup->fail(std::make_error_code(std::errc::timed_out));
                }
            }));
        }
        timers.push_back(clock.after(queue, timeout, [weak] {
            if (auto lookup = weak.lock()) lookup->fail(std::make_exception_ptr(Failure(Problem::timedOut)));
        }));
        resolver.async_resolve(
            relay.host, std::to_string(relay.effectivePort()),
            [self = shared_from_this()](std::error_code error, const tcp::resolver::results_type& to) {
                if (!self->done) return;
                if (error) return self->fail(error);
                self->connect(to);
            });
    }

    void connect(const tcp::resolver::results_type& to) {
        asio::async_connect(socket, to, [self = shared_from_this()](std::error_code error, const tcp::endpoint&) {
            if (!self->done) return;
            if (error) return self->fail(error);
            self->connected = true;
            asio::async_write(self->socket, asio::buffer(self->hello), [self](std::error_code failure, std::size_t) {
                if (failure) self->fail(failure);
            });
            self->receive();
        });
    }

    void receive() {
        socket.async_read_some(
            asio::buffer(space), [self = shared_from_this()](std::error_code error, std::size_t count) {
                if (!self->done) return;
                self->buffer.insert(self->buffer.end(), self->space.begin(), self->space.begin() + count);
                if (self->decided()) return;
                if (error == asio::error::eof) return self->fail(std::make_exception_ptr(Failure(Problem::unexpected)));
                if (error) return self->fail(error);
                self->receive();
            });
    }

    // Whether the buffer holds the whole answer, which then finishes the lookup.
    bool decided() {
        if (buffer.empty()) return false;
        if (buffer[0] != static_cast<std::uint8_t>(DataReply::candidates)) {
            fail(std::make_exception_ptr(RelayRefusal::fromReplyByte(buffer[0])));
            return true;
        }
        try {
            auto list = CandidateList::decode(TessaloyCore::ByteView(buffer).subspan(1));
            if (!list) return false;
            finish(std::move(list->value), nullptr);
        } catch (...) {
            fail(std::current_exception());
        }
        return true;
    }
};

} // namespace

void candidates(const RelayEndpoint& relay, TessaloyCore::ByteView meetingID,
                TessaloyBase::QueueClock::Duration timeout, Handler done,
                std::shared_ptr<TessaloyBase::QueueClock> clock) {
    if (!clock) clock = TessaloyBase::sharedSteadyQueueClock();
    auto lookup = std::make_shared<Lookup>();
    const auto hello =
        MeetingIdentity::hello(ConnectRole::phone, ConnectChannel::lookup, meetingID, std::chrono::system_clock::now());
    lookup->hello = MeetingIdentity::seal(hello, relay.helloKey).encoded();
    lookup->done = std::move(done);
    lookup->queue.async([lookup, relay, clock, timeout] { lookup->start(relay, *clock, timeout); });
}

} // namespace TessaloyNet::RelayLookup
