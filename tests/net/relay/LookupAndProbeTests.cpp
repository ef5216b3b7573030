#include "connectwire/ConnectWireError.h"
#include "net/relay/CandidateAddress.h"
#include "net/relay/DirectProbe.h"
#include "net/relay/RelayControlClient.h"
#include "net/relay/RelayLookup.h"
#include "net/relay/RelayRefusal.h"
#include "tests/support/ManualQueueClock.h"
#include "tests/support/TestRelay.h"

#include <gtest/gtest.h>

#include <asio/write.hpp>

#include <algorithm>
#include <future>

namespace {

using namespace TessaloyNet;
using asio::ip::tcp;
using TessaloyCore::Bytes;

struct LookupResult {
    std::vector<std::string> candidates;
    std::exception_ptr error;
};

LookupResult lookUp(const RelayEndpoint& relay, const Bytes& meetingID,
                    std::shared_ptr<TessaloyBase::QueueClock> clock = nullptr, std::function<void()> meanwhile = {}) {
    std::promise<LookupResult> result;
    RelayLookup::candidates(
        relay, meetingID, TessaloyBase::QueueClock::Duration(5),
        [&](auto candidates, auto error) {
            result.set_value({std::move(candidates), error});
        },
        clock);
    if (meanwhile) meanwhile();
    auto future = result.get_future();
    EXPECT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    return future.get();
}

template <typename Error>
std::optional<Error> errorOf(const LookupResult& result) {
    try {
        if (result.error) std::rethrow_exception(result.error);
    } catch (const Error& error) {
        return error;
    } catch (...) {
    }
    return std::nullopt;
}

// A relay that answers every data connection with the given chunks, then closes.
class ScriptedRelay {
public:
    explicit ScriptedRelay(std::vector<Bytes> chunks) : script_(std::make_shared<Script>(std::move(chunks))) {
        script_->acceptor.async_accept([script = script_](std::error_code error, tcp::socket socket) {
            // An accept that completed just before the relay closed finds the acceptor shut.
            if (error || !script->acceptor.is_open()) return;
            script->socket = std::move(socket);
            script->write(0);
        });
    }
    ~ScriptedRelay() {
        script_->queue.sync([&] {
            std::error_code ignored;
            script_->acceptor.close(ignored);
            script_->socket.close(ignored);
        });
    }
    RelayEndpoint endpoint(const RelayEndpoint& keys) const {
        return {"127.0.0.1", script_->acceptor.local_endpoint().port(), keys.helloKey, keys.tlsKey};
    }

private:
    // Shared with the pending handlers, which may still run once the relay is gone.
    struct Script : std::enable_shared_from_this<Script> {
        explicit Script(std::vector<Bytes> script) : chunks(std::move(script)) {}

        void write(std::size_t index) {
            if (index == chunks.size()) {
                std::error_code ignored;
                socket.shutdown(tcp::socket::shutdown_send, ignored);
                return;
            }
            asio::async_write(socket, asio::buffer(chunks[index]),
                              [self = shared_from_this(), index](std::error_code error, std::size_t) {
                                  if (!error) self->write(index + 1);
                              });
        }

        std::vector<Bytes> chunks;
        TessaloyBase::SerialQueue queue{"scripted-relay"};
        tcp::acceptor acceptor{queue.executor(), {asio::ip::address_v4::loopback(), 0}};
        tcp::socket socket{queue.executor()};
    };
    std::shared_ptr<Script> script_;
};

TEST(RelayLookup, ReadsTheRelaysAnswerHoweverItArrives) {
    Testing::TestRelay keys;
    using E = TessaloyConnectWire::ConnectWireError;
    const Bytes nine{'[', ':', ':', '1', ']', ':', '9'};
    Bytes second{1, 7};
    second.insert(second.end(), nine.begin(), nine.end());

    const auto scripted = [&](std::vector<Bytes> chunks) {
        return lookUp(ScriptedRelay(std::move(chunks)).endpoint(keys.endpoint()), Bytes(32, 1));
    };

    EXPECT_EQ(scripted({{8}, second}).candidates, std::vector<std::string>{"[::1]:9"});
    const auto empty = scripted({{8, 0}});
    EXPECT_TRUE(empty.candidates.empty());
    EXPECT_FALSE(empty.error);
    EXPECT_EQ(errorOf<RelayRefusal>(scripted({Bytes{1}})), RelayRefusal::macNotOnline);
    EXPECT_EQ(errorOf<RelayRefusal>(scripted({Bytes{0}})), (RelayRefusal{RelayRefusal::unknown, 0}));
    EXPECT_EQ(errorOf<E>(scripted({{8, 9}})), E(E::tooLarge));
    const auto cut = errorOf<RelayLookup::Failure>(scripted({{8, 1, 5}}));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->value(), RelayLookup::Problem::unexpected);
}

