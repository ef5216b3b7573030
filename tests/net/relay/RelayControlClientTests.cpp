#include "net/relay/RelayControlClient.h"

#include "net/channel/P256PrivateKey.h"

#include "tests/support/ManualQueueClock.h"
#include "tests/support/TestRelay.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace TessaloyNet;
using namespace TessaloyConnectWire;
using TessaloyCore::Bytes;
using Heard = Testing::TestRelay::Heard;
using State = RelayControlClient::State;

// What the client reported, in order.
class Reports {
public:
    void attach(RelayControlClient& client) {
        client.setOnState([this](const State& state) {
            {
                const std::lock_guard lock(mutex_);
                states_.push_back(state);
            }
            changed_.notify_all();
        });
        client.setOnIncoming([this](Bytes session, Bytes meeting, ConnectChannel channel) {
            {
                const std::lock_guard lock(mutex_);
                calls_.push_back({std::move(session), std::move(meeting), channel});
            }
            changed_.notify_all();
        });
    }
    // Waits until the `count`-th report (1-based) exists and returns it.
    std::optional<State> state(std::size_t count) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(10), [&] { return states_.size() >= count; })) return {};
        return states_[count - 1];
    }
    std::size_t stateCount() {
        const std::lock_guard lock(mutex_);
        return states_.size();
    }
    std::size_t callsAfter(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10), [&] { return calls_.size() >= count; });
        return calls_.size();
    }
    ControlMessage::Incoming call(std::size_t index) {
        const std::lock_guard lock(mutex_);
        return calls_.at(index);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<State> states_;
    std::vector<ControlMessage::Incoming> calls_;
};

const State connecting{State::Kind::connecting, {}};
const State online{State::Kind::online, {}};

template <typename Case>
std::size_t countOf(const Heard& heard) {
    return static_cast<std::size_t>(std::count_if(heard.controlMessages.begin(), heard.controlMessages.end(),
                                                  [](const ControlMessage& m) { return m.as<Case>() != nullptr; }));
}

template <typename Case>
const Case* lastOf(const Heard& heard) {
    for (auto it = heard.controlMessages.rbegin(); it != heard.controlMessages.rend(); ++it) {
        if (const auto* found = it->as<Case>()) return found;
    }
    return nullptr;
}

class RelayControlClientTest : public testing::Test {
protected:
    void startClient(const RelayEndpoint& endpoint, std::vector<Bytes> ids) {
        client = RelayControlClient::create(endpoint, clock);
        reports.attach(*client);
        client->start(std::move(ids));
    }
    void TearDown() override {
        if (client) client->stop();
    }

    Testing::TestRelay relay;
    std::shared_ptr<Testing::ManualQueueClock> clock = std::make_shared<Testing::ManualQueueClock>();
    Reports reports;
    std::shared_ptr<RelayControlClient> client;
};

TEST_F(RelayControlClientTest, RegistersPublishesPingsAndHearsCalls) {
    std::vector<Bytes> ids;
    for (std::uint8_t index = 0; index < 70; ++index) ids.push_back(Bytes(32, index));
    startClient(relay.endpoint(), ids);
    EXPECT_EQ(reports.state(1), connecting);
    EXPECT_EQ(reports.state(2), online);
    ASSERT_TRUE(relay.waitUntil([](const Heard& h) { return countOf<ControlMessage::Candidates>(h) == 1; }));
    EXPECT_EQ(lastOf<ControlMessage::Register>(relay.heard())->meetingIDs,
              std::vector<Bytes>(ids.begin(), ids.begin() + 64));

    std::vector<std::string> nine;
    for (int index = 0; index < 9; ++index) nine.push_back("127.0.0." + std::to_string(index + 1) + ":55801");
    client->updateCandidates(nine);
    client->updateCandidates(nine);
    std::vector<std::string> reordered = nine;
    std::swap(reordered[0], reordered[1]);
    client->updateCandidates(reordered);
    client->start({ids[3]});
    ASSERT_TRUE(relay.waitUntil([](const Heard& h) { return countOf<ControlMessage::Register>(h) == 2; }));
    const Heard heard = relay.heard();
    EXPECT_EQ(countOf<ControlMessage::Candidates>(heard), 3u);
    EXPECT_EQ(lastOf<ControlMessage::Candidates>(heard)->candidates,
              std::vector<std::string>(reordered.begin(), reordered.begin() + 8));
    EXPECT_EQ(heard.controlConnections, 1u);

    ASSERT_TRUE(clock->fire(25));
    ASSERT_TRUE(relay.waitUntil([](const Heard& h) { return countOf<ControlMessage::Ping>(h) == 1; }));
    EXPECT_TRUE(clock->pending(25));

    // One call split over two writes, then a refusal, an unknown frame and a second call at once.
    const Bytes first =
        ControlMessage(ControlMessage::Incoming{Bytes(16, 1), ids[3], ConnectChannel::control}).encoded();
    relay.sendOnControl(Bytes(first.begin(), first.begin() + 20));
    Bytes rest(first.begin() + 20, first.end());
    for (const ControlMessage& more :
         {ControlMessage(ControlMessage::Refused{3}), ControlMessage(ControlMessage::Unknown{77}),
          ControlMessage(ControlMessage::Incoming{Bytes(16, 2), ids[3], ConnectChannel::media})}) {
        const Bytes frame = more.encoded();
        rest.insert(rest.end(), frame.begin(), frame.end());
    }
    relay.sendOnControl(rest);
    ASSERT_EQ(reports.callsAfter(2), 2u);
    EXPECT_EQ(reports.call(0), (ControlMessage::Incoming{Bytes(16, 1), ids[3], ConnectChannel::control}));
    EXPECT_EQ(reports.call(1).sessionID, Bytes(16, 2));
    EXPECT_EQ(reports.stateCount(), 2u);
}

