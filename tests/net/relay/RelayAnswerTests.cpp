#include "net/relay/RelayAnswer.h"
#include "net/relay/RelayAnswers.h"

#include "connectwire/ConnectProtocol.h"
#include "net/channel/RandomBytes.h"
#include "net/relay/MeetingIdentity.h"
#include "net/relay/RelayControlClient.h"
#include "tests/support/DescriptorShortage.h"
#include "tests/support/ManualQueueClock.h"
#include "tests/support/TestRelay.h"

#include <gtest/gtest.h>

#include <asio/read.hpp>
#include <asio/write.hpp>

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>

namespace {

using namespace TessaloyNet;
using namespace TessaloyConnectWire;
using asio::ip::tcp;
using TessaloyCore::Bytes;

// The failures of answers, waited on from the test.
struct Outcome {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<RelayAnswer::Failure> failures;

    RelayAnswer::FailureHandler onFailure() {
        return [this](const RelayAnswer::Failure& failure) {
            {
                const std::lock_guard lock(mutex);
                failures.push_back(failure);
            }
            changed.notify_all();
        };
    }
    RelayAnswer::EndHandler onEnd() {
        return [report = onFailure()](const std::optional<RelayAnswer::Failure>& failure) {
            if (failure) report(*failure);
        };
    }
    // The `count`th failure.
    std::optional<RelayAnswer::Failure> awaitFailure(std::size_t count = 1) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return failures.size() >= count; });
        return failures.size() >= count ? std::optional(failures[count - 1]) : std::nullopt;
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
    const auto silent = RelayAnswer::prepare(relay.endpoint(), randomBytes(16), ConnectChannel::media, 1, {}, clock);
    silent->start(stalled.onEnd());
    ASSERT_TRUE(relay.waitUntil([](const auto& heard) { return heard.hellos.size() == 1; }));
    ASSERT_TRUE(clock->fire(60));
    const auto silence = stalled.awaitFailure();
    ASSERT_TRUE(silence);
    EXPECT_EQ(silence->refusal(), std::nullopt);

    relay.holdReplies(false);
    Outcome refused;
    const auto unknownCall =
        RelayAnswer::prepare(relay.endpoint(), randomBytes(16), ConnectChannel::media, 1, {}, clock);
    unknownCall->start(refused.onEnd());
    const auto refusal = refused.awaitFailure();
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->refusal(), RelayRefusal::badHello);

    RelayEndpoint badKey = relay.endpoint();
    badKey.helloKey[64] ^= 1;
    EXPECT_ANY_THROW((void)RelayAnswer::prepare(badKey, randomBytes(16), ConnectChannel::media, 1, {}, clock));
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

    // The registration keeps no answer: the answers do, until each ends.
    const auto answers = RelayAnswers::create();
    const auto client = RelayControlClient::create(relay.endpoint());
    client->setOnIncoming([&, endpoint = relay.endpoint()](Bytes session, Bytes, ConnectChannel channel) {
        EXPECT_FALSE(answers->answer(endpoint, session, channel, localPort, outcome.onFailure(),
                                     [&](const tcp::endpoint& source) {
                                         const std::lock_guard lock(bridgesLock);
                                         bridges.push_back(source);
                                     }));
    });
    client->start({meetingID});
    ASSERT_TRUE(relay.waitUntil([](const auto& heard) { return !heard.controlMessages.empty(); }));

    // More calls than there is room for, one after the other: each bridged call ends when the
    // device leaves, and makes room for the next.
    for (std::size_t i = 0; i <= RelayAnswers::maximumInFlight; ++i) {
        const Bytes echoed = call(relay.endpoint(), meetingID, "first bytes", 12);
        EXPECT_EQ(echoed, (Bytes{0, 'f', 'i', 'r', 's', 't', ' ', 'b', 'y', 't', 'e', 's'})) << i;
    }
    {
        const std::lock_guard lock(bridgesLock);
        ASSERT_EQ(bridges.size(), RelayAnswers::maximumInFlight + 1);
        EXPECT_TRUE(bridges[0].address().is_loopback());
    }
    EXPECT_TRUE(outcome.failures.empty());

    // Nothing listens on the port any more.
    localPort = [] {
        asio::io_context context;
        tcp::acceptor closed(context, tcp::endpoint(asio::ip::address_v6::loopback(), 0));
        return closed.local_endpoint().port();
    }();
    // Each failed call makes room for the next too.
    for (std::size_t i = 0; i <= RelayAnswers::maximumInFlight; ++i) (void)call(relay.endpoint(), meetingID, "", 1);
    const auto failure = outcome.awaitFailure(RelayAnswers::maximumInFlight + 1);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->kind, RelayAnswer::Failure::Kind::listenerUnreachable);
    client->stop();
}

// Out of descriptors, a call the relay joined fails alone, and not as an unreachable listener (a
// restart of the listener would not mend it); the next call is bridged.
TEST(RelayAnswer, AShortageOfDescriptorsFailsOnlyTheCallThatMeetsIt) {
    asio::io_context context;
    tcp::acceptor relaySide(context, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    Testing::TestRelay keys;
    RelayEndpoint relay = keys.endpoint();
    relay.port = relaySide.local_endpoint().port();
    EchoListener listener;
    Outcome outcome;
    // An answer, and this Mac's side of its call at the relay once the hello has come.
    const auto joined = [&] {
        auto answer = RelayAnswer::prepare(relay, randomBytes(16), ConnectChannel::media, listener.port());
        answer->start(outcome.onEnd());
        tcp::socket call(context);
        relaySide.accept(call);
        std::array<std::uint8_t, 512> hello{};
        (void)call.read_some(asio::buffer(hello));
        return std::pair{answer, std::move(call)};
    };
    const auto bridged = [&] {
        auto [answer, call] = joined();
        asio::write(call, asio::buffer(Bytes{0, 'h', 'i'}));
        Bytes echoed(2);
        asio::read(call, asio::buffer(echoed));
        return echoed == Bytes{'h', 'i'};
    };

    // Made before any shortage, as the control client's connection makes them, are the resolver's
    // own thread and queue.
    ASSERT_TRUE(bridged());
    {
        auto [answer, call] = joined();
        const Testing::DescriptorShortage shortage;
        asio::write(call, asio::buffer(Bytes{0}));
        const auto failure = outcome.awaitFailure();
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind, RelayAnswer::Failure::Kind::relay);
        EXPECT_EQ(failure->error.value(), EMFILE) << failure->description();
    }
    EXPECT_TRUE(bridged());
    EXPECT_EQ(outcome.failures.size(), 1u);
}

} // namespace
