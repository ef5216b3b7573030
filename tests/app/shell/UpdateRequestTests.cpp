#include "app/shell/StreamingSession.h"
#include "core/SessionMessage.h"
#include "tests/app/shell/StreamingSessionFixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using TessaloyCore::SessionMessage;
using TessaloyCore::UpdateStatus;
using Testing::StreamingSessionTest;
using Route = Testing::FakePacketChannel::Route;

// The update states sent on the channel, in order.
std::vector<UpdateStatus::State> statesOn(const Testing::FakePacketChannel& channel) {
    std::vector<UpdateStatus::State> states;
    for (const auto& packet : channel.sent(Route::direct)) {
        if (packet.kind() != TessaloyCore::WirePacket::Kind::session) continue;
        const auto message = SessionMessage::decode(packet);
        if (const auto* status = std::get_if<UpdateStatus>(&message.value)) states.push_back(status->state);
    }
    return states;
}

TEST_F(StreamingSessionTest, TheDevicesUpdateRequestIsAnsweredOnItsOwnChannel) {
    const auto [media, control] = pairAndApprove(Device{"Ada's iPhone"});
    newTrace();
    // A copy run from its build folder has nothing to install: the flow ends as up to date.
    receive(control, Role::control, SessionMessage{SessionMessage::UpdateMac{}}.packet());
    ASSERT_TRUE(until([&, control = control] { return !statesOn(*control).empty(); }));
    EXPECT_EQ(statesOn(*control), std::vector{UpdateStatus::State::upToDate});
    const auto trace = newTrace();
    EXPECT_NE(std::find(trace.begin(), trace.end(), "update requested by the device"), trace.end());

    session->setAllowsRemoteControl(false);
    receive(control, Role::control, SessionMessage{SessionMessage::UpdateMac{}}.packet());
    ASSERT_TRUE(until([&, control = control] { return statesOn(*control).size() == 2; }));
    EXPECT_EQ(statesOn(*control).back(), UpdateStatus::State::notAllowed);
}

} // namespace