TEST_F(RelayControlClientTest, SendsWhatChangedDuringTheHandshakeOnceItIsDone) {
    relay.holdHandshakes(true);
    startClient(relay.endpoint(), {Bytes(32, 5)});
    // The relay has the client's hello, so the handshake is under way.
    ASSERT_TRUE(relay.waitUntil([](const Heard& h) { return h.controlConnections == 1; }));
    client->updateCandidates({"127.0.0.1:4000"});
    client->update({Bytes(32, 6)});
    relay.holdHandshakes(false);
    EXPECT_EQ(reports.state(2), online);
    ASSERT_TRUE(relay.waitUntil([](const Heard& h) { return h.controlMessages.size() == 2; }));
    const Heard heard = relay.heard();
    ASSERT_TRUE(heard.controlMessages[0].as<ControlMessage::Register>());
    EXPECT_EQ(heard.controlMessages[0].as<ControlMessage::Register>()->meetingIDs, std::vector<Bytes>{Bytes(32, 6)});
    ASSERT_TRUE(heard.controlMessages[1].as<ControlMessage::Candidates>());
    EXPECT_EQ(heard.controlMessages[1].as<ControlMessage::Candidates>()->candidates,
              std::vector<std::string>{"127.0.0.1:4000"});
    EXPECT_EQ(heard.controlConnections, 1u);
}

TEST_F(RelayControlClientTest, ReconnectsWithBackOffAfterEveryFailure) {
    startClient(relay.endpoint(), {Bytes(32, 9)});
    ASSERT_EQ(reports.state(2), online);
    ASSERT_TRUE(relay.waitUntil([](const Heard& h) { return countOf<ControlMessage::Register>(h) == 1; }));

    relay.sendOnControl({0x00, 0x00});
    EXPECT_EQ(reports.state(3), State::offline("malformed control message"));
    ASSERT_TRUE(clock->fire(2));
    EXPECT_EQ(reports.state(4), connecting);
    EXPECT_EQ(reports.state(5), online);
    ASSERT_TRUE(relay.waitUntil([](const Heard& h) { return countOf<ControlMessage::Register>(h) == 2; }));

    // A relay that goes away (closed or reset), then refused connections back off up to a minute.
    relay.stop();
    ASSERT_TRUE(reports.state(6));
    EXPECT_EQ(reports.state(6)->kind, State::Kind::offline);
    std::size_t count = 6;
    for (const double delay : {2.0, 4.0, 8.0, 16.0, 32.0, 60.0}) {
        ASSERT_TRUE(clock->fire(delay)) << delay;
        EXPECT_EQ(reports.state(++count), connecting);
        ASSERT_TRUE(reports.state(++count));
        EXPECT_EQ(reports.state(count)->kind, State::Kind::offline);
    }
    relay.start();
    ASSERT_TRUE(clock->fire(60));
    EXPECT_EQ(reports.state(count + 2), online);
    EXPECT_TRUE(relay.waitUntil([](const Heard& h) { return countOf<ControlMessage::Register>(h) == 3; }));
}

TEST_F(RelayControlClientTest, NeverTrustsARelayWithAnotherKeyAndStopsForGood) {
    RelayEndpoint impostor = relay.endpoint();
    impostor.tlsKey = P256PrivateKey::generate().publicKey().x963Representation();
    startClient(impostor, {Bytes(32, 1)});
    EXPECT_EQ(reports.state(1), connecting);
    ASSERT_TRUE(reports.state(2));
    EXPECT_EQ(reports.state(2)->kind, State::Kind::offline);
    ASSERT_TRUE(clock->fire(2));
    EXPECT_EQ(reports.state(3), connecting);
    ASSERT_TRUE(reports.state(4));
    EXPECT_EQ(reports.state(4)->kind, State::Kind::offline);
    EXPECT_TRUE(relay.heard().controlMessages.empty());

    client->stop();
    ASSERT_TRUE(clock->fire(4));
    const std::size_t connections = relay.heard().controlConnections;
    client->stop(); // runs after the fired attempt on the queue
    client->update({});
    client = nullptr;
    EXPECT_EQ(reports.stateCount(), 4u);
    EXPECT_EQ(relay.heard().controlConnections, connections);
}

} // namespace
