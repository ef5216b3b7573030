#include "net/relay/RelayAnswer.h"

#include "connectwire/ConnectProtocol.h"
#include "net/channel/RandomBytes.h"
#include "net/relay/MeetingIdentity.h"
#include "net/relay/RelayControlClient.h"
#include "tests/support/ManualQueueClock.h"
#include "tests/support/TestRelay.h"

#include <gtest/gtest.h>

#include <asio/read.hpp>
#include <asio/write.hpp>

#include <sys/socket.h>

#include <atomic>
#include <thread>

namespace {

using namespace TessaloyNet;
using namespace TessaloyConnectWire;
using asio::ip::tcp;
using TessaloyCore::Bytes;

template <typename Predicate>
bool eventually(Predicate done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::yield();
    }
    return true;
}

// The outcome of one answer, waited on from the test.
struct Outcome {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<RelayAnswer::Failure> failure;
    std::optional<tcp::endpoint> bridge;

    RelayAnswer::FailureHandler onFailure() {
        return [this](const RelayAnswer::Failure& seen) {
            {
                const std::lock_guard lock(mutex);
                failure = seen;
            }
            changed.notify_all();
        };
    }
    std::optional<RelayAnswer::Failure> awaitFailure() {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return failure.has_value(); });
        return failure;
    }
};

TEST(RelayRefusal, MapsReplyBytesBySymbol) {
    const struct {
        std::uint8_t byte;
        std::optional<RelayRefusal> throughError;
        RelayRefusal fromByte;
    } rows[] = {
        {1, RelayRefusal::macNotOnline, RelayRefusal::macNotOnline},
        {2, RelayRefusal::macDidNotAnswer, RelayRefusal::macDidNotAnswer},
        {4, RelayRefusal::badHello, RelayRefusal::badHello},
        {5, RelayRefusal::badHello, RelayRefusal::staleHello},
        {6, RelayRefusal::unsupportedVersion, RelayRefusal::unsupportedVersion},
        {7, RelayRefusal::busy, RelayRefusal::busy},
        {8, std::nullopt, {RelayRefusal::unknown, 8}},
        {9, RelayRefusal::suspended, RelayRefusal::suspended},
        {200, std::nullopt, {RelayRefusal::unknown, 200}},
    };
    for (const auto& row : rows) {
        const auto error = RelayRefusal::replyError(row.byte);
        ASSERT_TRUE(error);
        EXPECT_EQ(RelayRefusal::fromError(*error), row.throughError) << int(row.byte);
        EXPECT_EQ(RelayRefusal::fromReplyByte(row.byte), row.fromByte) << int(row.byte);
    }
    EXPECT_EQ(RelayRefusal::replyError(0), std::nullopt);
    EXPECT_EQ(RelayRefusal::replyError(8), std::make_error_code(std::errc::connection_refused));
    EXPECT_EQ(RelayRefusal::fromError(std::make_error_code(std::errc::network_down)), std::nullopt);
}

TEST(RelayAnswer, EndsAnAttemptThatTheRelayNeverAnswersOrRefuses) {
    Testing::TestRelay relay;
    const auto clock = std::make_shared<Testing::ManualQueueClock>();

    relay.holdReplies(true);
    Outcome stalled;
    (void)RelayAnswer::answer(relay.endpoint(), randomBytes(16), ConnectChannel::media, 1, stalled.onFailure(), {},
                              clock);
    ASSERT_TRUE(relay.waitUntil([](const auto& heard) { return heard.hellos.size() == 1; }));
    ASSERT_TRUE(clock->fire(60));
    const auto silence = stalled.awaitFailure();
    ASSERT_TRUE(silence);
    EXPECT_EQ(silence->refusal(), std::nullopt);
    EXPECT_TRUE(eventually([] { return RelayAnswer::openAnswers() == 0; }));

    relay.holdReplies(false);
    Outcome refused;
    (void)RelayAnswer::answer(relay.endpoint(), randomBytes(16), ConnectChannel::media, 1, refused.onFailure(), {},
                              clock);
    const auto unknownCall = refused.awaitFailure();
    ASSERT_TRUE(unknownCall);
    EXPECT_EQ(unknownCall->refusal(), RelayRefusal::badHello);
    EXPECT_TRUE(eventually([] { return RelayAnswer::openAnswers() == 0; }));

    RelayEndpoint badKey = relay.endpoint();
    badKey.helloKey[64] ^= 1;
    EXPECT_ANY_THROW((void)RelayAnswer::answer(badKey, randomBytes(16), ConnectChannel::media, 1, {}, {}, clock));
    EXPECT_EQ(RelayAnswer::openAnswers(), 0u);
}

