#include "tests/app/shell/StreamingSessionFixture.h"

#include "core/SessionMessage.h"

namespace {

using TessaloyCore::SessionMessage;
using Testing::StreamingSessionTest;
using Role = TessaloyCore::ChannelRole;
using Route = Testing::FakePacketChannel::Route;
using PrivacyState = SessionMessage::PrivacyState;

class SessionPrivacyTest : public StreamingSessionTest {
protected:
    // The privacy states the device was told, in order.
    static std::vector<PrivacyState> applied(const Testing::FakePacketChannel& control) {
        std::vector<PrivacyState> states;
        for (const auto& packet : control.sent(Route::direct)) {
            if (packet.kind() != TessaloyCore::WirePacket::Kind::session) continue;
            const SessionMessage message = SessionMessage::decode(packet);
            if (const auto* state = std::get_if<SessionMessage::PrivacyApplied>(&message.value)) {
                states.push_back(state->state);
            }
        }
        return states;
    }
};

TEST_F(SessionPrivacyTest, TheDeviceAndTheLocalStatusLearnWhatIsReallyInForce) {
    struct Row {
        bool hasDisplay;
        bool kernelRefuses;
        bool serverRefuses;
        PrivacyState inForce;
    };
    const PrivacyState both{.blanksScreen = true, .locksLocalInput = true};
    for (const Row& row : std::vector<Row>{{true, true, false, both},
                                           {false, true, true, {.blanksScreen = false, .locksLocalInput = false}},
                                           {true, true, true, {.blanksScreen = true, .locksLocalInput = false}}}) {
        SCOPED_TRACE(std::to_string(row.hasDisplay) + std::to_string(row.kernelRefuses) +
                     std::to_string(row.serverRefuses));
        renew();
        environment.gammaTables.current.clear();
        if (row.hasDisplay) environment.gammaTables.current[1] = {{0.0f, 1.0f}, {0.0f, 1.0f}, {0.0f, 1.0f}};
        environment.localInput.refusals = {row.kernelRefuses ? std::optional<std::string>("no access") : std::nullopt,
                                           row.serverRefuses ? std::optional<std::string>("no XInput") : std::nullopt};
        session->setAllowsRemoteControl(true);
        const auto [media, control] = pairAndApprove(Device{"Ada's iPhone"});
        receive(control, Role::control, SessionMessage{SessionMessage::Privacy{both}}.packet());
        ASSERT_TRUE(until([&, control = control] { return !applied(*control).empty(); }));
        EXPECT_EQ(applied(*control).back(), row.inForce);
        EXPECT_EQ(session->privacy(), row.inForce);

        // The chord at the computer undoes both, and the device is told.
        if (environment.localInput.pressEscapeChord()) {
            ASSERT_TRUE(until([&, control = control] { return applied(*control).back() == PrivacyState{}; }));
            EXPECT_FALSE(environment.localInput.isLocked());
        }
        session->stopSharing(Plovander::StreamingSession::StopReason::userStopped());
        EXPECT_EQ(session->privacy(), PrivacyState{});
    }
}

TEST_F(SessionPrivacyTest, ALockTheServerNoLongerAllowsIsGivenBackAtTheNextRequest) {
    const PrivacyState lockOnly{.blanksScreen = false, .locksLocalInput = true};
    session->setAllowsRemoteControl(true);
    const auto [media, control] = pairAndApprove(Device{"Ada's iPhone"});
    receive(control, Role::control, SessionMessage{SessionMessage::Privacy{lockOnly}}.packet());
    ASSERT_TRUE(until([&, control = control] { return applied(*control) == std::vector{lockOnly}; }));

    environment.localInput.trusted = false;
    receive(control, Role::control, SessionMessage{SessionMessage::Privacy{lockOnly}}.packet());
    ASSERT_TRUE(until([&, control = control] { return applied(*control).size() == 2; }));
    EXPECT_EQ(applied(*control).back(), PrivacyState{});
    EXPECT_FALSE(environment.localInput.isLocked());
}

} // namespace