TEST(RelayLookup, FindsTheCandidatesARegisteredMacPublished) {
    Testing::TestRelay relay;
    const Bytes meetingID(32, 0x33);
    const auto client = RelayControlClient::create(relay.endpoint());
    client->start({meetingID});
    client->updateCandidates({"[::1]:4000", "127.0.0.1:4001"});
    ASSERT_TRUE(relay.waitUntil([](const auto& heard) {
        return std::any_of(heard.controlMessages.begin(), heard.controlMessages.end(), [](const auto& message) {
            const auto* list = message.template as<TessaloyConnectWire::ControlMessage::Candidates>();
            return list && list->candidates.size() == 2;
        });
    }));
    EXPECT_EQ(lookUp(relay.endpoint(), meetingID).candidates,
              (std::vector<std::string>{"[::1]:4000", "127.0.0.1:4001"}));
    EXPECT_EQ(errorOf<RelayRefusal>(lookUp(relay.endpoint(), Bytes(32, 0x34))), RelayRefusal::macNotOnline);

    relay.holdReplies(true);
    const auto clock = std::make_shared<Testing::ManualQueueClock>();
    const std::size_t hellos = relay.heard().hellos.size();
    // Once the relay holds the hello, the connect time-out finds the lookup connected.
    const auto silent = lookUp(relay.endpoint(), meetingID, clock, [&] {
        ASSERT_TRUE(relay.waitUntil([&](const auto& heard) { return heard.hellos.size() > hellos; }));
        ASSERT_TRUE(clock->fire(5));
        ASSERT_TRUE(clock->fire(5));
    });
    const auto failure = errorOf<RelayLookup::Failure>(silent);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->value(), RelayLookup::Problem::timedOut);
    client->stop();
}

std::optional<std::string> probe(const std::vector<std::string>& candidates) {
    std::promise<std::optional<std::string>> result;
    DirectProbe::firstReachable(
        candidates, TessaloyBase::QueueClock::Duration(2.5),
        [&](std::optional<std::string> winner) { result.set_value(std::move(winner)); },
        std::make_shared<Testing::ManualQueueClock>());
    auto future = result.get_future();
    EXPECT_EQ(future.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    return future.get();
}

TEST(DirectProbe, ReportsTheFirstCandidateThatAnswers) {
    asio::io_context context;
    tcp::acceptor open(context, {asio::ip::address_v6::loopback(), 0});
    const std::uint16_t closedPort = [] {
        asio::io_context other;
        return tcp::acceptor(other, {asio::ip::address_v6::loopback(), 0}).local_endpoint().port();
    }();
    const std::string reachable = "[::1]:" + std::to_string(open.local_endpoint().port());
    const std::string refused = "127.0.0.1:" + std::to_string(closedPort);

    EXPECT_EQ(probe({refused, reachable}), reachable);
    EXPECT_EQ(probe({refused}), std::nullopt);
    EXPECT_EQ(probe({}), std::nullopt);
    EXPECT_EQ(probe({"not an address", "host.example:1"}), std::nullopt);

    EXPECT_EQ(candidateEndpoint("[::1]"), tcp::endpoint(asio::ip::make_address("::1"), 55801));
    EXPECT_EQ(candidateEndpoint("10.0.0.1:70000"), std::nullopt);
}

} // namespace