// A listener stand-in on [::1] that echoes what it receives.
class EchoListener {
public:
    EchoListener() : acceptor_(queue_.executor(), tcp::endpoint(asio::ip::address_v6::loopback(), 0)) { accept(); }
    ~EchoListener() {
        queue_.sync([this] {
            std::error_code ignored;
            acceptor_.close(ignored);
        });
    }
    std::uint16_t port() const { return acceptor_.local_endpoint().port(); }

private:
    void accept() {
        acceptor_.async_accept([this](std::error_code error, tcp::socket socket) {
            if (error) return;
            echo(std::make_shared<tcp::socket>(std::move(socket)), std::make_shared<std::array<std::uint8_t, 1024>>());
            accept();
        });
    }
    static void echo(std::shared_ptr<tcp::socket> socket, std::shared_ptr<std::array<std::uint8_t, 1024>> space) {
        socket->async_read_some(asio::buffer(*space), [socket, space](std::error_code error, std::size_t count) {
            if (error) return;
            asio::async_write(*socket, asio::buffer(space->data(), count),
                              [socket, space](std::error_code failure, std::size_t) {
                                  if (!failure) echo(socket, space);
                              });
        });
    }

    TessaloyBase::SerialQueue queue_{"echo"};
    tcp::acceptor acceptor_;
};

// A device's relayed data connection made by hand: the sealed hello and its first bytes at once.
Bytes call(const RelayEndpoint& relay, const Bytes& meetingID, const std::string& early, std::size_t expected) {
    asio::io_context context;
    tcp::socket socket(context);
    socket.connect({asio::ip::make_address(relay.host), relay.port});
    const timeval patience{10, 0};
    setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    Bytes out = MeetingIdentity::seal(MeetingIdentity::hello(ConnectRole::phone, ConnectChannel::control, meetingID,
                                                             std::chrono::system_clock::now()),
                                      relay.helloKey)
                    .encoded();
    out.insert(out.end(), early.begin(), early.end());
    asio::write(socket, asio::buffer(out));
    Bytes in(expected);
    std::error_code error;
    const std::size_t count = asio::read(socket, asio::buffer(in), error);
    in.resize(count);
    return in;
}

TEST(RelayAnswer, BridgesACallToTheLocalListenerUntilOneSideEnds) {
    Testing::TestRelay relay;
    EchoListener listener;
    const Bytes meetingID(32, 0x4D);
    std::atomic<std::uint16_t> localPort = listener.port();
    Outcome outcome;
    std::mutex bridgesLock;
    std::vector<tcp::endpoint> bridges;

    const auto client = RelayControlClient::create(relay.endpoint());
    client->setOnIncoming([&, endpoint = relay.endpoint()](Bytes session, Bytes, ConnectChannel channel) {
        (void)RelayAnswer::answer(endpoint, session, channel, localPort, outcome.onFailure(),
                                  [&](const tcp::endpoint& source) {
                                      const std::lock_guard lock(bridgesLock);
                                      bridges.push_back(source);
                                  });
    });
    client->start({meetingID});
    ASSERT_TRUE(relay.waitUntil([](const auto& heard) { return !heard.controlMessages.empty(); }));

    const Bytes echoed = call(relay.endpoint(), meetingID, "first bytes", 12);
    EXPECT_EQ(echoed, (Bytes{0, 'f', 'i', 'r', 's', 't', ' ', 'b', 'y', 't', 'e', 's'}));
    EXPECT_TRUE(eventually([] { return RelayAnswer::openAnswers() == 0; }));
    {
        const std::lock_guard lock(bridgesLock);
        ASSERT_EQ(bridges.size(), 1u);
        EXPECT_TRUE(bridges[0].address().is_loopback());
    }
    EXPECT_FALSE(outcome.failure);

    // Nothing listens on the port any more.
    localPort = [] {
        asio::io_context context;
        tcp::acceptor closed(context, tcp::endpoint(asio::ip::address_v6::loopback(), 0));
        return closed.local_endpoint().port();
    }();
    (void)call(relay.endpoint(), meetingID, "", 1);
    const auto failure = outcome.awaitFailure();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, RelayAnswer::Failure::Kind::listenerUnreachable);
    EXPECT_TRUE(eventually([] { return RelayAnswer::openAnswers() == 0; }));
    client->stop();
}

} // namespace
